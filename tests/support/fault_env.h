// An Env that makes faults happen where a test asks: a disk that fills up
// (for all files or for some), a rename, an atomic write or a copy that
// fails for files of a given name, free space or a size limit too small,
// and a clock that stands where it is set. Everything else goes to the
// platform's Env.
#ifndef MVUPDATE_TESTS_SUPPORT_FAULT_ENV_H_
#define MVUPDATE_TESTS_SUPPORT_FAULT_ENV_H_

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "system/env.h"

namespace mv {

class FaultEnv : public EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(Env::Default()) {}

  // Writes fail with ENOSPC once this many bytes went through WriteFd.
  std::optional<int64_t> room;
  // Writes to files opened under a path that ends in this fail with ENOSPC
  // until it is cleared.
  std::string full;
  // Opening for writing, renames onto, atomic writes of and copies to a
  // path, and writes of a settings store (SettingsStore::FileFor), that
  // end in this fail with `error`.
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
    int err = EnvWrapper::OpenFile(native, how, fd);
    FileFacts facts;
    if (err == 0 && !full.empty() && native.ends_with(full) &&
        FactsOfFd(fd.get(), facts) == 0) {
      std::lock_guard lock(mutex_);
      full_files_.insert({facts.device, facts.file_id});
    }
    return err;
  }
  int WriteFd(int fd, const void* data, size_t size) override {
    if (room && (written_ += static_cast<int64_t>(size)) > *room) {
      return ENOSPC;
    }
    if (OnFullDisk(fd)) return ENOSPC;
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
  Status WriteSettings(std::string_view store, std::string_view section,
                       const SettingValues& values) override {
    if (Refused(store)) return Failure::FromErrno(error, std::string(store));
    return EnvWrapper::WriteSettings(store, section, values);
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
  // Files are told by their identity, not their descriptor, which a later
  // open may reuse for another file.
  bool OnFullDisk(int fd) {
    FileFacts facts;
    std::lock_guard lock(mutex_);
    if (full.empty()) full_files_.clear();
    return !full_files_.empty() && FactsOfFd(fd, facts) == 0 &&
           full_files_.count({facts.device, facts.file_id}) != 0;
  }
  std::atomic<int64_t> written_ = 0;
  std::mutex mutex_;  // downloads write on threads of their own
  std::set<std::pair<uint64_t, uint64_t>> full_files_;
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_FAULT_ENV_H_
