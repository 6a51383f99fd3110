#include "update/signature.h"

#include "system/crypto.h"
#include "system/failure.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/text.h"
#include "update/control_file.h"

namespace mv {

namespace {

constexpr size_t kKeyIdBytes = 8;
constexpr std::string_view kUntrusted = "untrusted comment:";
constexpr std::string_view kTrusted = "trusted comment: ";

}  // namespace

std::optional<PublicKey> ParsePublicKey(std::string_view line) {
  std::optional<std::string> bytes = DecodeBase64(line);
  if (!bytes || bytes->size() != 2 + kKeyIdBytes + 32 ||
      bytes->compare(0, 2, "Ed") != 0) {
    return std::nullopt;
  }
  return PublicKey{bytes->substr(2, kKeyIdBytes),
                   bytes->substr(2 + kKeyIdBytes)};
}

TrustedKeys ParseTrustedKeys(std::string_view value) {
  TrustedKeys trusted;
  size_t pos = 0;
  while (pos <= value.size()) {
    size_t end = value.find(';', pos);
    if (end == std::string_view::npos) end = value.size();
    std::string_view entry = TrimWhitespace(value.substr(pos, end - pos));
    pos = end + 1;
    if (entry.empty()) continue;
    if (std::optional<PublicKey> key = ParsePublicKey(entry)) {
      trusted.keys.push_back(*key);
    } else {
      ++trusted.malformed;
    }
  }
  return trusted;
}

std::optional<SignatureFile> ParseSignatureFile(std::string_view text) {
  std::vector<std::string_view> lines = SplitLines(text);
  if (lines.size() < 4 || lines[0].substr(0, kUntrusted.size()) != kUntrusted ||
      lines[2].substr(0, kTrusted.size()) != kTrusted) {
    return std::nullopt;
  }
  std::optional<std::string> signature = DecodeBase64(lines[1]);
  std::optional<std::string> global = DecodeBase64(lines[3]);
  if (!signature || signature->size() != 2 + kKeyIdBytes + 64 || !global ||
      global->size() != 64) {
    return std::nullopt;
  }
  SignatureFile file;
  std::string algorithm = signature->substr(0, 2);
  if (algorithm != "Ed" && algorithm != "ED") return std::nullopt;
  file.prehashed = algorithm == "ED";
  file.key_id = signature->substr(2, kKeyIdBytes);
  file.signature = signature->substr(2 + kKeyIdBytes);
  file.trusted_comment = lines[2].substr(kTrusted.size());
  file.global_signature = *global;
  return file;
}

Verdict VerifySignature(std::string_view data,
                        const std::optional<std::string>& signature_text,
                        const std::vector<PublicKey>& keys, int* failed_key) {
  if (!signature_text) return Verdict::kMissing;
  std::optional<SignatureFile> file = ParseSignatureFile(*signature_text);
  if (!file) return Verdict::kMalformed;
  // Two pinned keys may share an id (a key id is only 8 bytes): each is
  // tried, and the first that fails is named.
  Verdict verdict = Verdict::kUnknownKey;
  std::string digest;
  if (file->prehashed) digest = Blake2b512(data);
  for (size_t i = 0; i < keys.size(); ++i) {
    const PublicKey& key = keys[i];
    if (key.id != file->key_id) continue;
    Verdict tried = Verdict::kVerified;
    if (!VerifyEd25519(file->signature, file->prehashed ? digest : data,
                       key.key)) {
      tried = Verdict::kBadSignature;
    } else if (!VerifyEd25519(file->global_signature,
                              file->signature + file->trusted_comment,
                              key.key)) {
      tried = Verdict::kBadTrustedComment;
    }
    if (tried == Verdict::kVerified) return tried;
    if (verdict == Verdict::kUnknownKey) {
      verdict = tried;
      if (failed_key) *failed_key = static_cast<int>(i) + 1;
    }
  }
  return verdict;
}

std::string DescribeVerdict(Verdict verdict) {
  switch (verdict) {
    case Verdict::kVerified:
      return "the signature is valid";
    case Verdict::kMissing:
      return "it has no signature file (MVUpdate.dat.minisig)";
    case Verdict::kMalformed:
      return "its signature file is not a minisign signature";
    case Verdict::kUnknownKey:
      return "it was signed with a key that is not pinned (UpdatePublicKeys)";
    case Verdict::kBadSignature:
      return "its signature does not match: the file was changed after it "
             "was signed";
    case Verdict::kBadTrustedComment:
      return "its trusted comment was changed after it was signed";
  }
  return "";
}

bool CheckControlFileSignature(const InstallSettings& settings,
                               const std::string& path, RunLog& log) {
  if (!settings.verifies_updates()) {
    log.Warning(
        "!!! Updates are not verified: no public key is pinned "
        "(UpdatePublicKeys in the registry).");
    return true;
  }
  TrustedKeys trusted = ParseTrustedKeys(settings.update_public_keys);
  if (trusted.keys.empty()) {
    log.Error(
        "!!! The update control file was not used: UpdatePublicKeys holds "
        "no minisign public key. Nothing was installed.");
    return false;
  }
  if (trusted.malformed > 0) {
    log.Warning("!!! UpdatePublicKeys holds " +
                std::to_string(trusted.malformed) +
                " entries that are no minisign public key.");
  }
  Result<std::string> data =
      ReadWholeFile(ResolveCase(path), kMaxControlFileBytes);
  Result<std::string> signature =
      ReadWholeFile(ResolveCase(path + ".minisig"), kMaxSignatureBytes);
  // Only a missing signature is "no signature"; a file that cannot be read
  // (or is too large) is named as it is.
  for (const Result<std::string>* read : {&data, &signature}) {
    if (!read->ok() && read->failure().number() != kFileNotFound) {
      log.Error("!!! The update control file was not used: " +
                read->failure().Text() + ". Nothing was installed.");
      return false;
    }
  }
  Verdict verdict = Verdict::kMissing;
  int failed_key = 0;
  if (data.ok() && signature.ok()) {
    verdict = VerifySignature(data.value(), signature.value(), trusted.keys,
                              &failed_key);
  }
  if (verdict == Verdict::kVerified) {
    log.Info("The update control file is signed with a pinned key.");
    return true;
  }
  std::string why = DescribeVerdict(verdict);
  if (verdict == Verdict::kBadSignature && failed_key > 0) {
    // The key is named: two pinned keys may share an id.
    why = "its signature does not match key " + std::to_string(failed_key) +
          " of " + std::to_string(trusted.keys.size()) +
          " in UpdatePublicKeys: the file was changed after it was signed, "
          "or that key did not sign it";
  }
  log.Error("!!! The update control file was not used: " + why +
            ". Nothing was installed.");
  return false;
}

}  // namespace mv
