#include <objbase.h>

#include <clocale>

#include "platform/LastError.h"
#include "platform/Runtime.h"

namespace platform {

void InitializeCom() { CoInitialize(nullptr); }
void SetLocaleFromEnvironment() { std::setlocale(LC_ALL, ""); }

DWORD RestrictDllSearchToSystem() {
  return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) ? ERROR_SUCCESS : GetLastError();
}

DWORD GetLastErrorCode() { return GetLastError(); }
void SetLastErrorCode(DWORD code) { SetLastError(code); }

}  // namespace platform
