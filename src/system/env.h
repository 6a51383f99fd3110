// The platform as the layers above this one change files and read the
// clock: one small interface, passed in to what writes files or judges age
// (as leveldb passes its Env in Options), so that tests put a fake in its
// place to make a disk fill up, a rename fail or the clock stand still.
// Env::Default() is the platform's own, forwarding to file_io.h, files.h
// and settings_store.h; EnvWrapper forwards every call to another Env, so
// that a fake overrides only what it disturbs.
//
// The file operations are the same on both platforms; the settings store's
// write is its file on Linux and the registry on Windows, one call here so
// that a fake refuses it on both.
#ifndef MVUPDATE_SYSTEM_ENV_H_
#define MVUPDATE_SYSTEM_ENV_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "system/crypto.h"
#include "system/date_time.h"
#include "system/failure.h"
#include "system/file_io.h"
#include "system/files.h"
#include "system/unique_fd.h"

namespace mv {

// Keys and values of one section of the settings store, in the order they
// are set.
using SettingValues =
    std::vector<std::pair<std::string_view, std::string_view>>;

class Env {
 public:
  Env() = default;
  Env(const Env&) = delete;
  Env& operator=(const Env&) = delete;
  virtual ~Env() = default;

  // The platform's, for the life of the process.
  static Env& Default();

  // As the functions of the same names in file_io.h and files.h: 0 or an
  // errno value, or a Status.
  virtual int OpenFile(std::string_view native, FileOpen how, UniqueFd& fd) = 0;
  virtual int FactsOfFd(int fd, FileFacts& facts) = 0;
  virtual int WriteFd(int fd, const void* data, size_t size) = 0;
  virtual int TruncateFd(int fd, int64_t size) = 0;
  virtual int SetModifiedTime(int fd, int64_t unix_time) = 0;
  virtual int RenameFile(std::string_view from, std::string_view to) = 0;
  virtual int RemoveFile(std::string_view native) = 0;
  virtual Status WriteFileAtomically(std::string_view native,
                                     std::string_view contents,
                                     AtLink at_link) = 0;
  virtual Status CopyFile(std::string_view from_native,
                          std::string_view to_native, Sha256* digest,
                          int64_t max_bytes) = 0;
  virtual std::optional<uint64_t> FreeBytes(const std::string& native) = 0;
  virtual std::optional<uint64_t> FileSizeLimit() = 0;
  // Sets `values` in `section` of the settings store named `store`
  // (SettingsStore::FileFor).
  virtual Status WriteSettings(std::string_view store, std::string_view section,
                               const SettingValues& values) = 0;

  // Seconds since 1970 (UTC): the clock that ages files, dates what is
  // recorded and reported, and judges signatures' expiry.
  virtual int64_t NowSeconds() = 0;
  // The same clock as a local date and time.
  DateTime LocalNow() { return LocalDateTime(NowSeconds()); }
};

// Forwards every call to `target`.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env& target) : target_(target) {}
  Env& target() const { return target_; }

  int OpenFile(std::string_view native, FileOpen how, UniqueFd& fd) override {
    return target_.OpenFile(native, how, fd);
  }
  int FactsOfFd(int fd, FileFacts& facts) override {
    return target_.FactsOfFd(fd, facts);
  }
  int WriteFd(int fd, const void* data, size_t size) override {
    return target_.WriteFd(fd, data, size);
  }
  int TruncateFd(int fd, int64_t size) override {
    return target_.TruncateFd(fd, size);
  }
  int SetModifiedTime(int fd, int64_t unix_time) override {
    return target_.SetModifiedTime(fd, unix_time);
  }
  int RenameFile(std::string_view from, std::string_view to) override {
    return target_.RenameFile(from, to);
  }
  int RemoveFile(std::string_view native) override {
    return target_.RemoveFile(native);
  }
  Status WriteFileAtomically(std::string_view native, std::string_view contents,
                             AtLink at_link) override {
    return target_.WriteFileAtomically(native, contents, at_link);
  }
  Status CopyFile(std::string_view from_native, std::string_view to_native,
                  Sha256* digest, int64_t max_bytes) override {
    return target_.CopyFile(from_native, to_native, digest, max_bytes);
  }
  std::optional<uint64_t> FreeBytes(const std::string& native) override {
    return target_.FreeBytes(native);
  }
  std::optional<uint64_t> FileSizeLimit() override {
    return target_.FileSizeLimit();
  }
  Status WriteSettings(std::string_view store, std::string_view section,
                       const SettingValues& values) override {
    return target_.WriteSettings(store, section, values);
  }
  int64_t NowSeconds() override { return target_.NowSeconds(); }

 private:
  Env& target_;
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_ENV_H_
