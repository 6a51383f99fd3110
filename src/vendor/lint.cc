#include "vendor/lint.h"

#include <map>

#include "system/text.h"
#include "update/command_interpreter.h"
#include "vendor/control_text.h"

namespace mv {

namespace {

class Linter {
 public:
  Linter(VendorSite& site, int64_t now) : site_(site), now_(now) {}

  void ControlFile(const std::string& text);
  void Signature(const std::string& control,
                 const std::optional<PublicKey>& key);
  void CustomerFolders();
  std::vector<std::string> faults() { return std::move(faults_); }
  void Fault(const std::string& path, const std::string& why) {
    faults_.push_back(site_.Name(path) + ": " + why);
  }
  // The site could not be read; the failure names the file.
  void Unread(const Failure& failure) {
    faults_.push_back(failure.description());
  }

 private:
  void Line(size_t number, const std::string& why) {
    faults_.push_back(site_.Name(kControlPath) + ":" + std::to_string(number) +
                      ": " + why);
  }
  void Header(size_t number, int32_t section);
  void Fetched(size_t number, const std::string& keyword,
               const std::string& name);
  // The digest of a file in the Update folder, fetched once; nothing when
  // the site does not hold it.
  std::optional<std::string> SiteDigest(const std::string& name);

  VendorSite& site_;
  int64_t now_;
  std::vector<std::string> faults_;
  std::optional<int32_t> announced_;
  std::optional<int32_t> previous_;  // the last section's number
  int32_t highest_ = 0;
  Digests digests_;  // the SHA256 lines of the current section
  std::map<std::string, std::optional<std::string>> site_digests_;
};

void Linter::ControlFile(const std::string& text) {
  std::vector<std::string> lines = ControlLines(text);
  announced_ = lines.empty() ? std::nullopt : AnnouncedUpdate(lines[0]);
  if (!announced_) Line(1, "the file does not start with LASTUPDATE=N");
  for (size_t i = 1; i < lines.size(); ++i) {
    size_t number = i + 1;
    bool unreadable = false;
    if (std::optional<int32_t> n = SectionNumber(lines[i], &unreadable)) {
      Header(number, *n);
      continue;
    }
    if (unreadable) {
      Line(number, "the section's number cannot be read");
      continue;
    }
    std::string line = StripCharacter(TrimSpaces(lines[i]), "\t");
    std::string key = ToUpperAscii(TrimSpaces(line));
    if (!previous_) {
      if (!key.empty()) Line(number, "outside any section: " + line);
      continue;
    }
    if (key.rfind("{SERVER}", 0) == 0 || key.rfind("{CLIENT}", 0) == 0) {
      continue;
    }
    std::optional<std::string_view> keyword = CommandKeyword(key);
    if (!keyword) {
      Line(number, "not a command: " + line);
    } else if (*keyword == "SHA256 ") {
      if (!NoteDigest(line, digests_)) {
        Line(number, "not a SHA256 line: SHA256 <64 hex digits> <file>");
      }
    } else if (*keyword == "DOWNLOAD") {
      Fetched(number, "DOWNLOAD", TrimSpaces(MidFrom(line, 10)));
    } else if (*keyword == "FTPGET") {
      Fetched(number, "FTPGET", TrimSpaces(MidFrom(line, 8)));
    }
  }
  if (!previous_) {
    Line(lines.size(), "the file has no [UPDATE N] section");
  } else if (announced_ && *announced_ != highest_) {
    Line(1, "LASTUPDATE=" + std::to_string(*announced_) +
                " is not the highest section (" + std::to_string(highest_) +
                ")");
  }
}

void Linter::Header(size_t number, int32_t section) {
  if (previous_ && section <= *previous_) {
    Line(number, "section " + std::to_string(section) + " comes after " +
                     std::to_string(*previous_) + " and is never installed");
  } else if (previous_ && section == *previous_ + 2) {
    Line(number, "section " + std::to_string(section - 1) + " is missing");
  } else if (previous_ && section > *previous_ + 2) {
    Line(number, "sections " + std::to_string(*previous_ + 1) + " to " +
                     std::to_string(section - 1) + " are missing");
  }
  previous_ = section;
  highest_ = std::max(highest_, section);
  digests_.clear();
}

void Linter::Fetched(size_t number, const std::string& keyword,
                     const std::string& name) {
  if (name.empty()) return Line(number, keyword + " without a file name");
  auto stated = digests_.find(ToUpperAscii(name));
  std::optional<std::string> actual = SiteDigest(name);
  if (!actual) {
    Line(number, keyword + " " + name + ": the site has no such file");
  } else if (stated == digests_.end()) {
    Line(number, keyword + " " + name + ": no SHA256 line before it");
  } else if (ToLowerAscii(stated->second) != *actual) {
    Line(number, keyword + " " + name + ": its digest is " + *actual +
                     ", not the " + stated->second + " of its SHA256 line");
  }
}

std::optional<std::string> Linter::SiteDigest(const std::string& name) {
  auto known = site_digests_.find(name);
  if (known != site_digests_.end()) return known->second;
  std::string path = std::string(kUpdateFolder) + "/" + name;
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  Result<std::optional<std::string>> digest = site_.Digest(path);
  std::optional<std::string> value;
  if (!digest.ok()) {
    Unread(digest.failure());
  } else {
    value = digest.value();
  }
  site_digests_[name] = value;
  return value;
}

void Linter::Signature(const std::string& control,
                       const std::optional<PublicKey>& key) {
  Result<std::optional<std::string>> text = site_.Fetch(kSignaturePath);
  if (!text.ok()) return Unread(text.failure());
  if (!text.value())
    return Fault(kSignaturePath,
                 "missing: stores that pin a key install nothing");
  std::optional<SignatureFile> file = ParseSignatureFile(*text.value());
  if (!file) return Fault(kSignaturePath, DescribeVerdict(Verdict::kMalformed));
  if (key) {
    Verdict verdict = VerifySignature(control, text.value(), {*key});
    if (verdict != Verdict::kVerified) {
      return Fault(kSignaturePath, DescribeVerdict(verdict));
    }
  }
  Result<std::optional<TrustedClaims>> claims =
      ParseTrustedClaims(file->trusted_comment);
  if (!claims.ok())
    return Fault(kSignaturePath, claims.failure().description());
  if (!announced_) return;
  if (std::optional<std::string> why =
          StaleControlFile(*announced_, 0, claims.value(), now_)) {
    Fault(kSignaturePath, *why);
  }
}

void Linter::CustomerFolders() {
  if (!site_.Lists()) return;  // said by the caller
  Result<std::vector<std::string>> folders = site_.Folders("Merivane");
  if (!folders.ok()) return Unread(folders.failure());
  for (const std::string& folder : folders.value()) {
    if (EqualsIgnoreCase(folder, "Update")) continue;
    std::string path = "Merivane/" + folder;
    Result<std::vector<std::string>> files = site_.Files(path);
    if (!files.ok()) {
      Unread(files.failure());
      continue;
    }
    bool found = false;
    for (const std::string& name : files.value()) {
      found = found || EqualsIgnoreCase(name, "MVControl.dat");
    }
    if (!found)
      Fault(path + "/MVControl.dat", "missing: the customer's runs stop");
  }
}

}  // namespace

std::vector<std::string> LintSite(VendorSite& site,
                                  const std::optional<PublicKey>& key,
                                  int64_t now) {
  Linter linter(site, now);
  Result<std::optional<std::string>> control = site.Fetch(kControlPath);
  if (!control.ok()) {
    linter.Unread(control.failure());
  } else if (!control.value()) {
    linter.Fault(kControlPath, "missing");
  } else {
    linter.ControlFile(*control.value());
    linter.Signature(*control.value(), key);
  }
  linter.CustomerFolders();
  return linter.faults();
}

}  // namespace mv
