#include "transport/curl_ftp_component.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "system/crypto.h"
#include "system/date_time.h"
#include "system/deployment.h"
#include "system/failure.h"
#include "system/file_io.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/process.h"
#include "system/text.h"
#include "system/unique_fd.h"

namespace mv {

namespace {

using Clock = std::chrono::steady_clock;

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;

// Progress reaches the window at most this often.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
// Large reads and writes keep the per-byte cost of a transfer low.
constexpr long kBufferBytes = 512 * 1024;

struct Completion {
  int32_t method;
  int16_t code;
  std::string text;
  int reply = 0;
  bool transient = false;  // a network failure that may pass
};

// A listing larger than this is cut: folders of an update site are small.
constexpr size_t kMaxListing = 4 * 1024 * 1024;

// What a partial download records about the remote file it is a part of;
// a later attempt continues it only when all of it still holds.
struct PartialInfo {
  std::string source;  // host and remote path
  int64_t size = -1;
  int64_t time = -1;

  std::string Serialize() const {
    return source + "\n" + std::to_string(size) + "\n" + std::to_string(time) +
           "\n";
  }
  bool Known() const { return size >= 0 && time >= 0; }
  bool operator==(const PartialInfo&) const = default;
};

std::optional<PartialInfo> ReadPartialInfo(const std::string& path) {
  Result<std::string> text = ReadWholeFile(path);
  if (!text.ok()) return std::nullopt;
  std::vector<std::string_view> lines = SplitLines(text.value());
  if (lines.size() != 3) return std::nullopt;
  PartialInfo info;
  info.source = lines[0];
  char* end = nullptr;
  std::string size(lines[1]), time(lines[2]);
  info.size = std::strtoll(size.c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  info.time = std::strtoll(time.c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return info;
}

long WholeSeconds(double seconds) {
  return std::max(1L, static_cast<long>(std::ceil(seconds)));
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  quoted += text;
  quoted += '"';
  return quoted;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
}

// "name", "name:port", "[v6]" or "[v6]:port" with nothing that could
// change the meaning of the URL built from it.
bool ValidHost(std::string_view host) {
  std::string_view port;
  bool has_port = false;
  if (!host.empty() && host.front() == '[') {
    size_t close = host.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    for (char c : host.substr(1, close - 1)) {
      if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' &&
          c != '.') {
        return false;
      }
    }
    std::string_view rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      has_port = true;
      port = rest.substr(1);
    }
  } else {
    size_t colon = host.find(':');
    std::string_view name = host.substr(0, colon);
    if (name.empty()) return false;
    for (char c : name) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' &&
          c != '-' && c != '_') {
        return false;
      }
    }
    if (colon != std::string_view::npos) {
      has_port = true;
      port = host.substr(colon + 1);
    }
  }
  if (!has_port) return true;
  if (!AllDigits(port) || port.size() > 5) return false;
  long value = std::stol(std::string(port));
  return value >= 1 && value <= 65535;
}

// A web site is named by its address; an FTP site by its host.
bool IsWebAddress(std::string_view address) {
  return EqualsIgnoreCase(address.substr(0, 8), "https://") ||
         EqualsIgnoreCase(address.substr(0, 7), "http://");
}

// The base of a web site's URLs: "https://host[:port][/path]" without its
// final "/", with nothing that could change the meaning of the URLs built
// from it (no user name, query or blank); nothing when it is not such an
// address.
std::optional<std::string> WebBase(std::string_view address) {
  bool https = EqualsIgnoreCase(address.substr(0, 8), "https://");
  std::string_view rest = address.substr(https ? 8 : 7);
  while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (!ValidHost(rest.substr(0, rest.find('/')))) return std::nullopt;
  for (char c : rest) {
    if (static_cast<unsigned char>(c) <= ' ' || c == '?' || c == '#' ||
        c == '@' || c == '\\' || c == '"' || c == 0x7f) {
      return std::nullopt;
    }
  }
  return (https ? "https://" : "http://") + std::string(rest);
}

// The host and port of a URL ("host:port" as written).
std::string_view UrlHost(std::string_view url) {
  size_t start = url.find("://");
  if (start == std::string_view::npos) return {};
  url.remove_prefix(start + 3);
  return url.substr(0, url.find('/'));
}

// The HTTP date a validator of a file's time takes (If-Range).
std::string HttpDate(int64_t time) {
  std::time_t t = static_cast<std::time_t>(time);
  std::tm tm;
  char text[64];
  if (!ToUtcTime(t, tm)) return "";
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm);
  return text;
}

struct SlistFree {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// libcurl opens its sockets without close-on-exec; a program that RUN starts
// must never inherit the logged-in control connection.
int CloseOnExec(void*, curl_socket_t fd, curlsocktype) {
  KeepFromChildPrograms(static_cast<uint64_t>(fd));
  return CURL_SOCKOPT_OK;
}

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

class CurlFtpComponent final : public FtpComponent {
 public:
  explicit CurlFtpComponent(MultiHandle multi) : multi_(std::move(multi)) {}
  ~CurlFtpComponent() override { Abort(); }

  int16_t State() const override { return state_; }
  bool Encrypted() const override {
    if (state_ != kFtpConnected) return false;
    return web_ ? base_.rfind("https://", 0) == 0 : use_ssl_ == CURLUSESSL_ALL;
  }
  void Connect(std::string_view host, std::string_view user,
               std::string_view password) override;
  void ChangeDirectory(std::string_view directory) override;
  void GetFile(std::string_view local_file,
               std::string_view remote_file) override;
  void PutFile(std::string_view local_file,
               std::string_view remote_file) override;
  void Disconnect() override;
  void ListNames(std::string_view directory) override;
  void Abort() override;
  void Pump(std::chrono::milliseconds bound) override;

 private:
  // One started method.
  struct Request {
    FtpMethod method;
    EasyHandle easy;
    RemotePath folder;         // the folder a directory change or transfer uses
    std::string remote;        // the remote file name as given
    std::string remote_shown;  // the remote file's resolved path
    std::string local;         // the local file name as given
    // GetFile: first a probe of the remote file's size and time, then the
    // fetch into the partial file, renamed to the target when complete.
    bool probe = false;
    std::string file_name;  // the remote file's last name
    UniqueFd file;
    std::string temp_path;
    std::string info_path;
    std::string target_path;
    PartialInfo info;
    int64_t offset = 0;  // bytes of the partial file kept from before
    std::unique_ptr<BackgroundSha256> digest;
    std::string url;
    int redirects = 0;
    std::unique_ptr<curl_slist, SlistFree> headers;
    // ListNames: the listing as received.
    std::string listing;
    int local_errno = 0;  // why the local file could not be used
    // Movement, for progress and stall detection.
    double stall_seconds = 0;
    double answer_seconds = 0;
    int64_t moved = 0;
    int64_t total = -1;
    Clock::time_point last_motion;
    bool stalled = false;
    char error[CURL_ERROR_SIZE] = "";
  };

  // Queues a Done for a method that could not start; false when `method`
  // may run.
  bool Refuse(FtpMethod method, bool needs_login);
  void Queue(int32_t method, int16_t code, std::string text) {
    pending_.push_back(Completion{method, code, std::move(text)});
  }
  std::unique_ptr<Request> NewRequest(FtpMethod method, double answer_seconds);
  // The start GetFile and PutFile share: a request for `remote_file` below
  // the remote directory, its last name in `file`; nullptr when the call has
  // already been answered (busy, not connected, or no file name).
  std::unique_ptr<Request> NewTransfer(FtpMethod method,
                                       std::string_view local_file,
                                       std::string_view remote_file,
                                       int16_t no_name_code,
                                       std::string no_name_text,
                                       std::string* file);
  // Progress and stall watching for a transfer, then Start.
  void StartTransfer(std::unique_ptr<Request> r, const std::string& file);
  std::string Url(CURL* easy, const RemotePath& folder,
                  std::string_view file) const;
  void Start(std::unique_ptr<Request> request, const std::string& url);
  void CollectFinished();
  void Finish(CURLcode result);
  Completion Describe(const Request& r, CURLcode result, long reply) const;
  Completion LocalFailure(int32_t method, int err, std::string_view shown,
                          const std::string& native, bool writing) const;
  void CompleteDownload(Request& r, Completion& done);
  // Starts the request's digest, fed with the part of the file kept from
  // an earlier attempt; gives errno on a failure.
  static int StartDigest(Request& r);
  // After the probe: keeps or starts the partial file and starts the fetch.
  void StartFetch(std::unique_ptr<Request> r);
  // Passes the running transfer's progress on, at most every 100 ms.
  void ReportProgress();
  void ForgetLogin();
  void StartConnect();
  void ConnectToWebSite();
  // A web site's answer other than success, as the FTP site's would be
  // said; with its redirect when it is one that may be followed.
  Completion DescribeWeb(const Request& r, CURLcode result, long reply) const;
  // Follows a redirect of a probe to HTTPS on the same host; true when a
  // new probe was started.
  bool FollowRedirect(std::unique_ptr<Request>& r, long reply);
  // With MVUPDATE_FTP_TLS=try, a login that failed for want of TLS is made
  // again without it; true when that was started.
  bool RetryWithoutTls(const Completion& done);

  static size_t OnWrite(char* data, size_t size, size_t count, void* user);
  static size_t OnListing(char* data, size_t size, size_t count, void* user);
  static size_t OnRead(char* data, size_t size, size_t count, void* user);
  static int OnProgress(void* user, curl_off_t dltotal, curl_off_t dlnow,
                        curl_off_t ultotal, curl_off_t ulnow);

  MultiHandle multi_;
  std::unique_ptr<Request> active_;
  std::deque<Completion> pending_;
  int16_t state_ = 0;
  std::string host_;
  std::string user_;
  std::string password_;
  // TLS of the session's requests; they must all ask for the same, so that
  // they share the one connection.
  long use_ssl_ = CURLUSESSL_NONE;
  // A web site (HTTP or HTTPS): its base URL.
  bool web_ = false;
  std::string base_;
  RemotePath cwd_;
  int64_t reported_ = -1;
  Clock::time_point reported_at_;
};

bool CurlFtpComponent::Refuse(FtpMethod method, bool needs_login) {
  if (active_) {
    Queue(method, kFtpBusy,
          "The FTP component is still busy with another request.");
    return true;
  }
  if (needs_login && state_ != kFtpConnected) {
    Queue(method, kFtpNotConnected, "Not connected to an FTP site.");
    return true;
  }
  return false;
}

std::unique_ptr<CurlFtpComponent::Request> CurlFtpComponent::NewRequest(
    FtpMethod method, double answer_seconds) {
  auto r = std::make_unique<Request>();
  r->method = method;
  r->answer_seconds = answer_seconds;
  r->easy.reset(curl_easy_init());
  if (!r->easy) return nullptr;
  CURL* e = r->easy.get();
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, web_ ? "http,https" : "ftp");
  curl_easy_setopt(e, CURLOPT_USERNAME, user_.c_str());
  curl_easy_setopt(e, CURLOPT_PASSWORD, password_.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, &CloseOnExec);
  // One CWD per folder, and ".." sent as it stands: the path is already
  // resolved here, so a ".." left in it means the login folder's parent.
  curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD,
                   static_cast<long>(CURLFTPMETHOD_MULTICWD));
  curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(FtpTimeoutSeconds() * 1000));
  curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                   WholeSeconds(answer_seconds));
  // The control connection idles while a long transfer runs.
  curl_easy_setopt(e, CURLOPT_TCP_KEEPALIVE, 1L);
  curl_easy_setopt(e, CURLOPT_TCP_KEEPIDLE, 60L);
  curl_easy_setopt(e, CURLOPT_TCP_KEEPINTVL, 30L);
  curl_easy_setopt(e, CURLOPT_PRIVATE, r.get());
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r->error);
  // Explicit TLS (AUTH TLS), then PBSZ and PROT P for the data connections.
  curl_easy_setopt(e, CURLOPT_USE_SSL, use_ssl_);
  curl_easy_setopt(e, CURLOPT_FTPSSLAUTH, static_cast<long>(CURLFTPAUTH_TLS));
  if (std::string ca = FtpCaFile(); !ca.empty()) {
    curl_easy_setopt(e, CURLOPT_CAINFO, ca.c_str());
  }
  // What a request receives is dropped unless it sets a writer of its own
  // (libcurl would write it to standard output).
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Discard);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Discard);
  if (web_) {
    // Basic authentication, over HTTPS unless the address says http://;
    // an answer of 400 or more ends the request without its body, and
    // redirects are looked at before they are followed.
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, WholeSeconds(answer_seconds));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    if (size_limit() > 0) {
      curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE,
                       static_cast<curl_off_t>(size_limit()));
    }
  }
  return r;
}

std::string CurlFtpComponent::Url(CURL* easy, const RemotePath& folder,
                                  std::string_view file) const {
  auto escape = [easy](std::string_view text) {
    char* e =
        curl_easy_escape(easy, text.data(), static_cast<int>(text.size()));
    std::string out = e ? e : "";
    curl_free(e);
    return out;
  };
  // A path that starts with an encoded "/" begins with CWD /; a web site's
  // paths all start at its base.
  std::string url =
      web_ ? base_ + "/"
           : "ftp://" + host_ + "/" + (folder.absolute() ? "%2F" : "");
  for (const std::string& name : folder.names()) url += escape(name) + "/";
  return url + escape(file);
}

void CurlFtpComponent::Start(std::unique_ptr<Request> request,
                             const std::string& url) {
  CURL* e = request->easy.get();
  request->url = url;
  curl_easy_setopt(e, CURLOPT_URL, request->url.c_str());
  request->last_motion = Clock::now();
  if (curl_multi_add_handle(multi_.get(), e) != CURLM_OK) {
    Queue(request->method, kFtpFailed, "The FTP request could not be started.");
    return;
  }
  active_ = std::move(request);
  reported_ = -1;
}

void CurlFtpComponent::Connect(std::string_view host, std::string_view user,
                               std::string_view password) {
  if (Refuse(kFtpMethodConnect, false)) return;
  host_ = TrimSpaces(host);
  user_ = user;
  password_ = password;
  cwd_ = RemotePath();
  state_ = 0;
  tls_note_.clear();
  web_ = IsWebAddress(host_);
  if (web_) return ConnectToWebSite();
  if (!ValidHost(host_)) {
    Queue(kFtpMethodConnect, kFtpBadAddress,
          Quoted(host_) + " is not a valid FTP site address.");
    ForgetLogin();
    return;
  }
  use_ssl_ = FtpTls() == TlsMode::kOff ? CURLUSESSL_NONE : CURLUSESSL_ALL;
  StartConnect();
}

// A web site keeps no session: "connecting" checks the address and the
// login with one authenticated HEAD of its root.
void CurlFtpComponent::ConnectToWebSite() {
  std::optional<std::string> base = WebBase(host_);
  if (!base) {
    Queue(kFtpMethodConnect, kFtpBadAddress,
          Quoted(host_) + " is not a valid web site address.");
    return ForgetLogin();
  }
  base_ = *base;
  if (base_.rfind("http://", 0) == 0) {
    if (FtpTls() == TlsMode::kRequire) {
      Queue(kFtpMethodConnect, kFtpTlsRefused,
            "The site " + base_ +
                " is not reached over HTTPS; the user name and password "
                "were not sent.");
      return ForgetLogin();
    }
    tls_note_ = "The site " + base_ +
                " is reached over plain HTTP: the password and the files "
                "cross the network unencrypted.";
  }
  auto r = NewRequest(kFtpMethodConnect, FtpTimeoutSeconds());
  if (!r) return Queue(kFtpMethodConnect, kFtpFailed, "Out of memory.");
  curl_easy_setopt(r->easy.get(), CURLOPT_NOBODY, 1L);
  std::string url = Url(r->easy.get(), RemotePath(), "");
  Start(std::move(r), url);
}

void CurlFtpComponent::StartConnect() {
  auto r = NewRequest(kFtpMethodConnect, FtpTimeoutSeconds());
  if (!r) {
    Queue(kFtpMethodConnect, kFtpFailed, "Out of memory.");
    return;
  }
  // Logging in and staying in the login directory: no body, no CWD.
  curl_easy_setopt(r->easy.get(), CURLOPT_NOBODY, 1L);
  std::string url = Url(r->easy.get(), RemotePath(), "");
  Start(std::move(r), url);
}

bool CurlFtpComponent::RetryWithoutTls(const Completion& done) {
  if (FtpTls() != TlsMode::kTry || use_ssl_ != CURLUSESSL_ALL) return false;
  if (done.code != kFtpTlsRefused && done.code != kFtpTlsFailed) return false;
  tls_note_ = done.text +
              " The session goes on without TLS: the password "
              "and the files cross the network unencrypted.";
  use_ssl_ = CURLUSESSL_NONE;
  StartConnect();
  return true;
}

void CurlFtpComponent::ChangeDirectory(std::string_view directory) {
  if (Refuse(kFtpMethodChangeDirectory, true)) return;
  auto r = NewRequest(kFtpMethodChangeDirectory, FtpTimeoutSeconds());
  if (!r) {
    Queue(kFtpMethodChangeDirectory, kFtpFailed, "Out of memory.");
    return;
  }
  r->folder = cwd_.Resolve(directory);
  // A URL that ends in "/" without a body only changes directories: the
  // request fails when one of them does not exist.
  curl_easy_setopt(r->easy.get(), CURLOPT_NOBODY, 1L);
  std::string url = Url(r->easy.get(), r->folder, "");
  Start(std::move(r), url);
}

std::unique_ptr<CurlFtpComponent::Request> CurlFtpComponent::NewTransfer(
    FtpMethod method, std::string_view local_file, std::string_view remote_file,
    int16_t no_name_code, std::string no_name_text, std::string* file) {
  if (Refuse(method, true)) return nullptr;
  auto r = NewRequest(method, FtpStallSeconds());
  if (!r) {
    Queue(method, kFtpFailed, "Out of memory.");
    return nullptr;
  }
  r->local = local_file;
  r->remote = remote_file;
  RemotePath path = cwd_.Resolve(remote_file);
  r->remote_shown = path.Display();
  if (path.names().empty() || path.names().back() == "..") {
    Queue(method, no_name_code, std::move(no_name_text));
    return nullptr;
  }
  *file = path.names().back();
  r->folder = path.Resolve("..");
  return r;
}

void CurlFtpComponent::StartTransfer(std::unique_ptr<Request> r,
                                     const std::string& file) {
  CURL* e = r->easy.get();
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &CurlFtpComponent::OnProgress);
  curl_easy_setopt(e, CURLOPT_XFERINFODATA, r.get());
  r->stall_seconds = FtpStallSeconds();
  std::string url = Url(e, r->folder, file);
  Start(std::move(r), url);
}

void CurlFtpComponent::GetFile(std::string_view local_file,
                               std::string_view remote_file) {
  std::string file;
  auto r = NewTransfer(
      kFtpMethodGetFile, local_file, remote_file, kFtpFileNotFound,
      "File " + Quoted(remote_file) + " not found on the FTP site.", &file);
  if (!r) return;
  // The data goes to a partial file beside the target, named after the
  // remote file, so that a failed download never replaces the file the
  // caller names and a later attempt finds what came so far.
  r->target_path = ResolvePath(local_file);
  std::string folder = ParentFolder(r->target_path);
  std::string prefix =
      folder.empty() ? "" : (folder == "/" ? "/" : folder + "/");
  r->temp_path = prefix + "." + file + ".mvpartial";
  r->info_path = r->temp_path + "-info";
  r->info.source = host_ + "/" + r->remote_shown;
  r->file_name = file;
  // The probe asks for the remote file's size and time (SIZE, MDTM)
  // without fetching it.
  r->probe = true;
  sha256_.clear();
  CURL* e = r->easy.get();
  curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  curl_easy_setopt(e, CURLOPT_FILETIME, 1L);
  std::string url = Url(e, r->folder, file);
  Start(std::move(r), url);
}

int CurlFtpComponent::StartDigest(Request& r) {
  r.digest = std::make_unique<BackgroundSha256>();
  std::vector<char> buf(kBufferBytes);
  for (int64_t at = 0; at < r.offset;) {
    size_t want = static_cast<size_t>(
        std::min<int64_t>(r.offset - at, static_cast<int64_t>(buf.size())));
    size_t n = 0;
    if (int err = ReadFdAt(r.file.get(), buf.data(), want, at, n); err != 0) {
      return err;
    }
    if (n == 0) return EIO;
    r.digest->Update(buf.data(), n);
    at += static_cast<int64_t>(n);
  }
  return 0;
}

void CurlFtpComponent::StartFetch(std::unique_ptr<Request> r) {
  CURL* e = r->easy.get();
  curl_off_t size = -1, time = -1;
  curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
  curl_easy_getinfo(e, CURLINFO_FILETIME_T, &time);
  PartialInfo now{r->info.source, size, time};
  std::optional<PartialInfo> before = ReadPartialInfo(r->info_path);
  bool resume = now.Known() && before && *before == now;
  FileFacts st;
  // Only a partial file of our own is continued: an ordinary file with no
  // other name. Anything else under the name (a link, a file linked from
  // elsewhere) is removed, never followed or truncated, and the download
  // starts in a new file.
  if (resume) {
    resume = OpenFile(r->temp_path, FileOpen::kReadWrite, r->file) == 0 &&
             FactsOfFd(r->file.get(), st) == 0 && st.ordinary && st.links == 1;
  }
  int err = 0;
  if (!resume) {
    r->file.Close();
    RemoveFile(r->temp_path);
    err = OpenFile(r->temp_path, FileOpen::kCreateNew, r->file);
  }
  if (err == 0) err = FactsOfFd(r->file.get(), st);
  if (err != 0) {
  } else if (resume && st.size <= size) {
    r->offset = st.size;
  } else if (st.size != 0) {
    // Only a partial file longer than the remote one is cut: ext4 writes
    // out a file truncated to nothing when it is closed, which would halve
    // the speed of every fresh download.
    err = TruncateFd(r->file.get(), 0);
  }
  if (err == 0) err = SeekFd(r->file.get(), r->offset);
  if (err == 0 && compute_sha256_) err = StartDigest(*r);
  if (err == 0 && r->offset == 0) {
    Status written = WriteFileAtomically(r->info_path, now.Serialize());
    if (!written.ok()) err = EIO;
  }
  if (err != 0) {
    r->file.Close();
    pending_.push_back(
        LocalFailure(kFtpMethodGetFile, err, r->local, r->target_path, true));
    return;
  }
  r->info = now;
  r->probe = false;
  // A fresh handle: the probe's options (no body) must not carry over.
  EasyHandle fresh(curl_easy_duphandle(e));
  if (!fresh) {
    Queue(kFtpMethodGetFile, kFtpFailed, "Out of memory.");
    return;
  }
  r->easy = std::move(fresh);
  e = r->easy.get();
  curl_easy_setopt(e, CURLOPT_NOBODY, 0L);
  curl_easy_setopt(e, CURLOPT_FILETIME, 0L);
  curl_easy_setopt(e, CURLOPT_PRIVATE, r.get());
  // REST: the site sends the rest of the file only.
  curl_easy_setopt(e, CURLOPT_RESUME_FROM_LARGE,
                   static_cast<curl_off_t>(r->offset));
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlFtpComponent::OnWrite);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, r.get());
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kBufferBytes);
  if (web_ && r->offset > 0 && r->info.time >= 0) {
    // The rest only if the file is still the one the part came from.
    r->headers.reset(curl_slist_append(
        nullptr, ("If-Range: " + HttpDate(r->info.time)).c_str()));
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r->headers.get());
  }
  std::string file = r->file_name;
  if (web_) {  // the probe's URL, which a redirect may have changed
    std::string url = r->url;
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION,
                     &CurlFtpComponent::OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, r.get());
    r->stall_seconds = FtpStallSeconds();
    return Start(std::move(r), url);
  }
  StartTransfer(std::move(r), file);
}

void CurlFtpComponent::PutFile(std::string_view local_file,
                               std::string_view remote_file) {
  std::string file;
  auto r = NewTransfer(
      kFtpMethodPutFile, local_file, remote_file, kFtpUploadRefused,
      Quoted(remote_file) + " is not a file name the FTP site can store.",
      &file);
  if (!r) return;
  std::string native = ResolvePath(local_file);
  FileFacts st;
  int err = OpenFile(native, FileOpen::kRead, r->file);
  if (err == 0) err = FactsOfFd(r->file.get(), st);
  if (err == 0 && !st.ordinary) err = st.folder ? EISDIR : EINVAL;
  if (err != 0) {
    pending_.push_back(
        LocalFailure(kFtpMethodPutFile, err, local_file, native, false));
    return;
  }
  r->total = st.size;
  CURL* e = r->easy.get();
  curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE,
                   static_cast<curl_off_t>(st.size));
  curl_easy_setopt(e, CURLOPT_READFUNCTION, &CurlFtpComponent::OnRead);
  curl_easy_setopt(e, CURLOPT_READDATA, r.get());
  curl_easy_setopt(e, CURLOPT_UPLOAD_BUFFERSIZE, kBufferBytes);
  StartTransfer(std::move(r), file);
}

void CurlFtpComponent::Disconnect() {
  if (Refuse(kFtpMethodDisconnect, true)) return;
  if (web_) {  // nothing to end on a web site
    ForgetLogin();
    return Queue(kFtpMethodDisconnect, 0, "");
  }
  // Waiting for the answer to QUIT blocks inside libcurl, so it gets a
  // short limit of its own.
  auto r = NewRequest(kFtpMethodDisconnect, std::min(FtpTimeoutSeconds(), 5.0));
  if (!r) {
    ForgetLogin();
    Queue(kFtpMethodDisconnect, 0, "");
    return;
  }
  // A request on the session's connection that closes it when done: libcurl
  // sends QUIT as it closes.
  curl_easy_setopt(r->easy.get(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(r->easy.get(), CURLOPT_FORBID_REUSE, 1L);
  std::string url = Url(r->easy.get(), RemotePath(), "");
  Start(std::move(r), url);
}

void CurlFtpComponent::ListNames(std::string_view directory) {
  if (Refuse(kFtpMethodList, true)) return;
  listed_.clear();
  // A web site lists no folders: its names are used as written.
  if (web_) {
    return Queue(kFtpMethodList, kFtpFailed,
                 "A web site does not list its folders.");
  }
  auto r = NewRequest(kFtpMethodList, FtpTimeoutSeconds());
  if (!r) {
    Queue(kFtpMethodList, kFtpFailed, "Out of memory.");
    return;
  }
  r->folder = cwd_.Resolve(directory);
  CURL* e = r->easy.get();
  // NLST: names only, one a line.
  curl_easy_setopt(e, CURLOPT_DIRLISTONLY, 1L);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlFtpComponent::OnListing);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, r.get());
  std::string url = Url(e, r->folder, "");
  Start(std::move(r), url);
}

void CurlFtpComponent::Abort() {
  pending_.clear();
  if (!active_) return;
  std::unique_ptr<Request> r = std::move(active_);
  // Removing a running request closes its connection without waiting for
  // the site.
  curl_multi_remove_handle(multi_.get(), r->easy.get());
  // A partial download stays for the next attempt.
  r->file.Close();
  if (r->method == kFtpMethodConnect || r->method == kFtpMethodDisconnect) {
    ForgetLogin();
  }
}

void CurlFtpComponent::Pump(std::chrono::milliseconds bound) {
  if (pending_.empty() && active_) {
    int running = 0;
    curl_multi_perform(multi_.get(), &running);
    CollectFinished();
    if (pending_.empty() && active_) {
      curl_multi_poll(multi_.get(), nullptr, 0,
                      static_cast<int>(std::max<int64_t>(bound.count(), 0)),
                      nullptr);
      curl_multi_perform(multi_.get(), &running);
      CollectFinished();
    }
    if (active_) ReportProgress();
  } else if (pending_.empty()) {
    // Nothing runs: wait out the bound so that a caller's loop stays idle.
    curl_multi_poll(multi_.get(), nullptr, 0,
                    static_cast<int>(std::max<int64_t>(bound.count(), 0)),
                    nullptr);
  }
  if (!pending_.empty()) {
    Completion done = std::move(pending_.front());
    pending_.pop_front();
    RaiseDone(done.method, done.code, done.text, done.transient);
  }
}

void CurlFtpComponent::CollectFinished() {
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi_.get(), &left)) {
    if (msg->msg == CURLMSG_DONE && active_ &&
        msg->easy_handle == active_->easy.get()) {
      Finish(msg->data.result);
    }
  }
}

void CurlFtpComponent::Finish(CURLcode result) {
  std::unique_ptr<Request> r = std::move(active_);
  curl_multi_remove_handle(multi_.get(), r->easy.get());
  long reply = 0;
  curl_easy_getinfo(r->easy.get(), CURLINFO_RESPONSE_CODE, &reply);
  Completion done =
      web_ ? DescribeWeb(*r, result, reply) : Describe(*r, result, reply);
  done.reply = static_cast<int>(reply);
  // On an FTP site a 4xx reply is a passing refusal.
  done.transient = done.transient || (!web_ && reply >= 400 && reply < 500);
  if (web_ && r->method == kFtpMethodGetFile && r->probe &&
      FollowRedirect(r, reply)) {
    return;
  }
  if (r->method == kFtpMethodGetFile && r->probe && done.code == 0) {
    StartFetch(std::move(r));
    return;
  }
  // The file changed between the probe and the fetch (If-Range): the part
  // kept is dropped and the whole file fetched.
  if (web_ && r->method == kFtpMethodGetFile && result == CURLE_RANGE_ERROR &&
      r->offset > 0) {
    RemoveFile(r->info_path);
    r->offset = 0;
    r->file.Close();
    StartFetch(std::move(r));
    return;
  }
  switch (r->method) {
    case kFtpMethodConnect:
      if (done.code == 0) {
        state_ = kFtpConnected;
      } else if (RetryWithoutTls(done)) {
        return;
      } else {
        ForgetLogin();
      }
      break;
    case kFtpMethodChangeDirectory:
      if (done.code == 0) cwd_ = r->folder;
      break;
    case kFtpMethodGetFile:
      CompleteDownload(*r, done);
      break;
    case kFtpMethodPutFile:
      break;
    case kFtpMethodList:
      if (done.code == 0) {
        for (std::string_view name : SplitLines(r->listing)) {
          if (!name.empty()) listed_.emplace_back(name);
        }
      }
      break;
    case kFtpMethodDisconnect:
      ForgetLogin();
      break;
  }
  if (done.code == 0 && r->total >= 0) RaiseProgress(r->total, r->total);
  pending_.push_back(std::move(done));
}

bool CurlFtpComponent::FollowRedirect(std::unique_ptr<Request>& r, long reply) {
  if (reply < 300 || reply > 399) return false;
  char* location = nullptr;
  curl_easy_getinfo(r->easy.get(), CURLINFO_REDIRECT_URL, &location);
  std::string target = location ? location : "";
  // Only to HTTPS on the same host, and not for ever.
  if (target.rfind("https://", 0) != 0 ||
      !EqualsIgnoreCase(UrlHost(target), UrlHost(base_)) ||
      ++r->redirects > 5) {
    return false;
  }
  auto next = NewRequest(kFtpMethodGetFile, r->answer_seconds);
  if (!next) return false;
  next->redirects = r->redirects;
  next->probe = true;
  for (std::string Request::*field :
       {&Request::remote, &Request::remote_shown, &Request::local,
        &Request::file_name, &Request::temp_path, &Request::info_path,
        &Request::target_path}) {
    (*next).*field = (*r).*field;
  }
  next->info.source = r->info.source;
  next->folder = r->folder;
  curl_easy_setopt(next->easy.get(), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(next->easy.get(), CURLOPT_FILETIME, 1L);
  Start(std::move(next), target);
  return true;
}

// A complete download replaces the target by a rename, so the name never
// holds part of a file. It is not flushed to disk first: that would halve
// the speed of large downloads, and the Download folder is emptied at the
// start of every run, so a file that a crash spoils is fetched again. A
// download that the site or the network broke off keeps its partial file
// for the next attempt; one that failed here (a full disk, say) does not.
void CurlFtpComponent::CompleteDownload(Request& r, Completion& done) {
  if (r.temp_path.empty()) return;  // failed before its partial file
  int err = 0;
  if (done.code == 0) {
    if (r.file.Close() != 0) {
      err = errno;
    } else {
      err = RenameFile(r.temp_path, r.target_path);
    }
    if (err == 0) {
      RemoveFile(r.info_path);
      if (r.digest) sha256_ = r.digest->HexDigest();
      return;
    }
    done = LocalFailure(kFtpMethodGetFile, err, r.local, r.target_path, true);
  }
  r.file.Close();
  if (r.local_errno != 0 || err != 0) {
    RemoveFile(r.temp_path);
    RemoveFile(r.info_path);
  }
}

Completion CurlFtpComponent::LocalFailure(int32_t method, int err,
                                          std::string_view shown,
                                          const std::string& native,
                                          bool writing) const {
  Failure f = Failure::FromErrno(err, native);
  return Completion{method, static_cast<int16_t>(f.number()),
                    f.description() +
                        (writing ? ": cannot write the local file "
                                 : ": cannot read the local file ") +
                        Quoted(shown)};
}

Completion CurlFtpComponent::Describe(const Request& r, CURLcode result,
                                      long reply) const {
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
                    Quoted(host_) + " is not a valid FTP site address.");
      }
      return make(kFtpFailed,
                  "A name in " +
                      Quoted(transfer ? r.remote_shown : r.folder.Display()) +
                      " cannot be used on an FTP site.");
    case CURLE_USE_SSL_FAILED:
      return make(kFtpTlsRefused,
                  "The FTP site " + host_ +
                      " does not offer TLS (AUTH TLS was refused)" +
                      (FtpTls() == TlsMode::kRequire
                           ? "; the user name and password were not sent."
                           : "."));
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
      return make(kFtpTlsFailed,
                  "TLS with the FTP site " + host_ + " failed: " +
                      (r.error[0] ? std::string(r.error)
                                  : std::string(curl_easy_strerror(result))) +
                      ".");
    case CURLE_COULDNT_RESOLVE_HOST:
      return make(kFtpHostNotFound, "The FTP site " + host_ +
                                        " was not found (its name could "
                                        "not be resolved).");
    case CURLE_COULDNT_CONNECT:
      return make(kFtpCannotConnect,
                  "Could not connect to the FTP site " + host_ +
                      " (connection refused or site unreachable).");
    case CURLE_LOGIN_DENIED:
      return make(kFtpLoginRefused, "The FTP site refused the login of user " +
                                        Quoted(user_) +
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
      return make(kFtpTimedOut, "The FTP site did not answer within " +
                                    SecondsText(r.answer_seconds) +
                                    " seconds.");
    case CURLE_PARTIAL_FILE:
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

Completion CurlFtpComponent::DescribeWeb(const Request& r, CURLcode result,
                                         long reply) const {
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
                                      Quoted(user_) +
                                      " (wrong user name or password).");
  }
  if (error && reply >= 500) {
    return make(transfer ? kFtpConnectionLost : kFtpCannotConnect,
                "The site " + base_ + " cannot be used now" + answered + ".",
                true);
  }
  // The site's root and folders: anything else but a missing folder means
  // they are there (a site without listings answers 403 for a folder).
  if ((error || redirect) && !transfer) {
    if (reply == 404 && r.method == kFtpMethodChangeDirectory) {
      return make(kFtpFolderNotFound, "Folder " + Quoted(r.folder.Display()) +
                                          " not found on the FTP site.");
    }
    return make(0, "");
  }
  if (redirect) {
    char* location = nullptr;
    curl_easy_getinfo(r.easy.get(), CURLINFO_REDIRECT_URL, &location);
    return make(kFtpFailed, "The site sends " + Quoted(r.remote_shown) +
                                " to " + Quoted(location ? location : "") +
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
  if (result == CURLE_FILESIZE_EXCEEDED) {
    return make(kFtpFailed, "File " + Quoted(r.remote_shown) +
                                " is larger than " +
                                std::to_string(size_limit() >> 20) +
                                " MiB; a file that large is refused here.");
  }
  return Describe(r, result, reply);
}

void CurlFtpComponent::ReportProgress() {
  Request& r = *active_;
  if (r.method != kFtpMethodGetFile && r.method != kFtpMethodPutFile) return;
  Clock::time_point now = Clock::now();
  if (r.moved == reported_) return;
  if (reported_ >= 0 && now - reported_at_ < kProgressInterval) return;
  reported_ = r.moved;
  reported_at_ = now;
  RaiseProgress(r.moved, r.total);
}

void CurlFtpComponent::ForgetLogin() {
  state_ = 0;
  cwd_ = RemotePath();
  std::fill(password_.begin(), password_.end(), '\0');
  password_.clear();
}

size_t CurlFtpComponent::OnWrite(char* data, size_t size, size_t count,
                                 void* user) {
  auto* r = static_cast<Request*>(user);
  size_t total = size * count;
  if (r->digest) r->digest->Update(data, total);
  if (int err = WriteFd(r->file.get(), data, total); err != 0) {
    r->local_errno = err;
    return 0;  // makes libcurl end the transfer with a write error
  }
  return total;
}

size_t CurlFtpComponent::OnListing(char* data, size_t size, size_t count,
                                   void* user) {
  auto* r = static_cast<Request*>(user);
  size_t total = size * count;
  if (r->listing.size() + total > kMaxListing) return 0;
  r->listing.append(data, total);
  return total;
}

size_t CurlFtpComponent::OnRead(char* data, size_t size, size_t count,
                                void* user) {
  auto* r = static_cast<Request*>(user);
  size_t n = 0;
  if (int err = ReadFd(r->file.get(), data, size * count, n); err != 0) {
    r->local_errno = err;
    return CURL_READFUNC_ABORT;
  }
  return n;
}

int CurlFtpComponent::OnProgress(void* user, curl_off_t dltotal,
                                 curl_off_t dlnow, curl_off_t ultotal,
                                 curl_off_t ulnow) {
  auto* r = static_cast<Request*>(user);
  Clock::time_point now = Clock::now();
  int64_t moved = r->method == kFtpMethodPutFile ? ulnow : r->offset + dlnow;
  if (r->method == kFtpMethodGetFile && dltotal > 0) {
    r->total = r->offset + dltotal;
  }
  if (r->method == kFtpMethodPutFile && ultotal > 0) r->total = ultotal;
  if (moved != r->moved) {
    r->moved = moved;
    r->last_motion = now;
    return 0;
  }
  if (std::chrono::duration<double>(now - r->last_motion).count() >
      r->stall_seconds) {
    r->stalled = true;
    return 1;  // ends the transfer
  }
  return 0;
}

}  // namespace

std::unique_ptr<FtpComponent> MakeCurlFtpComponent() {
  InitCurlOnce();
  MultiHandle multi(curl_multi_init());
  if (!multi) return nullptr;
  return std::make_unique<CurlFtpComponent>(std::move(multi));
}

}  // namespace mv
