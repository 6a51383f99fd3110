// A throwaway installation for the fuzz targets that carry out update
// commands: every path the commands reach by design (the installation and
// its work folders, the settings store, the server's share, the registry
// file, the ODBC set-up) lies in one temporary folder, and the process is
// confined to that folder (confinement.h) before the first input runs.
//
// Besides the kernel's confinement:
// - PATH names an empty folder and the wait after RUN is 0 seconds, so a RUN
//   that could start a program would neither find one by name nor stall;
//   the site's set-up script, should anything ever run it, kills the
//   process, which the fuzzer reports as a crash;
// - a file may grow to 64 MiB at most (a copy of an endless file fails);
// - the FTP component is the recording double over a small site held in
//   memory, and no ODBC driver is registered, so nothing leaves the machine.
//
// Each input gets a fresh installation (Reset) and fresh pieces for the
// commands to work with (Session).
#ifndef MVUPDATE_FUZZ_INSTALLATION_H_
#define MVUPDATE_FUZZ_INSTALLATION_H_

#include <map>
#include <memory>
#include <string>

#include "log/run_log.h"
#include "support/recording_window.h"
#include "system/install_settings.h"
#include "system/settings_store.h"
#include "update/command_interpreter.h"
#include "update/file_transfer.h"

namespace mv::fuzz {

// Call from LLVMFuzzerInitialize: the folders libFuzzer uses stay
// reachable (their names are made absolute, see there).
void NoteFuzzerArguments(int* argc, char*** argv);

class Installation {
 public:
  // The installation of this process. The first call makes it and confines
  // the process; when the kernel cannot confine it, the program ends with
  // kCannotConfine.
  static Installation& Get();

  const std::string& root() const { return root_; }
  std::string app() const { return root_ + "/Merivane/Application"; }
  // The native folder of \\SRV01\MVUpdate, the share clients copy from.
  std::string share() const { return root_ + "/unc/SRV01/MVUpdate"; }
  // The folder of the settings store.
  std::string settings_folder() const { return root_ + "/config"; }

  // Everything back to its first state: the work folders hold nothing but
  // what the share and site hold, the settings store is empty, and the
  // current directory is the Download folder.
  void Reset();

 private:
  Installation();
  std::string root_;
};

// The vendor's update folder as the commands of a server see it: the
// published update files by name.
class FakeSite : public FileTransfer {
 public:
  using FileTransfer::GetFile;
  bool GetFile(std::string_view local_file, std::string_view remote_file,
               std::string* sha256) override;
  bool PutFile(std::string_view local_file,
               std::string_view remote_file) override;
  std::map<std::string, std::string, std::less<>> files;
};

// What the commands of one input work with: the settings of a server or a
// client installation, a recording window, the run log, the settings store,
// and the site.
class Session {
 public:
  Session(Installation& install, InstallationType type);
  ~Session();
  CommandContext context() {
    return {settings, window, log, site, Env::Default(), options};
  }

  RecordingWindow window;
  InstallSettings settings;
  RunLog log{&window};
  SettingsStore store;
  FakeSite site;
  // No wait after RUN: the inputs start no programs worth waiting for.
  CommandOptions options{.run_wait_seconds = 0};
};

}  // namespace mv::fuzz

#endif  // MVUPDATE_FUZZ_INSTALLATION_H_
