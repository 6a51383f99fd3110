#include "transport/control_file_fetch.h"

#include <string>

#include "app/form.h"
#include "app/run_log.h"
#include "system/files.h"
#include "system/paths.h"
#include "transport/comm.h"
#include "update/string_helpers.h"

namespace mv {

namespace {

constexpr std::string_view kCustomerFile = "MVControl.dat";
constexpr std::string_view kUpdateFile = "MVUpdate.dat";
constexpr std::string_view kAlternatePrefix = "..........: ";

// <app>/Update/<file>: where every fetch leaves its file.
std::string UpdateCopy(const Form& form, std::string_view file) {
  return JoinPath(form.settings.ApplicationPath,
                  "\\Update\\" + std::string(file));
}

// \\<ServerName>\MVUpdate\<file> on this machine.
std::string ShareCopy(const Form& form, std::string_view file) {
  return NativePath("\\\\" + form.settings.ServerName + "\\MVUpdate\\" +
                    std::string(file));
}

// A failure of a local or share copy, which ends the fetch.
void RunTimeError(Form& form, std::string_view prefix, const Failure& f,
                  bool log_last_error) {
  form.settings.LastError = std::string(prefix) + f.Text();
  LogError(form, log_last_error ? form.settings.LastError : f.Text());
}

// Logs the three progress lines of a copy from the server's share.
void LogShareCopy(Form& form, std::string_view prefix, std::string_view file) {
  std::string p(prefix);
  LogInfo(form, p + "Copy to client from server.");
  LogInfo(form, p + "Server: " + ShareCopy(form, file));
  LogInfo(form, p + "Client: " + UpdateCopy(form, file));
}

// Downloads `file` into the current directory and copies it to Update.
// Gives the copy's failure, if any; `got` tells whether the download worked.
std::optional<Failure> DownloadAndCopy(Form& form, std::string_view file,
                                       bool& got) {
  int16_t code = 0;
  got = GetFile(form, file, file, code);
  if (!got) return std::nullopt;
  Status st = CopyFile(std::string(file), UpdateCopy(form, file));
  if (!st.ok()) return st.failure();
  return std::nullopt;
}

}  // namespace

bool GetCustomerControlFile(Form& form) {
  bool result = false;
  if (form.ServerFlavour()) {
    std::string number = TrimBlanks(form.customer.CustomerNum);
    LogInfo(form, "Changing directory on FTPSite to " + number);
    if (!ChangeDirectory(form, number)) {
      LogError(form, "!!! Could not change directories (" + number + ").");
    } else {
      LogInfo(form, "Getting MVControl.dat from FTPSite ");
      bool got = false;
      std::optional<Failure> f = DownloadAndCopy(form, kCustomerFile, got);
      if (f) {
        LogInfo(form, "Got MVControl.dat");
        RunTimeError(form, "!!! ERROR:", *f, true);
      } else if (got) {
        LogInfo(form, "Got MVControl.dat");
        LogInfo(form, "Copied to Update folder.");
        result = true;
      } else {
        LogError(form, "!!! Could not get file (MVControl.dat).");
      }
    }
  } else {
    LogShareCopy(form, "", kCustomerFile);
    Status st = CopyFile(ShareCopy(form, kCustomerFile),
                         UpdateCopy(form, kCustomerFile));
    if (st.ok()) {
      result = true;
    } else {
      RunTimeError(form, "!!! ERROR:", st.failure(), true);
    }
  }
  LogInfo(form, " ");
  return result;
}

bool GetAlternateCustomerControlFile(Form& form) {
  bool result = false;
  if (form.ServerFlavour()) {
    LogInfo(form, "Getting MVControl.dat from FTPSite ");
    if (ChangeDirectory(form, "Merivane")) {
      LogInfo(form, "changed to Merivane ");
      if (ChangeDirectory(form, "Update")) LogInfo(form, "changed to Update ");
    }
    bool got = false;
    std::optional<Failure> f = DownloadAndCopy(form, kCustomerFile, got);
    if (got) LogInfo(form, "Got MVControl.dat");
    if (f) {
      RunTimeError(form, "********** ERROR:", *f, false);
    } else if (got) {
      LogInfo(form, "Copied to Update folder.");
      result = true;
    } else {
      LogError(form, "Could not get file (MVControl.dat).");
    }
  } else {
    LogShareCopy(form, kAlternatePrefix, kCustomerFile);
    Status st = CopyFile(ShareCopy(form, kCustomerFile),
                         UpdateCopy(form, kCustomerFile));
    if (st.ok()) {
      result = true;
    } else {
      RunTimeError(form, "********** ERROR:", st.failure(), false);
    }
  }
  LogInfo(form, " ");
  return result;
}

namespace {

// The client flavour of both update fetches: error 75 means the share is
// not there, which gets advice instead of the bare failure.
bool CopyUpdateFileFromShare(Form& form, std::string_view prefix,
                             std::string_view advice) {
  LogShareCopy(form, prefix, kUpdateFile);
  Status st =
      CopyFile(ShareCopy(form, kUpdateFile), UpdateCopy(form, kUpdateFile));
  if (st.ok()) return true;
  if (st.failure().number() == kPathFileAccessError) {
    LogError(form, advice);
  } else {
    RunTimeError(form, "********** ERROR:", st.failure(), false);
  }
  return false;
}

// The server flavour of both update fetches, after any directory change.
bool DownloadUpdateFile(Form& form, std::string_view prefix,
                        std::string_view failure_line) {
  bool got = false;
  std::optional<Failure> f = DownloadAndCopy(form, kUpdateFile, got);
  std::string p(prefix);
  if (got) LogInfo(form, p + "got MVUpdate.dat");
  if (f) {
    RunTimeError(form, "********** ERROR:", *f, false);
    return false;
  }
  if (!got) {
    LogError(form, failure_line);
    return false;
  }
  LogInfo(form,
          p + "copied to folder (" + UpdateCopy(form, kUpdateFile) + ").");
  return true;
}

}  // namespace

bool GetUpdateControlFile(Form& form) {
  // Shown whatever the log level, and not written to the event log.
  form.window.AddLine("Getting update control file.");
  bool result = false;
  if (form.ServerFlavour()) {
    if (!ChangeDirectory(form, "..\\Update")) {
      LogError(form, "!!! Could not change directories (..\\Update).");
    } else {
      result = DownloadUpdateFile(form, "",
                                  "!!! Could not get file (MVUpdate.dat).");
    }
  } else {
    result = CopyUpdateFileFromShare(
        form, "",
        "!!! Could not copy file from server, make sure the Update folder is "
        "shared as MVUpdate.");
  }
  LogInfo(form, "Getting of update control file complete.");
  return result;
}

bool GetAlternateUpdateControlFile(Form& form) {
  bool result;
  if (form.ServerFlavour()) {
    result = DownloadUpdateFile(form, kAlternatePrefix,
                                "Could not get file (MVUpdate.dat).");
  } else {
    result = CopyUpdateFileFromShare(
        form, kAlternatePrefix,
        "Could not copy file from server, make sure the Update folder is "
        "shared as MVUpdate.");
  }
  LogInfo(form, " ");
  return result;
}

}  // namespace mv
