#include "platform/host/posix/FileLock.h"

#include <sys/file.h>

#include <cerrno>

namespace platform::host {

int LockRetrying(int fd, int operation) {
  int rc;
  while ((rc = ::flock(fd, operation)) != 0 && errno == EINTR) {
  }
  return rc;
}

}  // namespace platform::host
