// A real FTP server for tests: pyftpdlib (scripts/lib/ftp_site.py) on
// 127.0.0.1, on a free port, serving a temporary folder to one user. It
// records every command it receives, in order, as "VERB argument" ("PASS"
// without its argument); SetFault breaks the transfers; Stop, Kill and
// Restart take it away and bring it back on the same port. Shared() gives
// the one server of the test program, stopped when the program exits (and
// killed by the system should the program die first). Check ok() and
// error().
#ifndef MVUPDATE_TESTS_SUPPORT_FTP_SERVER_H_
#define MVUPDATE_TESTS_SUPPORT_FTP_SERVER_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/sandbox.h"

namespace mv {

class FtpServer {
 public:
  struct Options {
    std::string user = "merivane";
    std::string password = "pa ss:w@rd/1";
  };

  // What the data connection does after `after_bytes` of the next
  // transfers: stop sending or reading but stay open, reset and answer
  // "426", or (uploads only) keep no more of what arrives and answer "226".
  enum class Fault { kNone, kStall, kDrop, kCut };

  // Starts the server; check ok().
  FtpServer() : FtpServer(Options()) {}
  explicit FtpServer(Options options);
  ~FtpServer();
  FtpServer(const FtpServer&) = delete;
  FtpServer& operator=(const FtpServer&) = delete;

  // The server of this test program, started at the first call.
  static FtpServer& Shared();

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // "127.0.0.1:port", as Connect takes it.
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::string& user() const { return options_.user; }
  const std::string& password() const { return options_.password; }
  // The folder the login starts in, and a path below it.
  const std::string& root() const { return root_; }
  std::string Path(std::string_view relative) const {
    return root_ + "/" + std::string(relative);
  }

  // Files below root(); Put makes the parents, Get gives "" for a missing
  // file.
  void Put(std::string_view relative, std::string_view contents) const;
  std::string Get(std::string_view relative) const;
  bool Exists(std::string_view relative) const;

  // The commands received since the start or the last ClearCommands; how
  // many have the verb `verb` ("USER", "CWD"...); their arguments.
  std::vector<std::string> Commands() const;
  int Count(std::string_view verb) const;
  std::vector<std::string> Arguments(std::string_view verb) const;
  void ClearCommands() const;

  // Applies to data connections opened from now on, or to the next one.
  void SetFault(Fault fault, int64_t after_bytes = 64 * 1024,
                bool once = false) const;

  // Ends the server cleanly, or at once as a crash would (connections are
  // reset); Restart starts it again on the same port.
  bool Stop();
  bool Kill();
  bool Restart();
  bool running() const { return pid_ > 0; }

  // Running, no fault, an empty site and an empty command list.
  void Reset();

 private:
  bool Launch(int port);
  bool EndProcess(int signal);

  Options options_;
  TempFolder folder_;
  std::string root_ = folder_ / "root", state_ = folder_ / "state";
  int port_ = 0;
  pid_t pid_ = -1;
  std::string error_;
};

// A TCP port on 127.0.0.1 that accepts connections and never says a word:
// a site that hangs before its greeting. Given `replies`, it answers each
// connection with the first and every line received with the next one
// (CR LF added), then closes it: a site with a script.
class SilentServer {
 public:
  explicit SilentServer(std::vector<std::string> replies = {});
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  int port() const { return port_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1, port_ = 0;
  std::thread answering_;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
int RefusingPort();

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_FTP_SERVER_H_
