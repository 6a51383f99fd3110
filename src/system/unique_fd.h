// Owns a POSIX file descriptor.
#ifndef MVUPDATE_SYSTEM_UNIQUE_FD_H_
#define MVUPDATE_SYSTEM_UNIQUE_FD_H_

#include <unistd.h>

#include <utility>

namespace mv {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Close(); }

  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes the descriptor; gives close's result (0 when none was open).
  int Close() { return fd_ >= 0 ? ::close(std::exchange(fd_, -1)) : 0; }

 private:
  int fd_ = -1;
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_UNIQUE_FD_H_
