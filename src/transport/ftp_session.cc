#include "transport/ftp_session.h"

#include <algorithm>
#include <string>

#include "system/deployment.h"
#include "system/files.h"
#include "system/paths.h"
#include "transport/curl_ftp_component.h"

namespace mv {

namespace {

// The longest the component may block in one pass of a wait: long enough
// to keep the CPU idle, short enough for the window to stay responsive.
constexpr std::chrono::milliseconds kPumpBound(50);

}  // namespace

void FtpSession::SetComponent(std::unique_ptr<FtpComponent> component) {
  component_ = std::move(component);
  if (!component_) return;
  component_->SetDoneHandler(
      [this](int32_t method, int16_t code, std::string_view text) {
        TransferDone(method, code, text);
      });
  component_->SetProgressHandler([this](int64_t done, int64_t total) {
    window_.ShowProgress(done, total);
  });
}

void FtpSession::Trace(int32_t level, std::string_view text, bool detail) {
  log_.Trace(level, text, detail);
}

// Without a component nothing can be done: the operation writes the error
// a call on a missing object gives and fails.
bool FtpSession::MissingComponent(std::string_view tag) {
  if (component_) return false;
  Trace(kLevelError, std::string(tag) + Failure(kObjectNotSet).Text(), true);
  return true;
}

std::chrono::milliseconds FtpSession::BoundFor(double limit_seconds) const {
  double left =
      limit_seconds - std::chrono::duration<double>(
                          std::chrono::steady_clock::now() - transfer_start_)
                          .count();
  auto left_ms = std::chrono::milliseconds(
      static_cast<int64_t>(std::max(0.0, left) * 1000) + 1);
  return std::min(kPumpBound, left_ms);
}

// The common wait around one component method. A wait that reaches its
// limit aborts the method and records a time-out as its result.
bool FtpSession::RunMethod(FtpMethod method, double limit_seconds,
                           const std::function<void(FtpComponent&)>& start) {
  transfer_done_ = false;
  transfer_start_ = std::chrono::steady_clock::now();
  start(*component_);
  for (;;) {
    component_->Pump(BoundFor(limit_seconds));
    window_.DoEvents();
    if (transfer_done_) break;
    if (TimeOut(limit_seconds)) {
      component_->Abort();
      bool transfer =
          method == kFtpMethodGetFile || method == kFtpMethodPutFile;
      TransferDone(method, kFtpTimedOut,
                   (transfer ? "The transfer did not finish within "
                             : "The FTP site did not answer within ") +
                       SecondsText(limit_seconds) + " seconds.");
      break;
    }
  }
  return transfer_error_ == 0;
}

bool FtpSession::Transfer(std::string_view tag, FtpMethod method,
                          std::string_view local_file,
                          std::string_view remote_file) {
  Trace(kLevelInformation, tag, false);
  if (MissingComponent(tag)) return false;
  RunMethod(method, kTransferLimitSeconds, [&](FtpComponent& c) {
    if (method == kFtpMethodGetFile) {
      c.GetFile(local_file, remote_file);
    } else {
      c.PutFile(local_file, remote_file);
    }
  });
  window_.HideProgress();
  return transfer_error_ == 0;
}

bool FtpSession::Connect(std::string_view host, std::string_view user,
                         std::string_view password) {
  Trace(kLevelInformation, "::Connect::", false);
  Trace(kLevelInformation, "IP Address:" + std::string(host), true);
  Trace(kLevelInformation, "Username  :" + std::string(user), true);
  if (MissingComponent("::Connect::")) return false;
  if (component_->State() == kFtpConnected) return true;
  return RunMethod(kFtpMethodConnect, FtpTimeoutSeconds(),
                   [&](FtpComponent& c) { c.Connect(host, user, password); });
}

bool FtpSession::ChangeDirectory(std::string_view directory) {
  Trace(kLevelInformation, "::ChangeDirectory::", false);
  if (MissingComponent("::ChangeDirectory::")) return false;
  return RunMethod(kFtpMethodChangeDirectory, FtpTimeoutSeconds(),
                   [&](FtpComponent& c) { c.ChangeDirectory(directory); });
}

bool FtpSession::GetFile(std::string_view local_file,
                         std::string_view remote_file) {
  return Transfer("::GetFile::", kFtpMethodGetFile, local_file, remote_file);
}

bool FtpSession::PutFile(std::string_view local_file,
                         std::string_view remote_file) {
  return Transfer("::PutFile::", kFtpMethodPutFile, local_file, remote_file);
}

void FtpSession::Disconnect() {
  Trace(kLevelInformation, "::Disconnect::", false);
  if (!component_ || component_->State() != kFtpConnected) {
    Trace(kLevelWarning,
          "::Disconnect::Can't disconnect because it's not connected.", true);
    return;
  }
  Trace(kLevelInformation, "::Disconnect::Disconnecting...3", true);
  RunMethod(kFtpMethodDisconnect, FtpTimeoutSeconds(),
            [](FtpComponent& c) { c.Disconnect(); });
}

bool FtpSession::TimeOut(double limit_seconds) {
  Trace(kLevelMessage, "::TimeOut::", false);
  float elapsed = std::chrono::duration<float>(
                      std::chrono::steady_clock::now() - transfer_start_)
                      .count();
  return elapsed > limit_seconds;
}

void FtpSession::TransferDone(int32_t /*method*/, int16_t code,
                              std::string_view text) {
  transfer_error_ = code;
  transfer_done_ = true;
  if (code != 0) log_.Error(std::to_string(code) + "-" + std::string(text));
}

void InitFTPControl(
    FtpSession& session, const InstallSettings& settings, RunLog& log,
    const std::function<std::unique_ptr<FtpComponent>()>& make) {
  std::unique_ptr<FtpComponent> component =
      make ? make() : MakeCurlFtpComponent();
  if (!component) {
    log.Error("*** InitFTPControl *** Could not initialize the FTP Control. (" +
              Failure(kCannotCreateObject).Text() + ")");
  }
  session.SetComponent(std::move(component));
  Status st = ChangeFolder(settings.App("\\Download"));
  if (!st.ok()) {
    log.Error(
        "*** InitFTPControl *** Could not change to download directory.(" +
        st.failure().Text() + ")");
  }
}

}  // namespace mv
