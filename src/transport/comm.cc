#include "transport/comm.h"

#include <algorithm>
#include <functional>
#include <string>

#include "app/form.h"
#include "app/run_log.h"
#include "system/deployment.h"
#include "system/files.h"
#include "system/paths.h"
#include "transport/curl_ftp_component.h"
#include "transport/ftp_component.h"

namespace mv {

namespace {

// The longest the component may block in one pass of a wait: long enough
// to keep the CPU idle, short enough for the window to stay responsive.
constexpr std::chrono::milliseconds kPumpBound(50);

void Trace(Form& form, int32_t level, std::string_view text, bool detail) {
  CommLogMessage(form.comm.log, level, text, true, false, detail);
}

// Without a component nothing can be done: the operation writes the error
// a call on a missing object gives and fails.
bool MissingComponent(Form& form, std::string_view tag) {
  if (form.ftpTransfer) return false;
  Trace(form, kLevelError, std::string(tag) + Failure(kObjectNotSet).Text(),
        true);
  return true;
}

std::chrono::milliseconds BoundFor(const Comm& comm, double limit_seconds) {
  double left = limit_seconds -
                std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                              comm.TransferStartTime)
                    .count();
  auto left_ms = std::chrono::milliseconds(
      static_cast<int64_t>(std::max(0.0, left) * 1000) + 1);
  return std::min(kPumpBound, left_ms);
}

// The common wait around one component method. A wait that reaches its
// limit aborts the method and records a time-out as its result.
bool RunMethod(Form& form, FtpMethod method, double limit_seconds,
               const std::function<void(FtpComponent&)>& start) {
  Comm& comm = form.comm;
  comm.TransferDone = false;
  comm.TransferStartTime = std::chrono::steady_clock::now();
  start(*form.ftpTransfer);
  for (;;) {
    form.ftpTransfer->Pump(BoundFor(comm, limit_seconds));
    form.window.DoEvents();
    if (comm.TransferDone) break;
    if (TimeOut(form, limit_seconds)) {
      form.ftpTransfer->Abort();
      bool transfer =
          method == kFtpMethodGetFile || method == kFtpMethodPutFile;
      ftpTransfer_Done(form, method, kFtpTimedOut,
                       (transfer ? "The transfer did not finish within "
                                 : "The FTP site did not answer within ") +
                           SecondsText(limit_seconds) + " seconds.");
      break;
    }
  }
  return comm.TransferError == 0;
}

bool Transfer(Form& form, std::string_view tag, FtpMethod method,
              std::string_view local_file, std::string_view remote_file,
              int16_t& error_code) {
  Trace(form, kLevelInformation, tag, false);
  if (MissingComponent(form, tag)) {
    error_code = kObjectNotSet;
    return false;
  }
  RunMethod(form, method, kTransferLimitSeconds, [&](FtpComponent& c) {
    if (method == kFtpMethodGetFile) {
      c.GetFile(local_file, remote_file);
    } else {
      c.PutFile(local_file, remote_file);
    }
  });
  form.window.HideProgress();
  error_code = form.comm.TransferError;
  return error_code == 0;
}

}  // namespace

bool Connect(Form& form, std::string_view host, std::string_view user,
             std::string_view password) {
  Trace(form, kLevelInformation, "::Connect::", false);
  Trace(form, kLevelInformation, "IP Address:" + std::string(host), true);
  Trace(form, kLevelInformation, "Username  :" + std::string(user), true);
  if (MissingComponent(form, "::Connect::")) return false;
  if (form.ftpTransfer->State() == kFtpConnected) return true;
  return RunMethod(form, kFtpMethodConnect, FtpTimeoutSeconds(),
                   [&](FtpComponent& c) { c.Connect(host, user, password); });
}

bool ChangeDirectory(Form& form, std::string_view directory) {
  Trace(form, kLevelInformation, "::ChangeDirectory::", false);
  if (MissingComponent(form, "::ChangeDirectory::")) return false;
  return RunMethod(form, kFtpMethodChangeDirectory, FtpTimeoutSeconds(),
                   [&](FtpComponent& c) { c.ChangeDirectory(directory); });
}

bool GetFile(Form& form, std::string_view local_file,
             std::string_view remote_file, int16_t& error_code) {
  return Transfer(form, "::GetFile::", kFtpMethodGetFile, local_file,
                  remote_file, error_code);
}

bool PutFile(Form& form, std::string_view local_file,
             std::string_view remote_file, int16_t& error_code) {
  return Transfer(form, "::PutFile::", kFtpMethodPutFile, local_file,
                  remote_file, error_code);
}

void Disconnect(Form& form) {
  Trace(form, kLevelInformation, "::Disconnect::", false);
  if (!form.ftpTransfer || form.ftpTransfer->State() != kFtpConnected) {
    Trace(form, kLevelWarning,
          "::Disconnect::Can't disconnect because it's not connected.", true);
    return;
  }
  Trace(form, kLevelInformation, "::Disconnect::Disconnecting...3", true);
  RunMethod(form, kFtpMethodDisconnect, FtpTimeoutSeconds(),
            [](FtpComponent& c) { c.Disconnect(); });
}

bool TimeOut(Form& form, double limit_seconds) {
  Trace(form, kLevelMessage, "::TimeOut::", false);
  float elapsed =
      std::chrono::duration<float>(std::chrono::steady_clock::now() -
                                   form.comm.TransferStartTime)
          .count();
  return elapsed > limit_seconds;
}

void ftpTransfer_Done(Form& form, int32_t /*LastMethod*/, int16_t ErrorCode,
                      std::string_view ErrorString) {
  form.comm.TransferError = ErrorCode;
  form.comm.TransferDone = true;
  if (ErrorCode != 0) {
    LogMessage(form, kLevelError,
               std::to_string(ErrorCode) + "-" + std::string(ErrorString), true,
               false, true);
  }
}

void InitFTPControl(Form& form) {
  std::unique_ptr<FtpComponent> component = form.make_ftp_component
                                                ? form.make_ftp_component()
                                                : MakeCurlFtpComponent();
  if (!component) {
    LogMessage(
        form, kLevelError,
        "*** InitFTPControl *** Could not initialize the FTP Control. (" +
            Failure(kCannotCreateObject).Text() + ")",
        true, false, true);
  } else {
    component->SetDoneHandler(
        [&form](int32_t method, int16_t code, std::string_view text) {
          ftpTransfer_Done(form, method, code, text);
        });
    component->SetProgressHandler([&form](int64_t done, int64_t total) {
      form.window.ShowProgress(done, total);
    });
  }
  form.ftpTransfer = std::move(component);
  Status st =
      ChangeFolder(JoinPath(form.settings.ApplicationPath, "\\Download"));
  if (!st.ok()) {
    LogMessage(form, kLevelError,
               "*** InitFTPControl *** Could not change to download "
               "directory.(" +
                   st.failure().Text() + ")",
               true, false, true);
  }
}

}  // namespace mv
