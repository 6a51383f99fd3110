// A throwaway installation in a temporary folder: registry file, settings
// folder, installation folder, UNC root and an ODBC set-up without drivers,
// all reached through the environment overrides. The environment, the
// current directory and the folder are restored or removed when the sandbox
// goes.
#ifndef MVUPDATE_TESTS_SUPPORT_SANDBOX_H_
#define MVUPDATE_TESTS_SUPPORT_SANDBOX_H_

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/form.h"

namespace mv {

// Sets environment variables for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv();
  void Set(const std::string& name, const std::optional<std::string>& value);

 private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// A fresh temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const {
    return path_ + "/" + rel;
  }

 private:
  std::string path_;
};

class Sandbox {
 public:
  struct Options {
    std::string computer_name = "SRV01";
    std::string db_server = "SRV01";
    std::string db_name = "Quillmere";
    bool create_application_folder = true;
    bool write_registry = true;
  };
  Sandbox() : Sandbox(Options()) {}
  explicit Sandbox(const Options& options);
  ~Sandbox();

  const std::string& root() const { return temp_.path(); }
  std::string install() const { return temp_ / "Merivane"; }
  std::string app() const { return install() + "/Application"; }
  std::string registry_file() const { return temp_ / "registry.reg"; }
  std::string config_home() const { return temp_ / "config"; }
  std::string unc_root() const { return temp_ / "unc"; }
  // ODBCSYSINI: an empty folder, so no ODBC driver is registered.
  std::string odbc_folder() const { return temp_ / "odbc"; }
  std::string event_log() const {
    return install() + "/Database/MVUpEvents.log";
  }
  FormConfig config() const { return {registry_file(), config_home(), {}}; }
  ScopedEnv& env() { return env_; }

 private:
  TempFolder temp_;
  ScopedEnv env_;
  std::string saved_cwd_;
};

// Drops root's power to ignore file permissions for the life of the object
// (the effective user becomes nobody), so tests of unwritable files and
// folders also hold when the tests run as root. Does nothing for other users.
class ScopedUnprivileged {
 public:
  ScopedUnprivileged();
  ScopedUnprivileged(const ScopedUnprivileged&) = delete;
  ScopedUnprivileged& operator=(const ScopedUnprivileged&) = delete;
  ~ScopedUnprivileged();

 private:
  bool was_root_ = false;
};

// A throwaway minisign key pair, made and used by the real minisign tool,
// as a vendor signs its control files.
class MinisignKey {
 public:
  MinisignKey();
  // The key line of the public key file, as UpdatePublicKeys holds it.
  const std::string& public_key() const { return public_key_; }
  // Writes `file`.minisig: prehashed, or over the file itself (legacy),
  // with minisign's own trusted comment unless one is given.
  void Sign(const std::string& file, bool legacy = false,
            const std::string& trusted_comment = "") const;
  const std::string& secret_key_file() const { return secret_key_file_; }
  std::string public_key_file() const { return folder_ / "k.pub"; }

 private:
  TempFolder folder_;
  std::string public_key_;
  std::string secret_key_file_;
};

using Lines = std::vector<std::string>;

void WriteFile(const std::string& path, const std::string& contents);
std::string ReadFile(const std::string& path);
// The lines from `first` on, each ended by "\n".
std::string Joined(const Lines& lines, size_t first = 0);
// The lines of a text file, without their line ends.
Lines ReadLines(const std::string& path, std::string_view end = "\n");
// The bytes of a zip archive holding `files` (name -> contents).
std::string MakeZip(const std::map<std::string, std::string>& files);
// The SHA-256 digest of `data` as 64 lower-case hex digits.
std::string Sha256Of(std::string_view data);

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_SANDBOX_H_
