// A real FTP server for tests: pyftpdlib (run by /usr/bin/python3 through
// tests/support/ftp_server.py) on 127.0.0.1, on a free port, serving a
// temporary folder to one user.
//
//   FtpServer& site = FtpServer::Shared();   // started at first use
//   site.Reset();                            // empty site, no fault, log
//   cleared site.Put("Merivane/Update/MVUpdate.dat", "LASTUPDATE=12\r\n");
//   Connect(form, site.host(), site.user(), site.password());
//   ...
//   EXPECT_EQ(site.Count("USER"), 1);
//   EXPECT_EQ(site.Commands().back(), "QUIT");
//
// Shared() gives the one server of the test program (ctest runs each test
// case in a process of its own, so every case gets a fresh server); it is
// stopped when the program exits, and killed by the system should the
// program die first. The server records every command it receives, in
// order, as "VERB argument" ("PASS" without its argument). Faults for tests
// of broken transfers are set with SetFault; Stop, Kill and Restart take
// the server away and bring it back on the same port.
//
// The class does not use the test framework, so benchmarks can use it too;
// failures are reported through ok() and error().
#ifndef MVUPDATE_TESTS_SUPPORT_FTP_SERVER_H_
#define MVUPDATE_TESTS_SUPPORT_FTP_SERVER_H_

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mv {

class FtpServer {
 public:
  struct Options {
    std::string user = "merivane";
    std::string password = "pa ss:w@rd/1";
  };

  // What the data connection does during the next transfers.
  enum class Fault {
    kNone,
    // After `after_bytes` the server stops sending (downloads) or reading
    // (uploads) but keeps the connection open.
    kStall,
    // After `after_bytes` the server resets the data connection and answers
    // "426".
    kDrop,
  };

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
  std::string host() const;
  int port() const { return port_; }
  const std::string& user() const { return options_.user; }
  const std::string& password() const { return options_.password; }
  // The folder the login starts in.
  const std::string& root() const { return root_; }
  // root() + "/" + `relative`.
  std::string Path(std::string_view relative) const;

  // Writes a file below root(), creating its folders.
  void Put(std::string_view relative, std::string_view contents) const;
  // Creates a folder (and its parents) below root().
  void MakeFolder(std::string_view relative) const;
  // The contents of a file below root(); empty when it is missing.
  std::string Get(std::string_view relative) const;
  bool Exists(std::string_view relative) const;

  // The commands received since the start or the last ClearCommands.
  std::vector<std::string> Commands() const;
  // How many of them have the verb `verb` ("USER", "CWD", ...).
  int Count(std::string_view verb) const;
  // The arguments of the commands with verb `verb`, in order.
  std::vector<std::string> Arguments(std::string_view verb) const;
  void ClearCommands() const;

  // Applies to data connections opened from now on.
  void SetFault(Fault fault, int64_t after_bytes = 64 * 1024) const;

  // Ends the server cleanly (open sessions are closed).
  bool Stop();
  // Ends the server at once, as a crash would (connections are reset).
  bool Kill();
  // Starts the server again on the same port, after Stop or Kill.
  bool Restart();
  bool running() const { return pid_ > 0; }

  // Running, no fault, an empty site and an empty command list.
  void Reset();

 private:
  bool Launch(int port);
  bool EndProcess(int signal);

  Options options_;
  std::string folder_;  // holds root/ and state/
  std::string root_;
  std::string state_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::string error_;
};

// A TCP port on 127.0.0.1 that accepts connections and never says a word:
// a site that hangs before its greeting.
class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  bool ok() const { return fd_ >= 0; }
  int port() const { return port_; }
  std::string host() const;

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A port on 127.0.0.1 where nothing listens (connections are refused).
int RefusingPort();

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_FTP_SERVER_H_
