#include "transport/curl_failures.h"

#include "system/deployment.h"
#include "system/failure.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/text.h"

namespace mv {

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  quoted += text;
  quoted += '"';
  return quoted;
}

bool AsksForTls(std::string_view reply) {
  std::string text = ToLowerAscii(reply);
  for (const char* word : {"encrypt", "tls", "ssl", "secure"}) {
    if (text.find(word) != std::string::npos) return true;
  }
  return false;
}

Completion LocalFailure(int32_t method, int err, std::string_view shown,
                        const std::string& native, bool writing) {
  Failure f = Failure::FromErrno(err, native);
  return Completion{method, static_cast<int16_t>(f.number()),
                    f.description() +
                        (writing ? ": cannot write the local file "
                                 : ": cannot read the local file ") +
                        Quoted(shown)};
}

Completion DescribeFtp(const SessionFacts& site, const RequestFacts& r,
                       CURLcode result, long reply) {
  auto with_reply = [reply](std::string text) {
    if (reply > 0) text += " (the site answered " + std::to_string(reply) + ")";
    return text + ".";
  };
  auto make = [&r](int16_t code, std::string text) {
    bool transient = code == kFtpTimedOut || code == kFtpStalled ||
                     code == kFtpCannotConnect || code == kFtpConnectionLost;
    return Completion{r.method, code, std::move(text), 0, transient};
  };
  bool transfer =
      r.method == kFtpMethodGetFile || r.method == kFtpMethodPutFile;
  if (r.too_large) {
    return make(kFtpFailed, "File " + Quoted(r.remote_shown) +
                                " is larger than " + SizeText(r.limit) +
                                "; a file that large is refused here.");
  }
  switch (result) {
    case CURLE_OK:
      return make(0, "");
    case CURLE_ABORTED_BY_CALLBACK:
      if (r.stalled) {
        return make(kFtpStalled, "The transfer of " + Quoted(r.remote) +
                                     " stalled: no data moved for " +
                                     SecondsText(r.stall_seconds) +
                                     " seconds.");
      }
      break;
    case CURLE_WRITE_ERROR:
      if (r.local_errno != 0) {
        return LocalFailure(r.method, r.local_errno, r.local, r.target_path,
                            true);
      }
      break;
    case CURLE_READ_ERROR:
      if (r.local_errno != 0) {
        return LocalFailure(r.method, r.local_errno, r.local,
                            ResolvePath(r.local), false);
      }
      break;
    case CURLE_URL_MALFORMAT:
      if (!transfer && r.method != kFtpMethodChangeDirectory) {
        return make(kFtpBadAddress,
                    Quoted(site.host) + " is not a valid FTP site address.");
      }
      return make(kFtpFailed,
                  "A name in " +
                      Quoted(transfer ? r.remote_shown : r.folder.Display()) +
                      " cannot be used on an FTP site.");
    case CURLE_USE_SSL_FAILED:
      return make(kFtpTlsRefused,
                  "The FTP site " + site.host +
                      " does not offer TLS (AUTH TLS was refused)" +
                      (site.tls == TlsMode::kRequire
                           ? "; the user name and password were not sent."
                           : "."));
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
      return make(kFtpTlsFailed,
                  "TLS with the FTP site " + site.host + " failed: " +
                      (r.error[0] ? std::string(r.error)
                                  : std::string(curl_easy_strerror(result))) +
                      (r.method == kFtpMethodConnect
                           ? "; the user name and password were not sent."
                           : "."));
    case CURLE_COULDNT_RESOLVE_HOST:
      return make(kFtpHostNotFound, "The FTP site " + site.host +
                                        " was not found (its name could "
                                        "not be resolved).");
    case CURLE_COULDNT_CONNECT:
      return make(kFtpCannotConnect,
                  "Could not connect to the FTP site " + site.host +
                      " (connection refused or site unreachable).");
    case CURLE_LOGIN_DENIED:
      // vsftpd: "530 Non-anonymous sessions must use encryption."
      if (AsksForTls(r.last_reply)) {
        return make(kFtpTlsRefused,
                    "The FTP site requires TLS for the login of user " +
                        Quoted(site.user) + " (the site answered \"" +
                        r.last_reply + "\"); set FTP_TLS to try or require.");
      }
      return make(kFtpLoginRefused, "The FTP site refused the login of user " +
                                        Quoted(site.user) +
                                        " (wrong user name or password).");
    case CURLE_REMOTE_ACCESS_DENIED:
      return make(kFtpFolderNotFound, "Folder " + Quoted(r.folder.Display()) +
                                          " not found on the FTP site.");
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_FTP_COULDNT_RETR_FILE:
      return make(kFtpFileNotFound, "File " + Quoted(r.remote_shown) +
                                        " not found on the FTP site.");
    case CURLE_UPLOAD_FAILED:
    case CURLE_REMOTE_DISK_FULL:
      return make(kFtpUploadRefused,
                  with_reply("The FTP site refused to store " +
                             Quoted(r.remote_shown)));
    case CURLE_OPERATION_TIMEDOUT:
      // libcurl reports the site's 421 (service not available) as a time-out.
      if (reply == 421 || r.last_reply.rfind("421", 0) == 0) {
        return make(kFtpCannotConnect, "The FTP site " + site.host +
                                           " is not available now (the site "
                                           "answered \"" +
                                           r.last_reply + "\").");
      }
      return make(kFtpTimedOut, "The FTP site did not answer within " +
                                    SecondsText(r.answer_seconds) +
                                    " seconds.");
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:  // a web site's HTTP/2 framing or stream broke off
    case CURLE_HTTP2_STREAM:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
      return make(kFtpConnectionLost,
                  with_reply("The connection to the FTP site was lost"));
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_QUOTE_ERROR:
      return make(kFtpBadReply,
                  with_reply("The FTP site gave an unexpected answer"));
    default:
      break;
  }
  return make(kFtpFailed, with_reply("The FTP request failed: " +
                                     std::string(curl_easy_strerror(result))));
}

Completion DescribeWeb(const SessionFacts& site, const RequestFacts& r,
                       CURLcode result, long reply) {
  auto make = [&r](int16_t code, std::string text, bool transient = false) {
    return Completion{r.method, code, std::move(text), 0, transient};
  };
  bool error = result == CURLE_HTTP_RETURNED_ERROR;
  bool redirect = result == CURLE_OK && reply >= 300 && reply <= 399;
  bool transfer =
      r.method == kFtpMethodGetFile || r.method == kFtpMethodPutFile;
  std::string answered = " (the site answered " + std::to_string(reply) + ")";
  // A refused login and a failing server say what an FTP site's would.
  if (error && (reply == 401 || reply == 407)) {
    return make(kFtpLoginRefused, "The FTP site refused the login of user " +
                                      Quoted(site.user) +
                                      " (wrong user name or password).");
  }
  if (error && reply >= 500) {
    return make(
        transfer ? kFtpConnectionLost : kFtpCannotConnect,
        "The site " + site.base + " cannot be used now" + answered + ".", true);
  }
  // The site's root and folders: any answer but a refused login or a
  // failing server lets the files decide (a site without listings answers
  // 403 or 404 for a folder whose files it serves).
  if ((error || redirect) && !transfer) return make(0, "");
  if (redirect) {
    return make(kFtpFailed, "The site sends " + Quoted(r.remote_shown) +
                                " to " + Quoted(r.redirect) +
                                ", which is not HTTPS on the same host; "
                                "it is not followed.");
  }
  if (error) {
    if (r.method == kFtpMethodPutFile) {
      return make(kFtpUploadRefused, "The FTP site refused to store " +
                                         Quoted(r.remote_shown) + answered +
                                         ".");
    }
    if (reply == 404 || reply == 410) {
      return make(kFtpFileNotFound, "File " + Quoted(r.remote_shown) +
                                        " not found on the FTP site.");
    }
    return make(kFtpFailed, "The site refused to send " +
                                Quoted(r.remote_shown) + answered + ".");
  }
  return DescribeFtp(site, r, result, reply);
}

}  // namespace mv
