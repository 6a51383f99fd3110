// The FTP component ftpTransfer: one FTP session with asynchronous methods
// and one completion notification.
//
// Each method starts its work and returns at once. The end of every started
// method, successful or not, is reported by exactly one Done notification,
// raised from inside Pump on the caller's thread: the owner calls Pump in
// its wait loop, which blocks for at most the bound it is given. A method
// that cannot run (not connected, bad local file, busy) still returns at
// once and reports its failure through the Done of the next Pump, which then
// does not block.
//
// Remote names are relative to the session's current remote directory,
// which the component keeps itself; "\" and "/" both separate folders and
// ".." is the parent. Local names are native paths or paths as the suite
// writes them ("\" separators); a name without a folder is taken in the
// process's current directory.
#ifndef MVUPDATE_TRANSPORT_FTP_COMPONENT_H_
#define MVUPDATE_TRANSPORT_FTP_COMPONENT_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "system/deployment.h"

namespace mv {

// The method a Done reports (its LastMethod).
enum FtpMethod : int32_t {
  kFtpMethodConnect = 1,
  kFtpMethodChangeDirectory = 2,
  kFtpMethodGetFile = 3,
  kFtpMethodPutFile = 4,
  kFtpMethodDisconnect = 5,
  kFtpMethodList = 6,
};

// Completion codes of Done other than 0 (success). Problems with a local
// file are reported with the failure catalogue's numbers instead (53 File
// not found, 70 Permission denied, 76 Path not found, 61 Disk full, ...).
enum FtpErrorCode : int16_t {
  kFtpNotConnected = 1001,    // a transfer or directory change without login
  kFtpTimedOut = 1002,        // the site did not answer within the limit
  kFtpStalled = 1003,         // a transfer made no progress for too long
  kFtpHostNotFound = 1004,    // the site's name could not be resolved
  kFtpCannotConnect = 1005,   // refused or unreachable
  kFtpLoginRefused = 1006,    // user name or password not accepted
  kFtpFolderNotFound = 1007,  // a remote folder does not exist
  kFtpFileNotFound = 1008,    // the remote file does not exist
  kFtpUploadRefused = 1009,   // the site did not accept the upload
  kFtpConnectionLost = 1010,  // the connection broke during the request
  kFtpBadReply = 1011,        // the site answered something unexpected
  kFtpBadAddress = 1012,      // the site address is not a host[:port]
  kFtpBusy = 1013,            // another method is still running
  kFtpFailed = 1014,          // any other failure of the FTP request
  kFtpTlsRefused = 1015,      // TLS required, and the site does not offer it
  kFtpTlsFailed = 1016,       // the site's certificate or TLS did not work
  kFtpStopped = 1017,         // the person at the window stopped the run
};

// The value of State() while a login is established.
inline constexpr int16_t kFtpConnected = 1;

class FtpComponent {
 public:
  using DoneHandler = std::function<void(int32_t LastMethod, int16_t ErrorCode,
                                         std::string_view ErrorString)>;
  // Bytes moved so far and the size of the file (-1 when unknown).
  using ProgressHandler = std::function<void(int64_t done, int64_t total)>;

  virtual ~FtpComponent() = default;

  void SetDoneHandler(DoneHandler handler) { on_done_ = std::move(handler); }
  void SetProgressHandler(ProgressHandler handler) {
    on_progress_ = std::move(handler);
  }

  // kFtpConnected (1) while logged in; any other value means not connected.
  virtual int16_t State() const = 0;
  // True while the session is protected by TLS (control and data).
  virtual bool Encrypted() const { return false; }
  // Why the last Connect went on without TLS although TLS was tried (""
  // when it did not): said to the user at Warning level.
  const std::string& tls_note() const { return tls_note_; }

  // Logs in to `host` ("name" or "name:port") and makes the login directory
  // the current remote directory. The password is kept for the session
  // only and never appears in a Done text.
  virtual void Connect(std::string_view host, std::string_view user,
                       std::string_view password) = 0;
  // Moves the current remote directory; fails (and stays) when the target
  // does not exist.
  virtual void ChangeDirectory(std::string_view directory) = 0;
  // Downloads `remote_file` to `local_file`. The data goes to a partial
  // file beside the target, renamed over it only when complete: a failed
  // download leaves an earlier file of that name as it was. A download that
  // breaks off keeps its partial file, with the remote file's size and time,
  // and the next GetFile of that file continues it when they are unchanged.
  virtual void GetFile(std::string_view local_file,
                       std::string_view remote_file) = 0;
  // Uploads `local_file` as `remote_file`, replacing it.
  virtual void PutFile(std::string_view local_file,
                       std::string_view remote_file) = 0;
  // Ends the login.
  virtual void Disconnect() = 0;
  // Lists the names in `directory` (relative to the current remote
  // directory); they are in listed_names() when Done reports success.
  virtual void ListNames(std::string_view directory) = 0;
  const std::vector<std::string>& listed_names() const { return listed_; }

  // While set, GetFile computes the SHA-256 of the file it fetches as it
  // writes it (a resumed download reads the part kept once); after a
  // successful GetFile, sha256() holds it.
  void set_compute_sha256(bool on) { compute_sha256_ = on; }
  const std::string& sha256() const { return sha256_; }

  // Ends the running method at once without a Done for it (the caller gave
  // up waiting). A partial download is kept for the next attempt.
  virtual void Abort() = 0;

  // True when the failure the last Done reported may pass: the site could
  // not be reached, did not answer, or refused for the moment; a caller may
  // try again.
  bool last_failure_transient() const { return last_transient_; }

  // GetFile refuses files larger than this (0: no limit): at once when the
  // site tells the size first, else once more has arrived; nothing of such
  // a file is kept.
  void set_size_limit(int64_t bytes) { size_limit_ = bytes; }
  int64_t size_limit() const { return size_limit_; }

  // The time limits, TLS mode and certificates the component works with;
  // set by the session before its first method.
  void set_options(const SiteOptions& options) { options_ = options; }
  const SiteOptions& options() const { return options_; }

  // Lets the running method progress: raises the pending Done, or waits up
  // to `bound` for network activity, works on it and raises Done when the
  // method has ended. Never returns early without cause, so calling it in a
  // loop does not spin.
  virtual void Pump(std::chrono::milliseconds bound) = 0;

 protected:
  void RaiseDone(int32_t method, int16_t code, std::string_view text,
                 bool transient = false) {
    last_transient_ = transient;
    if (on_done_) on_done_(method, code, text);
  }
  std::vector<std::string> listed_;
  std::string tls_note_;
  bool compute_sha256_ = false;
  std::string sha256_;
  void RaiseProgress(int64_t done, int64_t total) {
    if (on_progress_) on_progress_(done, total);
  }

 private:
  DoneHandler on_done_;
  ProgressHandler on_progress_;
  bool last_transient_ = false;
  int64_t size_limit_ = 0;
  SiteOptions options_;
};

// Seconds for texts shown to the user: "30", "2.5".
std::string SecondsText(double seconds);

// The current remote directory of a session, relative to the directory
// the login starts in (or to the site's root once an absolute path was
// given). Both the component and its test double resolve names with it.
class RemotePath {
 public:
  // Applies `path` ("Merivane", "..\Update", "a/b", "\abs"): "\" and "/"
  // separate names, ".." goes up one level (above the login directory it is
  // kept as a literal ".."), "." and empty names are skipped, and a leading
  // separator starts from the site's root.
  RemotePath Resolve(std::string_view path) const;

  // The names from the start point, in order.
  const std::vector<std::string>& names() const { return names_; }
  bool absolute() const { return absolute_; }
  // "Merivane/Update", "/Merivane" for an absolute path, "" for the login
  // directory: the form used in texts for the user.
  std::string Display() const;

  bool operator==(const RemotePath&) const = default;

 private:
  std::vector<std::string> names_;
  bool absolute_ = false;
};

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_FTP_COMPONENT_H_
