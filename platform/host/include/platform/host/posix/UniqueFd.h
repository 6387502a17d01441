// The one owner of a file descriptor on the host: closes it at the end of
// its scope, moves but never copies.
#pragma once

namespace platform::host {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Takes fd, closing the one held before.
  void Reset(int fd = -1) {
    UniqueFd old(fd_);
    fd_ = fd;
  }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now, for callers that must know whether the close failed (a
  // file's last written bytes may fail only here); 0 when none was held.
  int Close();

 private:
  int fd_ = -1;
};

}  // namespace platform::host
