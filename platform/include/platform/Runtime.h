// Runtime-library work of an in-process module that differs by platform.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace platform {

// CoInitialize for the calling thread (never uninitialized); no-op on the host.
void InitializeCom();
// setlocale(LC_ALL, "") so that wide text formats into narrow text through
// the user's code page.
void SetLocaleFromEnvironment();
// vsnprintf for the kit's narrow text: wide arguments (%ls, %S, %lc) come
// out in the ANSI code page, as the Windows runtime writes them.
int FormatAnsi(char* buffer, size_t size, const char* format, va_list args);

}  // namespace platform
