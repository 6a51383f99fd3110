#include "system/config.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "system/failure.h"
#include "system/file_io.h"
#include "system/paths.h"
#include "system/process.h"
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

// Keys that choose a file, a library, a site or a security setting: a file
// that others may change must not decide them.
constexpr std::string_view kGuardedKeys[] = {
    "DEFAULT_FTP_PRIMARY",
    "DEFAULT_FTP_ALTERNATE",
    "FTP_TLS",
    "FTP_CA_FILE",
    "REGISTRY",
    "UNC_ROOT",
    "DEFAULT_INSTALL_PATH",
    "ODBCSYSINI",
    "DatabaseUser",
    "DatabasePassword",
};

// A larger file is no configuration file.
constexpr int64_t kMaxConfigBytes = 1 << 20;

constexpr std::string_view kStops =
    "; no command that uses the network or the database runs until it is "
    "mended.";

// What a file that is not a regular one is.
std::string KindOf(const FileFacts& facts) {
  return "is " + std::string(facts.kind) + ", not a regular file";
}

// "<tag> <path>: <why>; no command ... runs until it is mended."
std::string Unusable(const std::string& path, std::string_view why,
                     std::string_view separator = ": ") {
  return std::string(kTag) + path + std::string(separator) + std::string(why) +
         std::string(kStops);
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
    SetEnvironmentValue("ODBCSYSINI", *odbc);
  }
  return file;
}

std::mutex mutex;
std::shared_ptr<const ConfigFile> current;

}  // namespace

std::span<const std::string_view> ConfigKeys() { return kKeys; }

std::string ConfigFilePath() {
  return NonEmptyEnv("MVUPDATE_CONFIG").value_or(DefaultConfigFile());
}

ConfigFile ConfigFile::Read(const std::string& path, bool named) {
  ConfigFile config;
  UniqueFd fd;
  FileFacts st;
  int err = OpenFile(path, FileOpen::kReadNoWait, fd);
  if (err == 0) err = FactsOfFd(fd.get(), st);
  if (err != 0) {
    if (err == ENOENT && named) {
      config.warnings_.push_back(std::string(kTag) + path + ": " +
                                 Failure::FromErrno(err, path).Text() +
                                 std::string(kNotUsed));
    } else if (err != ENOENT) {
      config.errors_.push_back(
          Unusable(path, Failure::FromErrno(err, path).Text()));
    }
    return config;
  }
  if (!st.ordinary) {
    config.errors_.push_back(Unusable(path, KindOf(st), " "));
    return config;
  }
  if (st.size > kMaxConfigBytes) {
    config.errors_.push_back(
        Unusable(path,
                 "is larger than 1 MiB, too large for a configuration "
                 "file",
                 " "));
    return config;
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    size_t n = 0;
    if (int read_err = ReadFd(fd.get(), buffer, sizeof buffer, n);
        read_err != 0) {
      config.errors_.push_back(
          Unusable(path, Failure::FromErrno(read_err, path).Text()));
      return config;
    }
    if (n == 0) break;
    text.append(buffer, n);
    if (static_cast<int64_t>(text.size()) > kMaxConfigBytes) {
      config.errors_.push_back(Unusable(
          path, "is larger than 1 MiB, too large for a configuration file",
          " "));
      return config;
    }
  }
  // Editors on Windows start the file with a byte order mark.
  std::string_view body = text;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  Result<IniDocument> doc = IniDocument::Parse(body, path);
  if (!doc.ok()) {
    // The failure names the file and the line.
    config.errors_.push_back(std::string(kTag) + doc.failure().Text() +
                             std::string(kStops));
    return config;
  }
  IniDocument& ini = doc.value();
  for (const auto& [line, key] : ini.KeysOutside(kSection)) {
    config.errors_.push_back(std::string(kTag) + path + " line " +
                             std::to_string(line) + ": key \"" + key +
                             "\" is outside the [mvupdate] section" +
                             std::string(kStops));
  }
  for (const auto& [line, key] : ini.Keys(kSection)) {
    bool known = false;
    for (std::string_view k : kKeys) known = known || EqualsIgnoreCase(k, key);
    if (!known) {
      config.errors_.push_back(std::string(kTag) + path + " line " +
                               std::to_string(line) + ": unknown key \"" + key +
                               "\"" + std::string(kStops));
    }
  }
  if (!config.errors_.empty()) return config;
  config.doc_ = std::move(ini);
  // A file, or a folder, that others may change must not choose libraries,
  // files or the TLS setting of a process that may run as root.
  FileFacts folder;
  std::string parent = ParentFolder(path);
  if (parent.empty()) parent = ".";
  if (st.others_may_write ||
      (FactsOfPath(parent, folder) == 0 && folder.others_may_write)) {
    config.guarded_ignored_ = true;
    OthersMayWriteAdvice advice =
        AdviceOnOthersWriting(st.others_may_write ? path : parent);
    config.errors_.push_back(
        std::string(kTag) + path + (st.others_may_write ? "" : "'s folder") +
        " may be changed by other users than " + advice.trusted +
        "; its keys that choose files, libraries, sites, TLS and the database "
        "login are ignored (" +
        advice.remedy + ")" + std::string(kStops));
  }
  // Group and owner may read the database password, nobody else.
  if (config.Get("DatabasePassword") && st.readable_by_others) {
    config.warnings_.push_back(
        std::string(kTag) + path +
        " holds DatabasePassword and every user of this machine may read "
        "it; let only its owner and group read it (chmod o-r).");
  }
  return config;
}

std::optional<std::string> ConfigFile::Get(std::string_view key) const {
  if (!doc_) return std::nullopt;
  if (guarded_ignored_) {
    for (std::string_view k : kGuardedKeys) {
      if (EqualsIgnoreCase(k, key)) return std::nullopt;
    }
  }
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
