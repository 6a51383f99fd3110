#include "vendor/vendor_site.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "system/files.h"
#include "system/text.h"

namespace mv {

namespace {

namespace fs = std::filesystem;

Failure SiteFailure(const std::string& what, const std::string& why) {
  return Failure(kPathFileAccessError, what + ": " + why);
}

// A folder: the site's root as the server serves it.
class FolderSite : public VendorSite {
 public:
  explicit FolderSite(std::string root) : root_(std::move(root)) {}

  std::string Name(const std::string& path) const override {
    return Full(path);
  }
  Result<std::optional<std::string>> Fetch(const std::string& path) override {
    if (!PathExists(Full(path))) return std::optional<std::string>();
    Result<std::string> data = ReadWholeFile(Full(path));
    if (!data.ok()) return Named(path, data.failure());
    return std::optional<std::string>(std::move(data.value()));
  }
  Result<std::optional<std::string>> Digest(const std::string& path) override {
    if (!PathExists(Full(path))) return std::optional<std::string>();
    Result<std::string> digest = FileDigest(Full(path));
    if (!digest.ok()) return digest.failure();  // names the file
    return std::optional<std::string>(digest.value());
  }
  Status Put(const std::string& local_file, const std::string& path,
             Sha256* digest) override {
    if (Status st = MakeParent(path); !st.ok()) return st;
    Status st = CopyFile(local_file, Full(path), digest);
    return st.ok() ? st : Named(path, st.failure());
  }
  Status PutData(std::string_view data, const std::string& path) override {
    if (Status st = MakeParent(path); !st.ok()) return st;
    Status st = WriteFileAtomically(Full(path), data);
    return st.ok() ? st : Named(path, st.failure());
  }
  Status Rename(const std::string& from, const std::string& to) override {
    std::error_code error;
    fs::rename(Full(from), Full(to), error);
    if (error) return SiteFailure(Full(to), error.message());
    return Status::Ok();
  }
  Result<std::vector<std::string>> Folders(const std::string& path) override {
    return List(path, true);
  }
  Result<std::vector<std::string>> Files(const std::string& path) override {
    return List(path, false);
  }
  bool Lists() const override { return true; }

 private:
  std::string Full(const std::string& path) const {
    return path.empty() ? root_ : root_ + "/" + path;
  }
  // Every failure names the file it is about.
  Failure Named(const std::string& path, const Failure& failure) const {
    return Failure(failure.number(), Full(path) + ": " + failure.description());
  }
  Status MakeParent(const std::string& path) {
    std::error_code error;
    fs::create_directories(fs::path(Full(path)).parent_path(), error);
    if (error) return SiteFailure(Full(path), error.message());
    return Status::Ok();
  }
  // One pass over the folder; only the names are kept.
  Result<std::vector<std::string>> List(const std::string& path, bool folders) {
    std::error_code error;
    std::vector<std::string> names;
    for (fs::directory_iterator it(Full(path), error), end; !error && it != end;
         it.increment(error)) {
      std::string name = it->path().filename().string();
      if (name.empty() || name[0] == '.') continue;
      std::error_code kind_error;
      bool is_folder = it->is_directory(kind_error);
      bool is_file = it->is_regular_file(kind_error);
      if (folders ? is_folder : is_file) names.push_back(std::move(name));
    }
    if (error) return SiteFailure(Full(path), error.message());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string root_;
};

struct CurlFree {
  void operator()(CURL* e) const { curl_easy_cleanup(e); }
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Easy = std::unique_ptr<CURL, CurlFree>;
using Slist = std::unique_ptr<curl_slist, CurlFree>;

size_t AppendTo(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

size_t DigestInto(char* data, size_t size, size_t count, void* out) {
  static_cast<Sha256*>(out)->Update(data, size * count);
  return size * count;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// What an upload reads from: a file or a block of memory.
struct Source {
  std::FILE* file = nullptr;
  std::string_view data;
  Sha256* digest = nullptr;
};

size_t ReadSource(char* buffer, size_t size, size_t count, void* in) {
  Source* source = static_cast<Source*>(in);
  size_t n = 0;
  if (source->file != nullptr) {
    n = std::fread(buffer, 1, size * count, source->file);
    if (n == 0 && std::ferror(source->file)) return CURL_READFUNC_ABORT;
  } else {
    n = std::min(size * count, source->data.size());
    std::copy_n(source->data.data(), n, buffer);
    source->data.remove_prefix(n);
  }
  if (source->digest != nullptr) source->digest->Update(buffer, n);
  return n;
}

// ftp://, ftps:// (explicit TLS, required) or https:// (WebDAV).
class CurlSite : public VendorSite {
 public:
  CurlSite(std::string root, bool web, bool tls, SiteLogin login)
      : root_(std::move(root)),
        web_(web),
        tls_(tls),
        login_(std::move(login)) {}

  std::string Name(const std::string& path) const override {
    return root_ + "/" + path;
  }
  Result<std::optional<std::string>> Fetch(const std::string& path) override {
    std::string data;
    CURL* e = Request(path);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &AppendTo);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &data);
    Result<bool> found = PerformAllowingAbsence(e, path);
    if (!found.ok()) return found.failure();
    if (!found.value()) return std::optional<std::string>();
    return std::optional<std::string>(std::move(data));
  }
  Result<std::optional<std::string>> Digest(const std::string& path) override {
    Sha256 digest;
    CURL* e = Request(path);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &DigestInto);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &digest);
    Result<bool> found = PerformAllowingAbsence(e, path);
    if (!found.ok()) return found.failure();
    if (!found.value()) return std::optional<std::string>();
    return std::optional<std::string>(digest.HexDigest());
  }
  Status Put(const std::string& local_file, const std::string& path,
             Sha256* digest) override {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen(local_file.c_str(), "rb"), &std::fclose);
    if (!file) return SiteFailure(local_file, "cannot be read");
    std::error_code error;
    auto size = fs::file_size(local_file, error);
    return Upload(Source{file.get(), {}, digest}, path,
                  error ? -1 : static_cast<curl_off_t>(size));
  }
  Status PutData(std::string_view data, const std::string& path) override {
    return Upload(Source{nullptr, data, nullptr}, path,
                  static_cast<curl_off_t>(data.size()));
  }
  Status Rename(const std::string& from, const std::string& to) override {
    Slist list;
    if (web_) {
      CURL* e = Request(from);
      curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, "MOVE");
      list.reset(
          curl_slist_append(nullptr, ("Destination: " + Url(to)).c_str()));
      list.reset(curl_slist_append(list.release(), "Overwrite: T"));
      curl_easy_setopt(e, CURLOPT_HTTPHEADER, list.get());
      return Perform(e, to);
    }
    // RNFR and RNTO after logging in, on a request that transfers nothing.
    CURL* e = Request("");
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    list.reset(curl_slist_append(nullptr, ("RNFR " + from).c_str()));
    list.reset(curl_slist_append(list.release(), ("RNTO " + to).c_str()));
    curl_easy_setopt(e, CURLOPT_POSTQUOTE, list.get());
    return Perform(e, to);
  }
  Result<std::vector<std::string>> Folders(const std::string& path) override {
    return List(path, true);
  }
  Result<std::vector<std::string>> Files(const std::string& path) override {
    return List(path, false);
  }
  bool Lists() const override { return !web_; }

 private:
  std::string Url(const std::string& path) const {
    std::string url = root_;
    size_t pos = 0;
    while (pos < path.size()) {
      size_t end = path.find('/', pos);
      if (end == std::string::npos) end = path.size();
      std::string part = path.substr(pos, end - pos);
      char* escaped = curl_easy_escape(nullptr, part.c_str(),
                                       static_cast<int>(part.size()));
      url += "/" + std::string(escaped);
      curl_free(escaped);
      pos = end + 1;
    }
    if (!path.empty() && path.back() == '/') url += "/";
    return url;
  }

  // One handle for every request, so that the login's connection is kept
  // between them (thousands of customer folders are read one by one).
  CURL* Request(const std::string& path) {
    if (easy_) {
      curl_easy_reset(easy_.get());
    } else {
      easy_.reset(curl_easy_init());
    }
    CURL* h = easy_.get();
    std::string url = Url(path);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Discard);
    if (login_.user.empty()) {
      curl_easy_setopt(h, CURLOPT_NETRC,
                       static_cast<long>(CURL_NETRC_OPTIONAL));
    } else {
      curl_easy_setopt(h, CURLOPT_USERNAME, login_.user.c_str());
      curl_easy_setopt(h, CURLOPT_PASSWORD, login_.password.c_str());
    }
    if (!login_.ca_file.empty()) {
      curl_easy_setopt(h, CURLOPT_CAINFO, login_.ca_file.c_str());
    }
    if (web_) {
      curl_easy_setopt(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
      curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
      curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
    } else {
      curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "ftp");
      curl_easy_setopt(h, CURLOPT_FTP_CREATE_MISSING_DIRS,
                       static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
      if (tls_) {
        // Explicit TLS for the login and every data connection; a site
        // that does not offer it is refused before the password is sent.
        curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(h, CURLOPT_FTPSSLAUTH,
                         static_cast<long>(CURLFTPAUTH_TLS));
        // At most TLS 1.2. Under TLS 1.3 the server sends session tickets
        // after the handshake; curl never reads an upload's data connection,
        // so it closes that socket with the tickets unread, the kernel
        // answers with a reset instead of an orderly close, and the server
        // loses whatever it had not read yet while still reporting 226.
        curl_easy_setopt(h, CURLOPT_SSLVERSION,
                         static_cast<long>(CURL_SSLVERSION_TLSv1_2) |
                             static_cast<long>(CURL_SSLVERSION_MAX_TLSv1_2));
      }
    }
    return h;
  }

  Status Perform(CURL* e, const std::string& path) const {
    char error[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error);
    CURLcode code = curl_easy_perform(e);
    if (code == CURLE_OK) return Status::Ok();
    return SiteFailure(
        Url(path), error[0] ? std::string(error) : curl_easy_strerror(code));
  }

  // True when found; false when the site says there is no such file.
  Result<bool> PerformAllowingAbsence(CURL* e, const std::string& path) const {
    Status st = Perform(e, path);
    if (st.ok()) return true;
    long response = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &response);
    if ((web_ && response == 404) || (!web_ && response == 550)) return false;
    return st.failure();
  }

  Status Upload(Source source, const std::string& path, curl_off_t size) {
    CURL* e = Request(path);
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &ReadSource);
    curl_easy_setopt(e, CURLOPT_READDATA, &source);
    if (size >= 0) curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, size);
    Status st = Perform(e, path);
    if (!st.ok() || web_ || size < 0) return st;
    // An FTP server takes the data connection's end, even a reset one, for
    // the end of the file and answers 226: the size it holds tells whether
    // every byte arrived, before the file is renamed into place.
    curl_off_t held = RemoteSize(path);
    if (held == size) return Status::Ok();
    return SiteFailure(
        Url(path), held < 0
                       ? "the server does not tell the size it received"
                       : "the server received " + std::to_string(held) +
                             " of the " + std::to_string(size) + " bytes sent");
  }

  // The size of a file as the FTP server reports it (SIZE); -1 when it
  // does not.
  curl_off_t RemoteSize(const std::string& path) {
    CURL* e = Request(path);
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    curl_off_t size = -1;
    if (Perform(e, path).ok()) {
      curl_easy_getinfo(e, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size);
    }
    return size;
  }

  // A listing: over FTP the LIST lines (folders begin with "d"); a web site
  // gives none.
  Result<std::vector<std::string>> List(const std::string& path, bool folders) {
    if (web_) {
      return SiteFailure(Url(path),
                         "a web site gives no listing; name the site's folder "
                         "or its ftp:// or ftps:// address");
    }
    std::string text;
    CURL* e = Request(path.empty() ? "" : path + "/");
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &AppendTo);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &text);
    if (Status st = Perform(e, path); !st.ok()) return st.failure();
    std::vector<std::string> names;
    for (std::string_view line : SplitLines(text)) {
      line = TrimWhitespace(line);
      if (line.empty() || (line[0] == 'd') != folders ||
          (!folders && line[0] != '-')) {
        continue;
      }
      // Nine fields; the name is the rest of the line from the ninth on.
      size_t pos = 0;
      for (int field = 0; field < 8 && pos != std::string_view::npos; ++field) {
        pos = line.find_first_not_of(' ', line.find(' ', pos));
      }
      if (pos == std::string_view::npos) continue;
      std::string name(line.substr(pos));
      if (name != "." && name != ".." && name[0] != '.') names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string root_;
  bool web_;
  bool tls_;
  SiteLogin login_;
  Easy easy_;
};

}  // namespace

Result<std::string> FileDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return SiteFailure(path, "cannot be read");
  Sha256 digest;
  std::vector<char> buffer(1 << 20);
  while (in.read(buffer.data(), buffer.size()) || in.gcount() > 0) {
    digest.Update(buffer.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return SiteFailure(path, "cannot be read");
  return digest.HexDigest();
}

Result<std::unique_ptr<VendorSite>> OpenVendorSite(const std::string& site,
                                                   const SiteLogin& login) {
  size_t scheme_end = site.find("://");
  std::string root = site;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (scheme_end == std::string::npos) {
    return std::unique_ptr<VendorSite>(std::make_unique<FolderSite>(root));
  }
  // A login written into the address would be seen by every user of the
  // machine (the command line) and copied into pages and messages that name
  // the site.
  const size_t host = scheme_end + 3;
  const std::string authority = site.substr(host, site.find('/', host) - host);
  if (authority.find('@') != std::string::npos) {
    return Failure(kBadFileName,
                   "the site address holds a login; give it in "
                   "MVUPDATE_VENDOR_USER and MVUPDATE_VENDOR_PASSWORD instead");
  }
  std::string scheme = ToLowerAscii(site.substr(0, scheme_end));
  if (scheme == "https") {
    return std::unique_ptr<VendorSite>(
        std::make_unique<CurlSite>(root, true, true, login));
  }
  if (scheme == "ftp" || scheme == "ftps") {
    // curl's ftps:// is implicit TLS on port 990; sites offer explicit TLS
    // (AUTH TLS) on the FTP port, which ftp:// with TLS required gives.
    root = "ftp" + root.substr(scheme_end);
    return std::unique_ptr<VendorSite>(
        std::make_unique<CurlSite>(root, false, scheme == "ftps", login));
  }
  return Failure(kBadFileName, site +
                                   ": the site must be a folder or an "
                                   "ftp://, ftps:// or https:// address");
}

}  // namespace mv
