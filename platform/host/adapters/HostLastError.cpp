#include "platform/LastError.h"

namespace platform {

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD GetLastErrorCode() { return t_lastError; }
void SetLastErrorCode(DWORD code) { t_lastError = code; }

}  // namespace platform
