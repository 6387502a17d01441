// Processes started through the host's ProcessStart adapter.
#pragma once

namespace platform::host {

// Waits until every process started so far by this process has ended.
// Windows callers never wait for them; tests do, to see their effect.
void WaitForStartedProcesses();

}  // namespace platform::host
