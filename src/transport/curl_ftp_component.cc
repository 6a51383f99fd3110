#include "transport/curl_ftp_component.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "system/crypto.h"
#include "system/date_time.h"
#include "system/env.h"
#include "system/failure.h"
#include "system/file_io.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/process.h"
#include "system/text.h"
#include "system/unique_fd.h"
#include "transport/curl_failures.h"
#include "transport/partial_download.h"
#include "transport/site_address.h"

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

struct ShareCleanup {
  void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
using ShareHandle = std::unique_ptr<CURLSH, ShareCleanup>;

// Progress reaches the window at most this often.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
// Large reads and writes keep the per-byte cost of a transfer low.
constexpr long kBufferBytes = 512 * 1024;

// A listing larger than this is cut: folders of an update site are small.
constexpr size_t kMaxListing = 4 * 1024 * 1024;

long WholeSeconds(double seconds) {
  return std::max(1L, static_cast<long>(std::ceil(seconds)));
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
  CurlFtpComponent(Env& env, MultiHandle multi, ShareHandle share)
      : env_(env), multi_(std::move(multi)), share_(std::move(share)) {}
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
  // One started method, with what its failure's text names.
  struct Request : RequestFacts {
    Env* env = nullptr;  // the component's, for the write callback
    EasyHandle easy;
    // GetFile: first a probe of the remote file's size and time, then the
    // fetch into the partial file, renamed to the target when complete.
    bool probe = false;
    std::string file_name;  // the remote file's last name
    UniqueFd file;
    std::string temp_path;
    std::string info_path;
    PartialInfo info;
    int64_t offset = 0;  // bytes of the partial file kept from before
    std::unique_ptr<BackgroundSha256> digest;
    std::string url;
    int redirects = 0;
    std::unique_ptr<curl_slist, SlistFree> headers;
    // ListNames: the listing as received.
    std::string listing;
    int64_t received = 0;  // GetFile: bytes received by this attempt
    // Movement, for progress and stall detection.
    int64_t moved = 0;
    int64_t total = -1;
    Clock::time_point last_motion;
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
  // Follows a redirect of a probe to HTTPS on the same host; true when a
  // new probe was started.
  bool FollowRedirect(std::unique_ptr<Request>& r, long reply);
  // With FTP_TLS=try, a login the site refused AUTH TLS for is made again
  // without TLS; true when that was started.
  bool RetryWithoutTls(const Completion& done);

  static size_t OnWrite(char* data, size_t size, size_t count, void* user);
  static size_t OnListing(char* data, size_t size, size_t count, void* user);
  static size_t OnReply(char* data, size_t size, size_t count, void* user);
  static size_t OnRead(char* data, size_t size, size_t count, void* user);
  static int OnProgress(void* user, curl_off_t dltotal, curl_off_t dlnow,
                        curl_off_t ultotal, curl_off_t ulnow);

  Env& env_;
  MultiHandle multi_;
  // The TLS sessions of the session's requests: each request is a handle of
  // its own, and a data connection's TLS must resume the control
  // connection's session (sites at their defaults refuse it otherwise).
  ShareHandle share_;
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
  r->env = &env_;
  r->method = method;
  r->answer_seconds = answer_seconds;
  r->easy.reset(curl_easy_init());
  if (!r->easy) return nullptr;
  CURL* e = r->easy.get();
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, web_ ? "http,https" : "ftp");
  curl_easy_setopt(e, CURLOPT_USERNAME, user_.c_str());
  curl_easy_setopt(e, CURLOPT_PASSWORD, password_.c_str());
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_SHARE, share_.get());
  curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, &CloseOnExec);
  // One CWD per folder, and ".." sent as it stands: the path is already
  // resolved here, so a ".." left in it means the login folder's parent.
  curl_easy_setopt(e, CURLOPT_FTP_FILEMETHOD,
                   static_cast<long>(CURLFTPMETHOD_MULTICWD));
  curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(options().timeout_seconds * 1000));
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
  if (!web_) {
    // Sites at their defaults accept a data connection only when its TLS
    // session resumes the login's. A TLS 1.3 session resumes once (each
    // resumption needs a ticket of its own, which an upload never reads),
    // a TLS 1.2 session as often as there are data connections.
    curl_easy_setopt(e, CURLOPT_SSLVERSION,
                     static_cast<long>(CURL_SSLVERSION_TLSv1_2) |
                         static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
  }
  if (const std::string& ca = options().ca_file; !ca.empty()) {
    curl_easy_setopt(e, CURLOPT_CAINFO, ca.c_str());
  }
  // What a request receives is dropped unless it sets a writer of its own
  // (libcurl would write it to standard output).
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Discard);
  if (web_) {
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Discard);
  } else {
    // An FTP site's replies come here: the last one names a failure's cause.
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlFtpComponent::OnReply);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, r.get());
  }
  if (web_) {
    // Basic authentication, over HTTPS unless the address says http://;
    // an answer of 400 or more ends the request without its body, and
    // redirects are looked at before they are followed.
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(e, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, WholeSeconds(answer_seconds));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  }
  // A file larger than the limit is refused when the site tells its size
  // first, and otherwise stopped once more has arrived (OnWrite).
  r->limit = size_limit();
  if (r->limit > 0) {
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(r->limit));
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
  for (const std::string& name : folder.names()) {
    // A web site has nothing above its base: a ".." left above it is no
    // name to send (an empty URL fails as malformed).
    if (web_ && name == "..") return "";
    url += escape(name) + "/";
  }
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
  // A line break would end USER or PASS early and send the rest as a
  // command of its own.
  constexpr std::string_view kBreaks("\r\n\0", 3);
  if (user.find_first_of(kBreaks) != std::string_view::npos ||
      password.find_first_of(kBreaks) != std::string_view::npos) {
    return Queue(kFtpMethodConnect, kFtpFailed,
                 "The user name or password holds a line break or NUL "
                 "character; nothing was sent.");
  }
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
  use_ssl_ = options().tls == TlsMode::kOff ? CURLUSESSL_NONE : CURLUSESSL_ALL;
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
    if (options().tls == TlsMode::kRequire) {
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
  auto r = NewRequest(kFtpMethodConnect, options().timeout_seconds);
  if (!r) return Queue(kFtpMethodConnect, kFtpFailed, "Out of memory.");
  curl_easy_setopt(r->easy.get(), CURLOPT_NOBODY, 1L);
  std::string url = Url(r->easy.get(), RemotePath(), "");
  Start(std::move(r), url);
}

void CurlFtpComponent::StartConnect() {
  auto r = NewRequest(kFtpMethodConnect, options().timeout_seconds);
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
  if (options().tls != TlsMode::kTry || use_ssl_ != CURLUSESSL_ALL)
    return false;
  // Only a site that does not offer TLS: one that offers it and fails to
  // prove who it is never gets the password in clear.
  if (done.code != kFtpTlsRefused) return false;
  tls_note_ = done.text +
              " The session goes on without TLS: the password "
              "and the files cross the network unencrypted.";
  use_ssl_ = CURLUSESSL_NONE;
  StartConnect();
  return true;
}

void CurlFtpComponent::ChangeDirectory(std::string_view directory) {
  if (Refuse(kFtpMethodChangeDirectory, true)) return;
  auto r = NewRequest(kFtpMethodChangeDirectory, options().timeout_seconds);
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
  auto r = NewRequest(method, options().stall_seconds);
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
  r->stall_seconds = options().stall_seconds;
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
  std::string partial = ".";
  partial += file;
  partial += ".mvpartial";
  r->temp_path = JoinName(folder, partial);
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
  int err = OpenPartialFile(env_, r->temp_path, r->info_path, now, &r->file,
                            &r->offset);
  if (err == 0 && compute_sha256_) err = StartDigest(*r);
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
  curl_easy_setopt(e, CURLOPT_SHARE, share_.get());
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
    r->stall_seconds = options().stall_seconds;
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
  auto r = NewRequest(kFtpMethodDisconnect,
                      std::min(options().timeout_seconds, 5.0));
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
  auto r = NewRequest(kFtpMethodList, options().timeout_seconds);
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
  if (result == CURLE_FILESIZE_EXCEEDED) r->too_large = true;
  if (char* location = nullptr;
      curl_easy_getinfo(r->easy.get(), CURLINFO_REDIRECT_URL, &location) ==
          CURLE_OK &&
      location) {
    r->redirect = location;
  }
  SessionFacts site{host_, user_, base_, options().tls};
  Completion done = web_ ? DescribeWeb(site, *r, result, reply)
                         : DescribeFtp(site, *r, result, reply);
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
    env_.RemoveFile(r->info_path);
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
       std::initializer_list<std::string Request::*>{
           &Request::remote, &Request::remote_shown, &Request::local,
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
  if (done.code == 0) {
    int err = PutDownloadInPlace(env_, r.file, r.temp_path, r.info_path,
                                 r.target_path);
    if (err == 0) {
      if (r.digest) sha256_ = r.digest->HexDigest();
      return;
    }
    done = LocalFailure(kFtpMethodGetFile, err, r.local, r.target_path, true);
    return;
  }
  r.file.Close();
  if (r.local_errno != 0 || r.too_large) {
    DropPartialFile(env_, r.temp_path, r.info_path);
  }
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
  if (r->limit > 0 &&
      r->offset + r->received + static_cast<int64_t>(total) > r->limit) {
    r->too_large = true;
    return 0;  // makes libcurl end the transfer with a write error
  }
  r->received += static_cast<int64_t>(total);
  if (r->digest) r->digest->Update(data, total);
  if (int err = r->env->WriteFd(r->file.get(), data, total); err != 0) {
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

size_t CurlFtpComponent::OnReply(char* data, size_t size, size_t count,
                                 void* user) {
  auto* r = static_cast<Request*>(user);
  size_t total = size * count;
  // "421 Too many connections": printable text only, and not too much.
  std::string line;
  for (size_t i = 0; i < total && line.size() < 200; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c == '\r' || c == '\n') break;
    line += c >= ' ' && c != 0x7f ? static_cast<char>(c) : '?';
  }
  if (!line.empty()) r->last_reply = std::move(line);
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

std::unique_ptr<FtpComponent> MakeCurlFtpComponent(Env& env) {
  InitCurlOnce();
  MultiHandle multi(curl_multi_init());
  ShareHandle share(curl_share_init());
  if (!multi || !share) return nullptr;
  // One thread uses the share: no lock functions are needed.
  if (curl_share_setopt(share.get(), CURLSHOPT_SHARE,
                        CURL_LOCK_DATA_SSL_SESSION) != CURLSHE_OK) {
    return nullptr;
  }
  return std::make_unique<CurlFtpComponent>(env, std::move(multi),
                                            std::move(share));
}

}  // namespace mv
