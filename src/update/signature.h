// Signed control files: the update control file may come with a signature
// file in minisign's format (MVUpdate.dat.minisig), made with the vendor's
// Ed25519 key. An installation pins the vendor's public keys; a control file
// is used only when a pinned key signed it, and only when it is not older
// than one already accepted here (a mirror, the alternate site or anyone
// who can write the server's share could otherwise serve an old signed file
// and hold the installation back for ever).
#ifndef MVUPDATE_UPDATE_SIGNATURE_H_
#define MVUPDATE_UPDATE_SIGNATURE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/run_log.h"
#include "system/failure.h"
#include "system/install_settings.h"
#include "system/settings_store.h"

namespace mv {

// The largest signature file read: minisign's are a few hundred bytes.
inline constexpr int64_t kMaxSignatureBytes = 16 * 1024;

// A minisign public key: the key line of a .pub file is the base64 of the
// algorithm ("Ed"), an 8-byte key id and the 32-byte Ed25519 key.
struct PublicKey {
  std::string id;
  std::string key;
};

// Parses one key line; nothing when it is not a minisign public key.
std::optional<PublicKey> ParsePublicKey(std::string_view line);

// The keys of a registry value holding key lines separated by ";" (blanks
// around them ignored). Entries that are no key are left out and counted.
struct TrustedKeys {
  std::vector<PublicKey> keys;
  int malformed = 0;
};
TrustedKeys ParseTrustedKeys(std::string_view value);

// A minisign signature file: an untrusted comment line; the base64 of the
// algorithm ("Ed": Ed25519 over the file; "ED": over its BLAKE2b-512
// digest), the key id and the 64-byte signature; the trusted comment line;
// the base64 of the global signature over the signature and the trusted
// comment.
struct SignatureFile {
  bool prehashed = false;
  std::string key_id;
  std::string signature;
  std::string trusted_comment;
  std::string global_signature;
};
std::optional<SignatureFile> ParseSignatureFile(std::string_view text);

enum class Verdict {
  kVerified,
  kMissing,           // no signature file
  kMalformed,         // not a minisign signature file
  kUnknownKey,        // signed by a key that is not pinned
  kBadSignature,      // the file was changed after it was signed
  kBadTrustedComment  // the trusted comment was changed
};

// Checks `data` against its signature file (nothing when there is none)
// with every key whose id the signature names. When none verifies,
// `failed_key` gets the number (from 1) of the first key that failed.
Verdict VerifySignature(std::string_view data,
                        const std::optional<std::string>& signature_text,
                        const std::vector<PublicKey>& keys,
                        int* failed_key = nullptr);

// What a verdict means, for the Error line that stops a run.
std::string DescribeVerdict(Verdict verdict);

// Times in trusted comments: seconds since 1970 in UTC, written
// "2026-12-07T10:00:00Z".
std::string FormatUtc(int64_t seconds);
std::optional<int64_t> ParseUtc(std::string_view text);
int64_t UtcNow();

// The trusted comment that the vendor's publishing tool signs:
// "mvupdate update=5 published=<time>" and, when it expires,
// " expires=<time>". It binds the signature to the update number that the
// file announces, and optionally to a date after which it is refused.
struct TrustedClaims {
  int32_t update = 0;
  int64_t published = 0;
  std::optional<int64_t> expires;
};
std::string FormatTrustedClaims(const TrustedClaims& claims);
// What a trusted comment claims: nothing for a comment that is not the
// tool's (plain minisign writes "timestamp:... file:..."); a failure for
// one that starts "mvupdate " but cannot be read, so that a damaged claim
// is never taken for no claim.
Result<std::optional<TrustedClaims>> ParseTrustedClaims(
    std::string_view comment);

// Why a verified control file is refused: it announces `announced` (its
// LASTUPDATE) while `highest` was accepted before, or its claims disagree
// with it or have expired at `now`. Nothing when it may be used.
std::optional<std::string> StaleControlFile(
    int32_t announced, int32_t highest,
    const std::optional<TrustedClaims>& claims, int64_t now);

// Checks the update control file `path` against `path` + ".minisig" and the
// keys pinned in `settings`. Without pinned keys it says, at Warning level,
// that updates are not verified, and gives true. With them (also when the
// value holds no usable key) it gives true only for a valid signature by a
// pinned key on a file that is not stale (StaleControlFile, against the
// highest update accepted in `store`, which it then raises), and logs an
// Error line naming the problem otherwise.
bool CheckControlFileSignature(const InstallSettings& settings,
                               const std::string& path, SettingsStore& store,
                               RunLog& log, int64_t now);

}  // namespace mv

#endif  // MVUPDATE_UPDATE_SIGNATURE_H_
