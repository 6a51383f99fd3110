// A vendor site over TLS for tests, started by scripts/lib/sites.py (which
// the demo uses too) on 127.0.0.1 on a free port: ProFTPD with explicit TLS,
// or nginx over HTTPS with basic authentication and PUT (and below
// /chunked/ answers without a size). The certificates
// come from one throwaway CA per test program; "expired" and "other" (from
// another CA) make sites whose certificate does not verify. The site stops
// with the object, or with the test program however it ends.
#ifndef MVUPDATE_TESTS_SUPPORT_TLS_SITE_H_
#define MVUPDATE_TESTS_SUPPORT_TLS_SITE_H_

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/sandbox.h"

namespace mv {

class TlsSite {
 public:
  enum class Kind { kFtp, kHttps };
  struct Options {
    Kind kind = Kind::kFtp;
    std::string cert = "server";  // "expired", "other"
    bool tls = true;              // false: plain FTP or HTTP
    int rate = 0;                 // nginx: bytes a second at most
    bool http2 = false;           // nginx: HTTP/2 over TLS
  };

  explicit TlsSite(const Options& options);
  ~TlsSite();
  TlsSite(const TlsSite&) = delete;
  TlsSite& operator=(const TlsSite&) = delete;

  // Why this machine cannot run the kind of site ("" when it can): ProFTPD
  // needs root.
  static std::string Unavailable(Kind kind);
  // The CA that signed "server" and "expired".
  static std::string CaFile();

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string url() const;  // "https://127.0.0.1:port/"
  const std::string user = "c1001";
  const std::string password = "pa ss;w0rd";

  std::string Path(const std::string& relative) const;
  void Put(const std::string& relative, const std::string& contents) const;
  // ProFTPD's commands ("AUTH TLS", "PASS (hidden)") or nginx's requests
  // ("GET /Merivane/Update/MVUpdate.dat 200"), in order.
  std::vector<std::string> Log() const;

  // Ends the server at once and starts it again on the same port, with
  // `options` (the kind stays).
  void Restart(const Options& options);

 private:
  void Start(const Options& options);
  void Stop();

  Kind kind_;
  bool tls_;
  TempFolder folder_;
  pid_t pid_ = -1;
  int input_ = -1;  // the launcher's standard input; closing it stops it
  int port_ = 0;
  std::string error_;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_TLS_SITE_H_
