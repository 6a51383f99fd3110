// What a failed request of the libcurl FTP component is said to be: the
// completion code and the text of its Done, for an FTP and a web site.
// Texts name the site, the user, the remote or local file, never the
// password.
#ifndef MVUPDATE_TRANSPORT_CURL_FAILURES_H_
#define MVUPDATE_TRANSPORT_CURL_FAILURES_H_

#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "transport/ftp_component.h"

namespace mv {

struct Completion {
  int32_t method;
  int16_t code;
  std::string text;
  int reply = 0;
  bool transient = false;  // a network failure that may pass
};

// What a failure's text names about the session.
struct SessionFacts {
  std::string host;  // as the caller wrote it
  std::string user;
  std::string base;  // a web site's base URL
  TlsMode tls = TlsMode::kRequire;
};

// What a failure's text names about the request; the component's requests
// are these and more.
struct RequestFacts {
  FtpMethod method = kFtpMethodConnect;
  RemotePath folder;         // the folder a directory change or transfer uses
  std::string remote;        // the remote file name as given
  std::string remote_shown;  // the remote file's resolved path
  std::string local;         // the local file name as given
  std::string target_path;   // GetFile: the local file, resolved
  int local_errno = 0;       // why the local file could not be used
  // GetFile: the size limit (0: none), passed.
  int64_t limit = 0;
  bool too_large = false;
  std::string last_reply;  // an FTP site's last reply line
  std::string redirect;    // a web site's redirect target
  double stall_seconds = 0;
  double answer_seconds = 0;
  bool stalled = false;
  char error[CURL_ERROR_SIZE] = "";
};

// "name" in quotes, as texts for the user write names.
std::string Quoted(std::string_view text);

// An FTP site's failure `result` (with the site's last reply code).
Completion DescribeFtp(const SessionFacts& site, const RequestFacts& r,
                       CURLcode result, long reply);
// A web site's answer other than success, as the FTP site's would be said;
// a redirect that may be followed was followed before.
Completion DescribeWeb(const SessionFacts& site, const RequestFacts& r,
                       CURLcode result, long reply);
// A local file that could not be written or read.
Completion LocalFailure(int32_t method, int err, std::string_view shown,
                        const std::string& native, bool writing);

// Whether an FTP site's refusal of a login asks for TLS ("530 Non-anonymous
// sessions must use encryption.", "530 SSL/TLS required").
bool AsksForTls(std::string_view reply);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_CURL_FAILURES_H_
