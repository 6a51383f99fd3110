#include "system/config.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "system/failure.h"
#include "system/file_io.h"
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

// What a file that is not a regular one is, for the Warning line.
std::string KindOf(const FileFacts& facts) {
  return "is " + std::string(facts.kind) + ", not a regular file";
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
    if (err != ENOENT || named) {
      config.warnings_.push_back(
          Unusable(path, Failure::FromErrno(err, path).Text()));
    }
    return config;
  }
  if (!st.ordinary) {
    config.warnings_.push_back(Unusable(path, KindOf(st), " "));
    return config;
  }
  std::string text;
  char buffer[4096];
  for (;;) {
    size_t n = 0;
    if (int err = ReadFd(fd.get(), buffer, sizeof buffer, n); err != 0) {
      config.warnings_.push_back(
          Unusable(path, Failure::FromErrno(err, path).Text()));
      return config;
    }
    if (n == 0) break;
    text.append(buffer, n);
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
