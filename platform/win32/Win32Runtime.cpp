#include <objbase.h>

#include <clocale>
#include <cstdio>

#include "platform/LastError.h"
#include "platform/Runtime.h"

namespace platform {

void InitializeCom() { CoInitialize(nullptr); }
void SetLocaleFromEnvironment() { std::setlocale(LC_ALL, ""); }

int FormatAnsi(char* buffer, size_t size, const char* format, va_list args) {
  return std::vsnprintf(buffer, size, format, args);
}

DWORD RestrictDllSearchToSystem() {
  return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) ? ERROR_SUCCESS : GetLastError();
}

DWORD GetLastErrorCode() { return GetLastError(); }
void SetLastErrorCode(DWORD code) { SetLastError(code); }

}  // namespace platform
