// Kept apart from the other runtime pieces so that only the programs link it:
// the DLL restricts nothing and must not pull in its imports.
#include <windows.h>

#include "platform/DllSearch.h"

namespace platform {

DWORD RestrictDllSearchToSystem() {
  // Resolved at run time: a static import of it would keep the programs from
  // starting at all on Windows 7 SP1 without KB2533623.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(
                                 reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  if (setDefault) return setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) ? ERROR_SUCCESS : GetLastError();
  // Without it the program's own folder stays first in the search; the
  // current folder at least goes, and the program carries on.
  return SetDllDirectoryW(L"") ? ERROR_SUCCESS : GetLastError();
}

}  // namespace platform
