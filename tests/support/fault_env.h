// An Env that makes faults happen where a test asks: a disk that fills up,
// a rename, an atomic write or a copy that fails for files of a given name,
// free space or a size limit too small, and a clock that stands where it is
// set. Everything else goes to the platform's Env.
#ifndef MVUPDATE_TESTS_SUPPORT_FAULT_ENV_H_
#define MVUPDATE_TESTS_SUPPORT_FAULT_ENV_H_

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "system/env.h"

namespace mv {

class FaultEnv : public EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(Env::Default()) {}

  // Writes fail with ENOSPC once this many bytes went through WriteFd.
  std::optional<int64_t> room;
  // Opening for writing, renames onto, atomic writes of and copies to a
  // path that ends in this fail with `error`.
  std::string refuse;
  int error = EACCES;
  std::optional<uint64_t> free_bytes;
  std::optional<uint64_t> size_limit;
  std::optional<int64_t> now;

  int OpenFile(std::string_view native, FileOpen how, UniqueFd& fd) override {
    if (how != FileOpen::kRead && how != FileOpen::kReadNoWait &&
        Refused(native)) {
      return error;
    }
    return EnvWrapper::OpenFile(native, how, fd);
  }
  int WriteFd(int fd, const void* data, size_t size) override {
    if (room && (written_ += static_cast<int64_t>(size)) > *room) {
      return ENOSPC;
    }
    return EnvWrapper::WriteFd(fd, data, size);
  }
  int RenameFile(std::string_view from, std::string_view to) override {
    return Refused(to) ? error : EnvWrapper::RenameFile(from, to);
  }
  Status WriteFileAtomically(std::string_view native, std::string_view contents,
                             AtLink at_link) override {
    if (Refused(native)) return Failure::FromErrno(error, std::string(native));
    return EnvWrapper::WriteFileAtomically(native, contents, at_link);
  }
  Status CopyFile(std::string_view from, std::string_view to, Sha256* digest,
                  int64_t max_bytes) override {
    if (Refused(to)) return Failure::FromErrno(error, std::string(to));
    return EnvWrapper::CopyFile(from, to, digest, max_bytes);
  }
  std::optional<uint64_t> FreeBytes(const std::string& native) override {
    return free_bytes ? free_bytes : EnvWrapper::FreeBytes(native);
  }
  std::optional<uint64_t> FileSizeLimit() override {
    return size_limit ? size_limit : EnvWrapper::FileSizeLimit();
  }
  int64_t NowSeconds() override {
    return now ? *now : EnvWrapper::NowSeconds();
  }

 private:
  bool Refused(std::string_view path) const {
    return !refuse.empty() && path.ends_with(refuse);
  }
  std::atomic<int64_t> written_ = 0;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_FAULT_ENV_H_
