// dll-search: loads a DLL by name the way a program does late in its run,
// after the start-up restriction the shipped programs make (unless
// --unrestricted), and prints the path of what was loaded.
//
//   dll-search.exe [--unrestricted] NAME.dll
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "platform/DllSearch.h"

int wmain(int argc, wchar_t** argv) {
  bool restrict = !(argc == 3 && std::wcscmp(argv[1], L"--unrestricted") == 0);
  if (argc != (restrict ? 2 : 3)) {
    std::fprintf(stderr, "usage: dll-search [--unrestricted] NAME.dll\n");
    return 2;
  }
  if (restrict) {
    if (DWORD error = platform::RestrictDllSearchToSystem()) {
      std::printf("restricting the DLL search failed (%lu)\n", error);
      return 1;
    }
  }
  HMODULE module = LoadLibraryW(argv[argc - 1]);
  if (!module) {
    std::printf("LoadLibrary failed (%lu)\n", GetLastError());
    return 1;
  }
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(module, path, MAX_PATH);
  std::printf("loaded %ls\n", path);
  return 0;
}
