// The programs' DLL search, confined before anything loads a DLL by name.
#pragma once

#include "platform/WinTypes.h"

namespace platform {

// A program's first call: DLLs loaded by name come from the system folder
// only, never from the program's own or the current folder, where someone
// may have planted one. Where Windows lacks SetDefaultDllDirectories
// (Windows 7 without KB2533623) only the current folder can be taken out
// (SetDllDirectoryW with an empty text). 0, or the Win32 error of the call
// made (the host has no such search: 0).
DWORD RestrictDllSearchToSystem();

}  // namespace platform
