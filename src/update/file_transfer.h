// How update commands reach the vendor's site: the transport layer's site
// session implements this, and the command interpreter fetches through it
// without knowing which protocol carries the files.
#ifndef MVUPDATE_UPDATE_FILE_TRANSFER_H_
#define MVUPDATE_UPDATE_FILE_TRANSFER_H_

#include <string_view>

namespace mv {

class FileTransfer {
 public:
  virtual ~FileTransfer() = default;

  // Downloads `remote_file` from the session's current remote folder to
  // `local_file`, or uploads `local_file` as `remote_file`. False when the
  // transfer failed; the failure has then been logged. When `sha256` is
  // given it receives the SHA-256 of the file fetched (64 lower-case hex
  // digits), computed as the file was written.
  virtual bool GetFile(std::string_view local_file,
                       std::string_view remote_file, std::string* sha256) = 0;
  bool GetFile(std::string_view local_file, std::string_view remote_file) {
    return GetFile(local_file, remote_file, nullptr);
  }
  virtual bool PutFile(std::string_view local_file,
                       std::string_view remote_file) = 0;
};

}  // namespace mv

#endif  // MVUPDATE_UPDATE_FILE_TRANSFER_H_
