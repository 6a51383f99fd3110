#include "system/config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "system/failure.h"
#include "system/text.h"
#include "system/unique_fd.h"

namespace mv {

namespace {

constexpr std::string_view kSection = "mvupdate";
constexpr std::string_view kTag = "***Configuration*** ";
constexpr std::string_view kNotUsed = "; the built-in values are used.";

constexpr std::string_view kKeys[] = {
    "DEFAULT_FTP_PRIMARY",
    "DEFAULT_FTP_ALTERNATE",
    "SUPPORT_EMAIL",
    "DB_LOGIN_TIMEOUT",
    "FTP_TIMEOUT",
    "FTP_STALL_SECONDS",
    "RUN_WAIT_SECONDS",
    "FTP_RETRIES",
    "RECORD_FAILED_UPDATES",
    "FTP_TLS",
    "FTP_CA_FILE",
    "REGISTRY",
    "UNC_ROOT",
    "COMPUTERNAME",
    "DEFAULT_INSTALL_PATH",
    "ODBCSYSINI",
    "DatabaseUser",
    "DatabasePassword",
};

// What a file that is not a regular one is, for the Warning line.
std::string KindOf(mode_t mode) {
  std::string_view kind = S_ISDIR(mode)    ? "a folder"
                          : S_ISFIFO(mode) ? "a FIFO"
                          : S_ISSOCK(mode) ? "a socket"
                          : S_ISCHR(mode)  ? "a character device"
                          : S_ISBLK(mode)  ? "a block device"
                                           : "something else";
  return "is " + std::string(kind) + ", not a regular file";
}

// "<tag> <path>: <why>; the built-in values are used."
std::string Unusable(const std::string& path, std::string_view why,
                     std::string_view separator = ": ") {
  return std::string(kTag) + path + std::string(separator) + std::string(why) +
         std::string(kNotUsed);
}

std::optional<std::string> NonEmptyEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr || *value == '\0') return std::nullopt;
  return value;
}

std::shared_ptr<const ConfigFile> Load() {
  auto file = std::make_shared<ConfigFile>(ConfigFile::Read(
      ConfigFilePath(), NonEmptyEnv("MVUPDATE_CONFIG").has_value()));
  std::optional<std::string> odbc = file->Get("ODBCSYSINI");
  if (odbc && !odbc->empty() && !NonEmptyEnv("ODBCSYSINI")) {
    ::setenv("ODBCSYSINI", odbc->c_str(), 1);
  }
  return file;
}

std::mutex mutex;
std::shared_ptr<const ConfigFile> current;

}  // namespace

std::span<const std::string_view> ConfigKeys() { return kKeys; }

std::string ConfigFilePath() {
  return NonEmptyEnv("MVUPDATE_CONFIG").value_or(MVUPDATE_DEFAULT_CONFIG);
}

ConfigFile ConfigFile::Read(const std::string& path, bool named) {
  ConfigFile config;
  UniqueFd fd(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (!fd || ::fstat(fd.get(), &st) != 0) {
    int err = errno;
    if (err != ENOENT || named) {
      config.warnings_.push_back(
          Unusable(path, Failure::FromErrno(err, path).Text()));
    }
    return config;
  }
  if (!S_ISREG(st.st_mode)) {
    config.warnings_.push_back(Unusable(path, KindOf(st.st_mode), " "));
    return config;
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      config.warnings_.push_back(
          Unusable(path, Failure::FromErrno(errno, path).Text()));
      return config;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
  Result<IniDocument> doc = IniDocument::Parse(text, path);
  if (!doc.ok()) {
    // The failure names the file and the line.
    config.warnings_.push_back(std::string(kTag) + doc.failure().Text() +
                               std::string(kNotUsed));
    return config;
  }
  config.doc_ = std::move(doc.value());
  for (const auto& [line, key] : config.doc_->Keys(kSection)) {
    bool known = false;
    for (std::string_view k : kKeys) known = known || EqualsIgnoreCase(k, key);
    if (!known) {
      config.warnings_.push_back(std::string(kTag) + path + " line " +
                                 std::to_string(line) + ": unknown key \"" +
                                 key + "\"; it is ignored.");
    }
  }
  // Group and owner may read the database password, nobody else.
  if (config.Get("DatabasePassword") && (st.st_mode & S_IROTH) != 0) {
    config.warnings_.push_back(
        std::string(kTag) + path +
        " holds DatabasePassword and every user of this machine may read "
        "it; let only its owner and group read it (chmod o-r).");
  }
  return config;
}

std::optional<std::string> ConfigFile::Get(std::string_view key) const {
  if (!doc_) return std::nullopt;
  const std::string* value = doc_->Find(kSection, key);
  if (value == nullptr) return std::nullopt;
  return *value;
}

std::shared_ptr<const ConfigFile> Configuration() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!current) current = Load();
  return current;
}

void ReloadConfiguration() {
  std::lock_guard<std::mutex> lock(mutex);
  current = Load();
}

std::optional<std::string> DeploymentSetting(std::string_view key) {
  if (auto env = NonEmptyEnv("MVUPDATE_" + std::string(key))) return env;
  std::optional<std::string> value = Configuration()->Get(key);
  if (value && value->empty()) return std::nullopt;
  return value;
}

}  // namespace mv
