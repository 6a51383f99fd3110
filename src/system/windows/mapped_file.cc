#include "system/mapped_file.h"

#include <utility>

#include "system/windows/win32.h"

namespace mv {

std::optional<MappedFile> MappedFile::Open(const std::string& native) {
  UniqueHandle file(::CreateFileW(
      Widen(native).c_str(), GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr));
  if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK) return std::nullopt;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0) {
    return std::nullopt;
  }
  // The view keeps the file mapped after both handles are closed.
  UniqueHandle mapping(
      ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return std::nullopt;
  void* addr = ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
  if (addr == nullptr) return std::nullopt;
  return MappedFile(addr, static_cast<size_t>(size.QuadPart));
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : addr_(std::exchange(other.addr_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

MappedFile::~MappedFile() {
  if (addr_ != nullptr) ::UnmapViewOfFile(addr_);
}

}  // namespace mv
