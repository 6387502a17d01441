// The calling thread's last error, as Win32 keeps it (Win32LastError.cpp,
// HostLastError.cpp). Host adapters set it wherever the Win32 call they
// stand in for would.
#pragma once

#include "platform/WinTypes.h"

namespace platform {

DWORD GetLastErrorCode();
void SetLastErrorCode(DWORD code);

}  // namespace platform
