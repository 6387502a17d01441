#include "platform/host/posix/UniqueFd.h"

#include <unistd.h>

namespace platform::host {

int UniqueFd::Close() {
  int fd = Release();
  return fd >= 0 ? ::close(fd) : 0;
}

}  // namespace platform::host
