#include "platform/host/posix/ReadWrite.h"

#include <unistd.h>

#include <cerrno>

namespace platform::host {

size_t ReadAll(int fd, void* buffer, size_t size, int* error) {
  *error = 0;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool ReadAll(int fd, std::string* out) {
  char buffer[65536];
  for (;;) {
    int error;
    size_t n = ReadAll(fd, buffer, sizeof buffer, &error);
    out->append(buffer, n);
    if (error != 0) {
      errno = error;
      return false;
    }
    if (n < sizeof buffer) return true;
  }
}

size_t WriteAll(int fd, const void* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, static_cast<const char*>(data) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

}  // namespace platform::host
