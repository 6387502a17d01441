// flock() that waits on through signals.
#pragma once

namespace platform::host {

// flock(fd, operation), called again while a signal interrupts the wait;
// 0, or -1 with errno for any other failure. LOCK_NB in operation still
// returns at once with EWOULDBLOCK.
int LockRetrying(int fd, int operation);

}  // namespace platform::host
