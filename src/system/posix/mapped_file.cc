#include "system/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <utility>

#include "system/unique_fd.h"

namespace mv {

std::optional<MappedFile> MappedFile::Open(const std::string& native) {
  // O_NONBLOCK: a FIFO must not hold the reader up; it is refused below.
  UniqueFd fd(
      ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return std::nullopt;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
    return std::nullopt;
  }
  auto size = static_cast<size_t>(st.st_size);
  void* addr = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (addr == MAP_FAILED) return std::nullopt;
  // The readers jump from header to directory to data: read-ahead of the
  // pages in between would be wasted on a large file.
  ::madvise(addr, size, MADV_RANDOM);
  return MappedFile(addr, size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : addr_(std::exchange(other.addr_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

MappedFile::~MappedFile() {
  if (addr_ != nullptr) ::munmap(const_cast<void*>(addr_), size_);
}

}  // namespace mv
