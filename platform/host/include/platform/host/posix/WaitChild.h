// Waiting for a child process through signals.
#pragma once

#include <sys/types.h>

namespace platform::host {

// waitpid(pid, status, 0), called again while a signal interrupts the wait.
// Returns pid, or -1 with errno (ECHILD: not a child, or already reaped).
pid_t WaitChild(pid_t pid, int* status);

}  // namespace platform::host
