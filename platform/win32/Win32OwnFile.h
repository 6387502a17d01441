// A file that only its name leads to: opened without following a symbolic
// link or junction at the name, and kept only when it is a regular disk
// file with one link; anything else is closed again with
// ERROR_ACCESS_DENIED before a byte is read or written.
#pragma once

#include <windows.h>

namespace platform {

// CreateFileW/CreateFileA with these arguments; CREATE_ALWAYS and
// TRUNCATE_EXISTING truncate only once the file has passed the check. The
// last error on success is the one CreateFile left (ERROR_ALREADY_EXISTS).
HANDLE OpenOwnFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition);
HANDLE OpenOwnFileA(const char* path, DWORD access, DWORD share, DWORD disposition);

}  // namespace platform
