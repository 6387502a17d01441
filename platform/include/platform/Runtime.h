// Load-time and start-up work that differs by platform.
#pragma once

#include "platform/WinTypes.h"

namespace platform {

// CoInitialize for the calling thread (never uninitialized); no-op on the host.
void InitializeCom();
// setlocale(LC_ALL, "") so that wide text formats into narrow text through
// the user's code page.
void SetLocaleFromEnvironment();
// A program's first call: DLLs loaded by name come from the system folder
// only, never from the program's own or the current folder, where someone
// may have planted one. 0, or the Win32 error of SetDefaultDllDirectories
// (the host has no such search: 0).
DWORD RestrictDllSearchToSystem();

}  // namespace platform
