// The vendor's update site as the vendor's tool sees it: the tree that the
// FTP or web server serves (Merivane/Update/..., Merivane/<customer>/...),
// reached as a local folder or over ftp://, ftps:// (TLS required) or
// https:// (WebDAV PUT and MOVE). Paths are relative to the site's root,
// with "/" between folders. A failure's description names the file.
#ifndef MVUPDATE_VENDOR_VENDOR_SITE_H_
#define MVUPDATE_VENDOR_VENDOR_SITE_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/crypto.h"
#include "system/failure.h"

namespace mv {

class VendorSite {
 public:
  virtual ~VendorSite() = default;
  // The site as the user named it, for messages.
  virtual std::string Name(const std::string& path) const = 0;
  // The contents of a file; nothing when the site has no such file.
  virtual Result<std::optional<std::string>> Fetch(const std::string& path) = 0;
  // The SHA-256 digest (hex) of a file, read as a stream; nothing when the
  // site has no such file.
  virtual Result<std::optional<std::string>> Digest(
      const std::string& path) = 0;
  // Stores a local file (or `data`) at `path`, feeding the bytes sent to
  // `digest`. A folder site writes it under a temporary name and renames
  // it; a remote site writes `path` as given (the caller picks temporary
  // names and calls Rename). Over FTP a file whose size on the server
  // differs from the bytes sent is a failure.
  virtual Status Put(const std::string& local_file, const std::string& path,
                     Sha256* digest) = 0;
  virtual Status PutData(std::string_view data, const std::string& path) = 0;
  // Renames `from` to `to`, replacing `to`.
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  // The sub-folders (or the ordinary files) of a folder, in name order.
  virtual Result<std::vector<std::string>> Folders(const std::string& path) = 0;
  virtual Result<std::vector<std::string>> Files(const std::string& path) = 0;
  // False for a web site, which gives no listing of its folders.
  virtual bool Lists() const = 0;
};

// The SHA-256 digest (hex) of a local file, read as a stream.
Result<std::string> FileDigest(const std::string& path);

// What to reach a remote site with.
struct SiteLogin {
  std::string user;  // empty: ~/.netrc
  std::string password;
  std::string ca_file;  // empty: the system's CAs
};

// A folder path or an ftp://, ftps:// or https:// address; a failure for
// any other scheme.
Result<std::unique_ptr<VendorSite>> OpenVendorSite(const std::string& site,
                                                   const SiteLogin& login);

}  // namespace mv

#endif  // MVUPDATE_VENDOR_VENDOR_SITE_H_
