#include "vendor/publish.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>

#include "system/text.h"
#include "update/signature.h"
#include "vendor/control_text.h"

namespace mv {

namespace {

namespace fs = std::filesystem;

struct Upload {
  std::string local;  // the path given
  std::string name;   // the name on the site and in the command lines
  std::string digest;
  bool on_site = false;  // the site holds these bytes already
};

std::string SitePath(const std::string& name) {
  return std::string(kUpdateFolder) + "/" + name;
}

// A temporary name beside `name` that no installation looks for.
std::string TempPath(const std::string& name) {
  return SitePath(".mvpublish-" + name);
}

// The control file's next update number: above LASTUPDATE and every
// section, so that no number is used twice.
Result<int32_t> NextUpdate(const std::vector<std::string>& lines) {
  if (lines.empty()) return 1;
  std::optional<int32_t> announced = AnnouncedUpdate(lines[0]);
  if (!announced) {
    return Failure(kInvalidArgument,
                   kControlPath +
                       " does not start with a LASTUPDATE line; mend it "
                       "first (mvupdate-vendor lint)");
  }
  int32_t highest = *announced;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (std::optional<int32_t> n = SectionNumber(lines[i])) {
      highest = std::max(highest, *n);
    }
  }
  if (highest == INT32_MAX) {
    return Failure(kOverflow, kControlPath + " has no update number left");
  }
  return highest + 1;
}

// The files to publish, checked before anything is sent: ordinary files,
// names fit for a command line, no name twice.
Result<std::vector<Upload>> Uploads(const PublishRequest& request) {
  std::vector<Upload> uploads;
  std::map<std::string, bool> seen;
  for (const std::string& local : request.files) {
    std::string name = fs::path(local).filename().string();
    std::error_code error;
    if (!fs::is_regular_file(local, error)) {
      return Failure(kFileNotFound, local + ": no such file");
    }
    if (name.empty() || name[0] == '.' ||
        name.find_first_of(" \t\r\n") != std::string::npos) {
      return Failure(kBadFileName,
                     local +
                         ": a published file's name may not begin with "
                         "a dot or hold blanks or line ends");
    }
    if (ToUpperAscii(name).starts_with("MVUPDATE.DAT")) {
      return Failure(kBadFileName,
                     local +
                         ": the control file and its signature are "
                         "written by publish itself");
    }
    if (seen[ToUpperAscii(name)]) {
      return Failure(kBadFileName, name + " is named twice");
    }
    seen[ToUpperAscii(name)] = true;
    uploads.push_back({local, name, ""});
  }
  if (!request.run.empty() &&
      !seen[ToUpperAscii(fs::path(request.run).filename().string())]) {
    return Failure(kInvalidArgument,
                   "--run " + request.run + " is not one of the files");
  }
  return uploads;
}

std::string Section(int32_t number, const PublishRequest& request,
                    const std::vector<Upload>& uploads) {
  std::string text = "[UPDATE " + std::to_string(number) + "]\r\n";
  text += "USERCOMMENT=" + request.comment + "\r\n";
  for (const Upload& u : uploads) {
    text += "SHA256 " + u.digest + " " + u.name + "\r\n";
    text += "DOWNLOAD " + u.name + "\r\n";
    if (EqualsIgnoreCase(fs::path(u.name).extension().string(), ".zip")) {
      text += "UNZIP " + u.name + " *.*\r\n";
    }
  }
  if (!request.run.empty()) {
    text += "RUN " + fs::path(request.run).filename().string() + "\r\n";
  }
  return text;
}

// The control file with LASTUPDATE raised and the section added; every
// other byte of it stays as it was.
std::string NewControlFile(const std::optional<std::string>& old,
                           int32_t number, const std::string& section) {
  std::string announcement = "LASTUPDATE=" + std::to_string(number) + "\r\n";
  if (!old || old->empty()) return announcement + section;
  std::string rest;
  size_t end = old->find('\r');
  if (end != std::string::npos) {
    rest = old->substr(end + (old->compare(end, 2, "\r\n") == 0 ? 2 : 1));
  }
  // A line ends at CR (or CR LF) only: a lone LF would join the last
  // line and the new header into one line.
  if (!rest.empty() && rest.back() != '\r' && !rest.ends_with("\r\n")) {
    rest += "\r\n";
  }
  std::string bom =
      old->compare(0, 3, "\xEF\xBB\xBF") == 0 ? "\xEF\xBB\xBF" : "";
  return bom + announcement + rest + section;
}

// An earlier update may name the same file: replacing it with other bytes
// would break that update on every store that has not installed it yet. A
// file the site holds with the same bytes is not sent again.
Status CheckNotReplacing(VendorSite& site, Upload& u) {
  Result<std::optional<std::string>> there = site.Digest(SitePath(u.name));
  if (!there.ok()) return there.failure();
  if (!there.value()) return Status::Ok();
  Result<std::string> digest = FileDigest(u.local);
  if (!digest.ok()) return digest.failure();
  if (*there.value() != digest.value()) {
    return Failure(kFileAlreadyExists,
                   site.Name(SitePath(u.name)) +
                       " exists with other contents and earlier updates may "
                       "name it; publish the new file under another name");
  }
  u.digest = digest.value();
  u.on_site = true;
  return Status::Ok();
}

int Fail(std::ostream& err, const Failure& failure) {
  err << "mvupdate-vendor: " << failure.description() << "\n";
  return 1;
}

}  // namespace

int Publish(VendorSite& site, const SecretKey* key,
            const PublishRequest& request, int64_t now, std::ostream& out,
            std::ostream& err) {
  if (request.comment.find_first_of("\r\n") != std::string::npos) {
    return Fail(
        err, Failure(kInvalidArgument, "the comment may not hold a line end"));
  }
  Result<std::optional<std::string>> old = site.Fetch(kControlPath);
  if (!old.ok()) return Fail(err, old.failure());
  Result<int32_t> number = NextUpdate(old.value() ? ControlLines(*old.value())
                                                  : std::vector<std::string>());
  if (!number.ok()) return Fail(err, number.failure());
  Result<std::vector<Upload>> uploads = Uploads(request);
  if (!uploads.ok()) return Fail(err, uploads.failure());

  // A file the site holds with other contents stops the publishing before
  // anything is sent.
  for (Upload& u : uploads.value()) {
    if (Status st = CheckNotReplacing(site, u); !st.ok()) {
      return Fail(err, st.failure());
    }
  }
  if (request.dry_run) {
    for (Upload& u : uploads.value()) {
      Result<std::string> digest = FileDigest(u.local);
      if (!digest.ok()) return Fail(err, digest.failure());
      u.digest = digest.value();
    }
    std::string section = Section(number.value(), request, uploads.value());
    for (const std::string& line : ControlLines(section)) out << line << "\n";
    return 0;
  }

  // The files, each under a temporary name renamed into place, read once:
  // the digest that goes into the section is that of the bytes sent.
  for (Upload& u : uploads.value()) {
    if (u.on_site) continue;
    Sha256 sent;
    Status st = site.Put(u.local, TempPath(u.name), &sent);
    if (st.ok()) st = site.Rename(TempPath(u.name), SitePath(u.name));
    if (!st.ok()) return Fail(err, st.failure());
    u.digest = sent.HexDigest();
    out << "sent " << u.name << "\n";
  }
  std::string section = Section(number.value(), request, uploads.value());

  // Then the control file and its signature. An installation that reads
  // the site between the two renames finds a pair whose signature fails,
  // installs nothing and tries again at its next run.
  TrustedClaims claims{number.value(), now, std::nullopt};
  if (request.valid_days) claims.expires = now + *request.valid_days * 86400LL;
  std::string control = NewControlFile(old.value(), number.value(), section);
  std::string signature =
      key->SignatureFile(control, FormatTrustedClaims(claims));
  const std::string control_temp = TempPath("MVUpdate.dat"),
                    signature_temp = TempPath("MVUpdate.dat.minisig");
  Status st = site.PutData(control, control_temp);
  if (st.ok()) st = site.PutData(signature, signature_temp);
  if (st.ok()) st = site.Rename(control_temp, kControlPath);
  if (st.ok()) st = site.Rename(signature_temp, kSignaturePath);
  if (!st.ok()) return Fail(err, st.failure());
  out << "published update " << number.value() << " to "
      << site.Name(kControlPath) << " (" << FormatTrustedClaims(claims)
      << ")\n";
  return 0;
}

}  // namespace mv
