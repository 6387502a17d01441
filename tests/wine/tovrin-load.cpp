// tovrin-load: loads a module and calls one of its command-line exports
// the way a rundll-style caller does, then prints the HRESULT it returned
// (rundll32 throws it away).
//
//   tovrin-load.exe [--hold] MODULE EXPORT [COMMAND LINE ...]
//
// --hold keeps the process, and what the export left behind in it (the
// single-instance mutex), until standard input ends.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
  bool hold = argc > 1 && std::wstring(argv[1]) == L"--hold";
  if (hold) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: tovrin-load [--hold] MODULE EXPORT [COMMAND LINE ...]\n");
    return 2;
  }
  HMODULE module = LoadLibraryW(argv[1]);
  if (!module) {
    std::fprintf(stderr, "tovrin-load: LoadLibrary failed (%lu)\n", GetLastError());
    return 2;
  }
  char name[256];
  WideCharToMultiByte(CP_ACP, 0, argv[2], -1, name, sizeof name, nullptr, nullptr);
  using Entry = HRESULT(WINAPI*)(HWND, HINSTANCE, LPWSTR, int);
  auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (!entry) {
    std::fprintf(stderr, "tovrin-load: no export %s (%lu)\n", name, GetLastError());
    return 2;
  }
  std::wstring line;
  for (int i = 3; i < argc; ++i) {
    if (i > 3) line += L' ';
    line += argv[i];
  }
  HRESULT hr = entry(nullptr, module, line.data(), SW_SHOWNORMAL);
  std::printf("HRESULT: 0x%08lx\n", static_cast<unsigned long>(hr));
  std::fflush(stdout);
  if (hold) {
    while (std::getchar() != EOF) {
    }
  }
  FreeLibrary(module);
  return SUCCEEDED(hr) ? 0 : 1;
}
