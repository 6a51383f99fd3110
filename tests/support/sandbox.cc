#include "support/sandbox.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "system/crypto.h"
#include "system/files.h"

namespace mv {

namespace {

namespace fs = std::filesystem;

void Apply(const std::string& name, const std::optional<std::string>& value) {
  value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
}

}  // namespace

ScopedEnv::~ScopedEnv() {
  for (const auto& [name, value] : saved_) Apply(name, value);
}

void ScopedEnv::Set(const std::string& name,
                    const std::optional<std::string>& value) {
  if (!saved_.contains(name)) {
    const char* old = std::getenv(name.c_str());
    saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
  }
  Apply(name, value);
}

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "mvtest-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  if (made == nullptr) std::abort();
  path_ = made;
  // Traversable by others, so tests that drop root (ScopedUnprivileged) meet
  // only the permissions they set up themselves.
  ::chmod(path_.c_str(), 0755);
}

TempFolder::~TempFolder() {
  std::error_code ec;
  // Make read-only folders left by a test removable again.
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add,
                      ec);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

Sandbox::Sandbox(const Options& o) : saved_cwd_(CurrentFolder()) {
  env_.Set("MVUPDATE_REGISTRY", registry_file());
  env_.Set("XDG_CONFIG_HOME", config_home());
  // An empty configuration file: the machine's own must not reach a test.
  WriteFile(temp_ / "mvupdate.conf", "");
  env_.Set("MVUPDATE_CONFIG", temp_ / "mvupdate.conf");
  env_.Set("MVUPDATE_COMPUTERNAME", o.computer_name);
  env_.Set("MVUPDATE_UNC_ROOT", unc_root());
  env_.Set("MVUPDATE_DEFAULT_INSTALL_PATH", install());
  // No ODBC driver is registered unless a test registers one: the machine's
  // own ODBC set-up never plays a part.
  env_.Set("ODBCSYSINI", odbc_folder());
  env_.Set("ODBCINI", odbc_folder() + "/odbc.ini");
  for (const std::string& folder : {odbc_folder(), install(), unc_root()}) {
    fs::create_directories(folder);
  }
  if (o.create_application_folder) fs::create_directories(app());
  if (o.write_registry) {
    std::string text =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\r\n";
    for (const auto& [name, value] : {std::pair{"InstallPath", install()},
                                      {"DBServerName", o.db_server},
                                      {"DatabaseName", o.db_name}}) {
      text += '"' + std::string(name) + "\"=\"";
      for (char c : value) {
        if (c == '\\' || c == '"') text += '\\';
        text += c;
      }
      text += "\"\r\n";
    }
    WriteFile(registry_file(), text);
  }
}

Sandbox::~Sandbox() {
  if (!saved_cwd_.empty()) {
    if (::chdir(saved_cwd_.c_str()) != 0) std::abort();
  }
}

ScopedUnprivileged::ScopedUnprivileged() : was_root_(::geteuid() == 0) {
  if (was_root_ && ::seteuid(65534) != 0) std::abort();
}

ScopedUnprivileged::~ScopedUnprivileged() {
  if (was_root_ && ::seteuid(0) != 0) std::abort();
}

void WriteFile(const std::string& path, const std::string& contents) {
  fs::create_directories(fs::absolute(path).parent_path());
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << contents;
  ASSERT_TRUE(f.good()) << path;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

std::string Joined(const Lines& lines, size_t first) {
  std::string text;
  for (size_t i = first; i < lines.size(); ++i) text += lines[i] + "\n";
  return text;
}

std::vector<std::string> ReadLines(const std::string& path,
                                   std::string_view end) {
  std::string text = ReadFile(path);
  std::vector<std::string> lines;
  for (size_t at = 0, next; at < text.size(); at = next + end.size()) {
    next = std::min(text.find(end, at), text.size());
    lines.push_back(text.substr(at, next - at));
  }
  return lines;
}

std::string MakeZip(const std::map<std::string, std::string>& files) {
  TempFolder tmp;
  std::string path = tmp / "a.zip";
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
  EXPECT_NE(z, nullptr);
  for (const auto& [name, text] : files) {
    zip_source_t* src = zip_source_buffer(z, text.data(), text.size(), 0);
    EXPECT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_ENC_UTF_8), 0);
  }
  EXPECT_EQ(zip_close(z), 0);
  return ReadFile(path);
}

std::string Sha256Of(std::string_view data) {
  Sha256 digest;
  digest.Update(data);
  return digest.HexDigest();
}

MinisignKey::MinisignKey() : secret_key_file_(folder_ / "k.sec") {
  std::string command = "minisign -G -W -p '" + (folder_ / "k.pub") + "' -s '" +
                        (folder_ / "k.sec") + "' >/dev/null";
  if (std::system(command.c_str()) == 0) {
    std::string pub = ReadFile(folder_ / "k.pub");
    public_key_ = pub.substr(pub.find('\n') + 1);
    public_key_.erase(public_key_.find_last_not_of("\n") + 1);
  }
}

void MinisignKey::Sign(const std::string& file, bool legacy,
                       const std::string& trusted_comment) const {
  std::string command = "minisign -S " + std::string(legacy ? "-l " : "") +
                        "-s '" + secret_key_file_ + "' -m '" + file + "'";
  if (!trusted_comment.empty()) command += " -t '" + trusted_comment + "'";
  command += " >/dev/null";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace mv
