#include "transport/ftp_session.h"

#include <algorithm>
#include <string>

#include "system/deployment.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/text.h"
#include "transport/curl_ftp_component.h"
#include "update/wait.h"

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
    meter_.Note(done, total);
    if (transferring_) window_.ShowActivity(meter_.Text());
    window_.ShowProgress(done, total);
  });
  component_->set_options(options_);
}

void FtpSession::set_options(const SiteOptions& options) {
  options_ = options;
  if (component_) component_->set_options(options_);
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
bool FtpSession::Attempt(FtpMethod method, double limit_seconds,
                         const Start& start) {
  transfer_done_ = false;
  transfer_start_ = std::chrono::steady_clock::now();
  start(*component_);
  for (;;) {
    component_->Pump(BoundFor(limit_seconds));
    window_.DoEvents();
    if (transfer_done_) break;
    ShowWait(method);
    // A stop cuts off a login and a download (which keeps its partial file
    // for the next run). The status report's way to the site and the
    // logout are short and tell the site how the run ended; they finish.
    if ((method == kFtpMethodConnect || method == kFtpMethodGetFile) &&
        window_.StopRequested()) {
      component_->Abort();
      TransferDone(method, kFtpStopped,
                   "Stopped at the request of the person at the window.");
      break;
    }
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
  if (!transferring_) window_.ShowActivity("");
  return transfer_error_ == 0;
}

bool FtpSession::Transient() const {
  // The session's own time limit, or what the component says.
  return transfer_error_ == kFtpTimedOut ||
         component_->last_failure_transient();
}

bool FtpSession::RunMethod(FtpMethod method, double limit_seconds,
                           const Start& start) {
  int retries = options_.retries;
  std::chrono::milliseconds pause(1000);
  for (int retry = 1;; ++retry) {
    if (Attempt(method, limit_seconds, start)) return true;
    if (retry > retries || !Transient() || window_.StopRequested()) {
      return false;
    }
    log_.Warning(std::to_string(transfer_error_) + "-" + transfer_text_ +
                 " Trying again in " + std::to_string(pause.count() / 1000) +
                 " s (retry " + std::to_string(retry) + " of " +
                 std::to_string(retries) + ").");
    PumpFor(window_, pause, [this](std::chrono::milliseconds left) {
      window_.ShowActivity(
          "waiting to try the site again (" +
          DurationText(std::chrono::ceil<std::chrono::seconds>(left).count()) +
          ")");
    });
    window_.ShowActivity("");
    // Doubling, but never more than a minute between two tries.
    pause = std::min(pause * 2, std::chrono::milliseconds(60000));
  }
}

void FtpSession::ShowWait(FtpMethod method) {
  if (method == kFtpMethodGetFile || method == kFtpMethodPutFile) {
    // The meter says when the data stalls.
    window_.ShowActivity(meter_.Text());
    return;
  }
  window_.ShowActivity(WaitingText(
      "the site", std::chrono::steady_clock::now() - transfer_start_));
}

void FtpSession::ReportFailure() {
  log_.LogMessage(failure_level_,
                  std::to_string(transfer_error_) + "-" + transfer_text_);
}

bool FtpSession::NotFound() const {
  return transfer_error_ == kFtpFolderNotFound ||
         transfer_error_ == kFtpFileNotFound;
}

std::optional<std::string> FtpSession::MatchCase(std::string_view path) {
  std::string matched;
  if (!path.empty() && (path.front() == '\\' || path.front() == '/')) {
    matched = "/";
  }
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find_first_of("\\/", pos);
    if (end == std::string_view::npos) end = path.size();
    std::string name(path.substr(pos, end - pos));
    pos = end + 1;
    if (name.empty()) continue;
    if (name != "." && name != "..") {
      std::string folder = matched.empty() ? "." : matched;
      if (!Attempt(kFtpMethodList, options_.timeout_seconds,
                   [&](FtpComponent& c) { c.ListNames(folder); })) {
        return std::nullopt;
      }
      std::vector<std::string> same;
      bool exact = false;
      for (const std::string& listed : component_->listed_names()) {
        std::string entry = listed.substr(listed.find_last_of('/') + 1);
        exact = exact || entry == name;
        if (EqualsIgnoreCase(entry, name)) same.push_back(entry);
      }
      if (!exact && same.size() != 1) return std::nullopt;
      if (!exact) name = same.front();
    }
    if (!matched.empty() && matched.back() != '/') matched += '/';
    matched += name;
  }
  return matched;
}

// A site whose names keep their case may hold "Patch1.zip" where a control
// file written for a site that ignores case says "PATCH1.ZIP": after a miss
// the names are looked up without case. The first miss is only reported
// when that finds nothing either.
bool FtpSession::RetryWithSiteCase(
    std::string_view path, const std::function<bool(const std::string&)>& run) {
  int16_t code = transfer_error_;
  std::string text = transfer_text_;
  std::optional<std::string> matched = MatchCase(path);
  if (matched && *matched != path && run(*matched)) return true;
  transfer_error_ = code;
  transfer_text_ = text;
  return false;
}

bool FtpSession::Transfer(std::string_view tag, FtpMethod method,
                          std::string_view local_file,
                          std::string_view remote_file, std::string* sha256,
                          bool report_missing) {
  Trace(kLevelInformation, tag, false);
  if (MissingComponent(tag)) return false;
  component_->set_compute_sha256(sha256 != nullptr);
  meter_.Start((method == kFtpMethodGetFile ? "Downloading " : "Uploading ") +
               std::string(remote_file));
  transferring_ = true;
  auto run = [&](std::string_view remote) {
    return RunMethod(method, kTransferLimitSeconds, [&](FtpComponent& c) {
      if (method == kFtpMethodGetFile) {
        c.GetFile(local_file, remote);
      } else {
        c.PutFile(local_file, remote);
      }
    });
  };
  bool ok = run(remote_file) || (method == kFtpMethodGetFile && NotFound() &&
                                 RetryWithSiteCase(remote_file, run));
  if (!ok && (report_missing || !NotFound())) ReportFailure();
  if (ok && sha256) *sha256 = component_->sha256();
  component_->set_compute_sha256(false);
  transferring_ = false;
  window_.HideProgress();
  window_.ShowActivity("");
  return ok;
}

bool FtpSession::Connect(std::string_view host, std::string_view user,
                         std::string_view password) {
  Trace(kLevelInformation, "::Connect::", false);
  Trace(kLevelInformation, "IP Address:" + std::string(host), true);
  Trace(kLevelInformation, "Username  :" + std::string(user), true);
  if (MissingComponent("::Connect::")) return false;
  if (component_->State() == kFtpConnected) return true;
  if (RunMethod(kFtpMethodConnect, options_.timeout_seconds,
                [&](FtpComponent& c) { c.Connect(host, user, password); })) {
    if (!component_->tls_note().empty()) log_.Warning(component_->tls_note());
    return true;
  }
  ReportFailure();
  return false;
}

bool FtpSession::ChangeDirectory(std::string_view directory) {
  Trace(kLevelInformation, "::ChangeDirectory::", false);
  if (MissingComponent("::ChangeDirectory::")) return false;
  auto change = [&](std::string_view folder) {
    return RunMethod(
        kFtpMethodChangeDirectory, options_.timeout_seconds,
        [&, folder](FtpComponent& c) { c.ChangeDirectory(folder); });
  };
  if (change(directory)) return true;
  if (NotFound() && RetryWithSiteCase(directory, change)) return true;
  ReportFailure();
  return false;
}

bool FtpSession::GetFile(std::string_view local_file,
                         std::string_view remote_file, std::string* sha256) {
  return Transfer("::GetFile::", kFtpMethodGetFile, local_file, remote_file,
                  sha256);
}

bool FtpSession::PutFile(std::string_view local_file,
                         std::string_view remote_file) {
  return Transfer("::PutFile::", kFtpMethodPutFile, local_file, remote_file);
}

SiteSession::Presence FtpSession::GetFileIfPresent(
    std::string_view local_file, std::string_view remote_file) {
  if (Transfer("::GetFile::", kFtpMethodGetFile, local_file, remote_file,
               nullptr, false)) {
    return Presence::kGot;
  }
  return NotFound() ? Presence::kAbsent : Presence::kFailed;
}

void FtpSession::Disconnect() {
  Trace(kLevelInformation, "::Disconnect::", false);
  if (!component_ || component_->State() != kFtpConnected) {
    Trace(kLevelWarning,
          "::Disconnect::Can't disconnect because it's not connected.", true);
    return;
  }
  Trace(kLevelInformation, "::Disconnect::Disconnecting...3", true);
  if (!Attempt(kFtpMethodDisconnect, options_.timeout_seconds,
               [](FtpComponent& c) { c.Disconnect(); })) {
    ReportFailure();
  }
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
  transfer_text_ = text;
  transfer_done_ = true;
}

void InitFTPControl(
    FtpSession& session, const InstallSettings& settings, RunLog& log, Env& env,
    const SiteOptions& options,
    const std::function<std::unique_ptr<FtpComponent>()>& make) {
  std::unique_ptr<FtpComponent> component =
      make ? make() : MakeCurlFtpComponent(env);
  if (!component) {
    log.Error("*** InitFTPControl *** Could not initialize the FTP Control. (" +
              Failure(kCannotCreateObject).Text() + ")");
  }
  session.SetComponent(std::move(component));
  session.set_options(options);
  Status st = ChangeFolder(settings.App("\\Download"));
  if (!st.ok()) {
    log.Error(
        "*** InitFTPControl *** Could not change to download directory.(" +
        st.failure().Text() + ")");
  }
}

}  // namespace mv
