// A session with the vendor's update site, as the update run uses it: log
// in, move between the site's folders, fetch and put files, log out. The FTP
// session implements it; the command interpreter sees only its
// FileTransfer side.
#ifndef MVUPDATE_TRANSPORT_SITE_SESSION_H_
#define MVUPDATE_TRANSPORT_SITE_SESSION_H_

#include <cstdint>
#include <string_view>

#include "log/run_log.h"
#include "update/file_transfer.h"

namespace mv {

class SiteSession : public FileTransfer {
 public:
  // Logs in unless the session is connected already (then the connection
  // is kept, whatever host it goes to). False when it failed; the failure
  // has been logged.
  virtual bool Connect(std::string_view host, std::string_view user,
                       std::string_view password) = 0;
  // True while the session is protected by TLS.
  virtual bool Encrypted() const = 0;
  // Changes the remote folder relative to the current one ("..\Update").
  virtual bool ChangeDirectory(std::string_view directory) = 0;
  // Fetches a file that the site may or may not hold: a file it does not
  // hold writes no line.
  enum class Presence { kGot, kAbsent, kFailed };
  virtual Presence GetFileIfPresent(std::string_view local_file,
                                    std::string_view remote_file) = 0;
  // Ends the login; traces a warning when there is none.
  virtual void Disconnect() = 0;
  // The level at which an operation's final failure is logged: Error, or
  // Warning while a failure still leaves another way.
  virtual void set_failure_level(int32_t level) = 0;
  // GetFile refuses a file larger than this (0: no limit): the transfer
  // stops once more has arrived, and nothing of it is kept.
  virtual void set_size_limit(int64_t bytes) = 0;
};

// While it lives, `site` logs final failures at `level` and refuses files
// larger than `size_limit` bytes (0: no limit); afterwards Error and no
// limit hold again, however the scope is left.
class SessionScope {
 public:
  SessionScope(SiteSession& site, int32_t level, int64_t size_limit = 0)
      : site_(site) {
    site_.set_failure_level(level);
    site_.set_size_limit(size_limit);
  }
  ~SessionScope() {
    site_.set_failure_level(kLevelError);
    site_.set_size_limit(0);
  }
  SessionScope(const SessionScope&) = delete;
  SessionScope& operator=(const SessionScope&) = delete;

 private:
  SiteSession& site_;
};

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_SITE_SESSION_H_
