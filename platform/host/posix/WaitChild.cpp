#include "platform/host/posix/WaitChild.h"

#include <sys/wait.h>

#include <cerrno>

namespace platform::host {

pid_t WaitChild(pid_t pid, int* status) {
  pid_t rc;
  while ((rc = ::waitpid(pid, status, 0)) < 0 && errno == EINTR) {
  }
  return rc;
}

}  // namespace platform::host
