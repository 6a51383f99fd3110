// The FTP session: blocking operations over the asynchronous FTP component,
// and the state they share (the Comm module of the utility).
//
// Each operation starts one component method and then waits: it lets the
// window's events run, lets the component work for at most a short bound
// (blocking on its sockets, never spinning) and stops when the component's
// Done has arrived or the operation's time limit has passed. A wait that
// reaches its limit aborts the method and fails. Trace lines go to the
// event log file only; the password and the file names are never traced.
#ifndef MVUPDATE_TRANSPORT_FTP_SESSION_H_
#define MVUPDATE_TRANSPORT_FTP_SESSION_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "log/run_log.h"
#include "system/deployment.h"
#include "system/env.h"
#include "system/install_settings.h"
#include "system/progress.h"
#include "system/window.h"
#include "transport/ftp_component.h"
#include "transport/site_session.h"

namespace mv {

// Limit of GetFile and PutFile; Connect, ChangeDirectory and Disconnect use
// the session's SiteOptions::timeout_seconds.
inline constexpr double kTransferLimitSeconds = 3600;

class FtpSession : public SiteSession {
 public:
  // `window` lets events run during waits and shows transfer progress.
  FtpSession(RunLog& log, Window& window) : log_(log), window_(window) {}
  FtpSession(const FtpSession&) = delete;
  FtpSession& operator=(const FtpSession&) = delete;

  // Takes the component and connects its events to this session; null
  // leaves the session without one, and every operation then fails at once.
  void SetComponent(std::unique_ptr<FtpComponent> component);
  FtpComponent* component() const { return component_.get(); }

  // The time limits, retries and TLS mode of the session and its component.
  void set_options(const SiteOptions& options);
  const SiteOptions& options() const { return options_; }

  bool Connect(std::string_view host, std::string_view user,
               std::string_view password) override;
  bool Encrypted() const override {
    return component_ && component_->Encrypted();
  }
  bool ChangeDirectory(std::string_view directory) override;
  // A session that is not connected fails at once.
  using FileTransfer::GetFile;
  bool GetFile(std::string_view local_file, std::string_view remote_file,
               std::string* sha256) override;
  bool PutFile(std::string_view local_file,
               std::string_view remote_file) override;
  Presence GetFileIfPresent(std::string_view local_file,
                            std::string_view remote_file) override;
  void Disconnect() override;

  // True when more than `limit_seconds` have passed since the running
  // method started.
  bool TimeOut(double limit_seconds);

  // The handler of the component's Done: records the result.
  void TransferDone(int32_t method, int16_t code, std::string_view text);

  // The code of the most recent Done; never reset by an operation.
  int16_t transfer_error() const { return transfer_error_; }

  void set_failure_level(int32_t level) override { failure_level_ = level; }
  void set_size_limit(int64_t bytes) override {
    if (component_) component_->set_size_limit(bytes);
  }

 private:
  using Start = std::function<void(FtpComponent&)>;

  void Trace(int32_t level, std::string_view text, bool detail);
  bool MissingComponent(std::string_view tag);
  std::chrono::milliseconds BoundFor(double limit_seconds) const;
  // One attempt of a method, waited for; the result in transfer_error_.
  bool Attempt(FtpMethod method, double limit_seconds, const Start& start);
  // Attempts again after a failure that may pass (refused, lost, timed
  // out, a 4xx reply), pausing 1 s, 2 s, 4 s ... in between, each retry on
  // a Warning line. The final failure is not logged here.
  bool RunMethod(FtpMethod method, double limit_seconds, const Start& start);
  // Logs the last failure as "code-text" at the failure level.
  void ReportFailure();
  bool Transient() const;
  // After a "not found", the names of `path` as the site writes them when
  // they match without regard to case (each level must match one entry
  // only); nothing when they do not.
  std::optional<std::string> MatchCase(std::string_view path);
  bool NotFound() const;
  // After a miss, runs `run` again with the names matched without case;
  // keeps the first failure when that does not help.
  bool RetryWithSiteCase(std::string_view path,
                         const std::function<bool(const std::string&)>& run);
  // Without `report`, a file the site does not hold writes no line.
  bool Transfer(std::string_view tag, FtpMethod method,
                std::string_view local_file, std::string_view remote_file,
                std::string* sha256 = nullptr, bool report_missing = true);

  // Keeps the status bar saying what the current method waits for.
  void ShowWait(FtpMethod method);

  RunLog& log_;
  Window& window_;
  std::unique_ptr<FtpComponent> component_;
  SiteOptions options_;
  // The file being transferred, its bytes, rate and time left.
  ProgressMeter meter_;
  bool transferring_ = false;
  // False while an operation waits for its Done.
  bool transfer_done_ = false;
  int16_t transfer_error_ = 0;
  std::string transfer_text_;
  int32_t failure_level_ = kLevelError;
  // When the current operation started its method (a monotonic clock, so a
  // wait across midnight or a clock change ends on time).
  std::chrono::steady_clock::time_point transfer_start_;
};

// Start-up step: gives `session` its options and a component (`make`, else
// the libcurl component writing through `env`) and makes <app>/Download the
// current directory. Failures are logged; start-up goes on.
void InitFTPControl(
    FtpSession& session, const InstallSettings& settings, RunLog& log, Env& env,
    const SiteOptions& options,
    const std::function<std::unique_ptr<FtpComponent>()>& make = nullptr);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_FTP_SESSION_H_
