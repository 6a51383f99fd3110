// A whole ordinary file mapped read-only into memory, for readers that jump
// around in large files (the version reader).
#ifndef MVUPDATE_SYSTEM_MAPPED_FILE_H_
#define MVUPDATE_SYSTEM_MAPPED_FILE_H_

#include <optional>
#include <string>
#include <string_view>

namespace mv {

class MappedFile {
 public:
  // Nothing for a file that is missing, empty, not an ordinary file (a FIFO
  // does not hold the reader up) or cannot be mapped.
  static std::optional<MappedFile> Open(const std::string& native);
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&&) = delete;
  MappedFile(const MappedFile&) = delete;
  ~MappedFile();

  std::string_view bytes() const {
    return {static_cast<const char*>(addr_), size_};
  }

 private:
  MappedFile(const void* addr, size_t size) : addr_(addr), size_(size) {}
  const void* addr_;
  size_t size_;
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_MAPPED_FILE_H_
