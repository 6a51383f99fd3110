#include "system/env.h"

#include <ctime>

#include "system/settings_store.h"

namespace mv {

namespace {

// The platform's functions, which the build chose (system/posix/ or
// system/windows/).
class PlatformEnv final : public Env {
 public:
  int OpenFile(std::string_view native, FileOpen how, UniqueFd& fd) override {
    return mv::OpenFile(native, how, fd);
  }
  int FactsOfFd(int fd, FileFacts& facts) override {
    return mv::FactsOfFd(fd, facts);
  }
  int WriteFd(int fd, const void* data, size_t size) override {
    return mv::WriteFd(fd, data, size);
  }
  int TruncateFd(int fd, int64_t size) override {
    return mv::TruncateFd(fd, size);
  }
  int SetModifiedTime(int fd, int64_t unix_time) override {
    return mv::SetModifiedTime(fd, unix_time);
  }
  int RenameFile(std::string_view from, std::string_view to) override {
    return mv::RenameFile(from, to);
  }
  int RemoveFile(std::string_view native) override {
    return mv::RemoveFile(native);
  }
  Status WriteFileAtomically(std::string_view native, std::string_view contents,
                             AtLink at_link) override {
    return mv::WriteFileAtomically(native, contents, at_link);
  }
  Status CopyFile(std::string_view from_native, std::string_view to_native,
                  Sha256* digest, int64_t max_bytes) override {
    return mv::CopyFile(from_native, to_native, digest, max_bytes);
  }
  std::optional<uint64_t> FreeBytes(const std::string& native) override {
    return mv::FreeBytes(native);
  }
  std::optional<uint64_t> FileSizeLimit() override {
    return mv::FileSizeLimit();
  }
  Status WriteSettings(std::string_view store, std::string_view section,
                       const SettingValues& values) override {
    return mv::WriteSettings(store, section, values);
  }
  int64_t NowSeconds() override {
    return static_cast<int64_t>(std::time(nullptr));
  }
};

}  // namespace

Env& Env::Default() {
  static PlatformEnv env;  // holds no state: safe to use until exit
  return env;
}

}  // namespace mv
