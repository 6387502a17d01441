// Load-time and start-up work that differs by platform.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/WinTypes.h"

namespace platform {

// CoInitialize for the calling thread (never uninitialized); no-op on the host.
void InitializeCom();
// setlocale(LC_ALL, "") so that wide text formats into narrow text through
// the user's code page.
void SetLocaleFromEnvironment();
// vsnprintf for the kit's narrow text: wide arguments (%ls, %S, %lc) come
// out in the ANSI code page, as the Windows runtime writes them.
int FormatAnsi(char* buffer, size_t size, const char* format, va_list args);
// A program's first call: DLLs loaded by name come from the system folder
// only, never from the program's own or the current folder, where someone
// may have planted one. 0, or the Win32 error of SetDefaultDllDirectories
// (the host has no such search: 0).
DWORD RestrictDllSearchToSystem();

}  // namespace platform
