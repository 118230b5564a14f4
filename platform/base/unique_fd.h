#pragma once
// Sole owner of a file descriptor: closes it when destroyed or reset.
#include <unistd.h>

#include <utility>

#include "platform/base/result.h"

namespace plat {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }

  // Gives the descriptor up without closing it.
  int release() { return std::exchange(fd_, -1); }
  // Closes now, for a caller that must know the close worked (a late write error shows here).
  Result<void> close() {
    const int old = release();
    if (old >= 0 && ::close(old) != 0) return errnoError("close");
    return success();
  }
  void reset(int fd = -1) {
    const int old = std::exchange(fd_, fd);
    if (old >= 0 && old != fd) ::close(old);
  }

 private:
  int fd_ = -1;
};

}  // namespace plat
