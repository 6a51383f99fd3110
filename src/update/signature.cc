#include "update/signature.h"

#include <chrono>
#include <cstdio>

#include "system/crypto.h"
#include "system/failure.h"
#include "system/files.h"
#include "system/last_update.h"
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

std::string FormatUtc(int64_t seconds) {
  using namespace std::chrono;
  sys_seconds t{std::chrono::seconds(seconds)};
  sys_days day = floor<days>(t);
  year_month_day date{day};
  hh_mm_ss<std::chrono::seconds> time{t - day};
  char text[32];
  std::snprintf(
      text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ",
      static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
      static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
      static_cast<int>(time.minutes().count()),
      static_cast<int>(time.seconds().count()));
  return text;
}

int64_t UtcNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::optional<int64_t> ParseUtc(std::string_view text) {
  using namespace std::chrono;
  constexpr std::string_view kForm = "0000-00-00T00:00:00Z";
  if (text.size() != kForm.size()) return std::nullopt;
  for (size_t i = 0; i < kForm.size(); ++i) {
    bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == '0' ? !digit : text[i] != kForm[i]) return std::nullopt;
  }
  auto number = [text](size_t at, size_t length) {
    int n = 0;
    for (size_t i = at; i < at + length; ++i) n = n * 10 + (text[i] - '0');
    return n;
  };
  int h = number(11, 2), mi = number(14, 2), s = number(17, 2);
  year_month_day date{year{number(0, 4)},
                      month(static_cast<unsigned>(number(5, 2))),
                      day(static_cast<unsigned>(number(8, 2)))};
  if (!date.ok() || h > 23 || mi > 59 || s > 59) return std::nullopt;
  return sys_days{date}.time_since_epoch() / std::chrono::seconds(1) +
         h * 3600 + mi * 60 + s;
}

std::string FormatTrustedClaims(const TrustedClaims& claims) {
  std::string text = "mvupdate update=" + std::to_string(claims.update) +
                     " published=" + FormatUtc(claims.published);
  if (claims.expires) text += " expires=" + FormatUtc(*claims.expires);
  return text;
}

Result<std::optional<TrustedClaims>> ParseTrustedClaims(
    std::string_view comment) {
  constexpr std::string_view kTool = "mvupdate ";
  if (comment.substr(0, kTool.size()) != kTool) {
    return std::optional<TrustedClaims>();
  }
  Failure unreadable(kInvalidArgument,
                     "The update control file's trusted comment \"" +
                         std::string(comment) + "\" cannot be read");
  TrustedClaims claims;
  bool has_update = false, has_published = false;
  size_t pos = kTool.size();
  while (pos < comment.size()) {
    size_t end = comment.find(' ', pos);
    if (end == std::string_view::npos) end = comment.size();
    std::string_view field = comment.substr(pos, end - pos);
    pos = end + 1;
    size_t equals = field.find('=');
    if (field.empty() || equals == std::string_view::npos) return unreadable;
    std::string_view name = field.substr(0, equals),
                     value = field.substr(equals + 1);
    if (name == "update") {
      Result<int32_t> n = ParseWholeNumber(value);
      if (!n.ok() ||
          value.find_first_not_of("-0123456789") != std::string_view::npos) {
        return unreadable;
      }
      claims.update = n.value();
      has_update = true;
    } else if (name == "published" || name == "expires") {
      std::optional<int64_t> t = ParseUtc(value);
      if (!t) return unreadable;
      if (name == "published") {
        claims.published = *t;
        has_published = true;
      } else {
        claims.expires = t;
      }
    }
    // Fields a later version adds are signed too, and left alone here.
  }
  if (!has_update || !has_published) return unreadable;
  return std::optional<TrustedClaims>(claims);
}

std::optional<std::string> StaleControlFile(
    int32_t announced, int32_t highest,
    const std::optional<TrustedClaims>& claims, int64_t now) {
  constexpr std::string_view kWhy = "; the site may be stale or tampered with";
  if (announced < highest) {
    return "The update control file is older than one already seen: update " +
           std::to_string(announced) + " announced, " +
           std::to_string(highest) + " seen" + std::string(kWhy);
  }
  if (claims && claims->update != announced) {
    return "The update control file announces update " +
           std::to_string(announced) + " but was signed for update " +
           std::to_string(claims->update) + std::string(kWhy);
  }
  if (claims && claims->expires && *claims->expires < now) {
    return "The update control file's signature expired at " +
           FormatUtc(*claims->expires) + std::string(kWhy);
  }
  return std::nullopt;
}

namespace {

// The number that line 1 announces, read as update detection reads it;
// nothing when the file has no LASTUPDATE line (detection reports that).
std::optional<int32_t> AnnouncedUpdate(const std::string& path) {
  Result<ControlFileReader> reader = ControlFileReader::Open(path);
  std::string first;
  if (!reader.ok() || !reader.value().ReadLine(first) ||
      ToUpperAscii(first.substr(0, 11)) != "LASTUPDATE=") {
    return std::nullopt;
  }
  Result<int32_t> n = ControlNumber(MidFrom(first, 12));
  if (!n.ok()) return std::nullopt;
  return n.value();
}

// After the signature: refuses a file older than one accepted before, or
// whose claims disagree with it, and remembers the newest accepted.
bool CheckFreshness(const std::string& path, const std::string& signature,
                    SettingsStore& store, RunLog& log, int64_t now) {
  auto refuse = [&log](const std::string& why) {
    log.Error("!!! " + why + ". Nothing was installed.");
    return false;
  };
  std::optional<SignatureFile> file = ParseSignatureFile(signature);
  Result<std::optional<TrustedClaims>> claims =
      ParseTrustedClaims(file->trusted_comment);
  if (!claims.ok()) return refuse(claims.failure().description());
  std::optional<int32_t> announced = AnnouncedUpdate(path);
  if (!announced) return true;
  Result<int32_t> highest = ReadHighestUpdateAccepted(store);
  if (!highest.ok()) return refuse(highest.failure().Text());
  if (std::optional<std::string> why =
          StaleControlFile(*announced, highest.value(), claims.value(), now)) {
    return refuse(*why);
  }
  if (*announced > highest.value()) {
    Status st = StoreHighestUpdateAccepted(store, *announced);
    if (!st.ok()) return refuse(st.failure().Text());
  }
  return true;
}

}  // namespace

bool CheckControlFileSignature(const InstallSettings& settings,
                               const std::string& path, SettingsStore& store,
                               RunLog& log, int64_t now) {
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
    return CheckFreshness(ResolveCase(path), signature.value(), store, log,
                          now);
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
