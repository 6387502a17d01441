// The peer of the migration program in the Wine benchmark: a static program
// without windows, entered the same way, that does nothing. With "cmd N" it
// starts N hidden cmd.exe children the way the migration program starts its
// folder removals and returns at once: the floor of a run that must start
// them.
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR arguments, int) {
  if (std::wcsncmp(arguments, L"cmd ", 4) != 0) return 0;
  int children = static_cast<int>(std::wcstol(arguments + 4, nullptr, 10));
  wchar_t interpreter[MAX_PATH] = {};
  UINT n = GetSystemDirectoryW(interpreter, MAX_PATH);
  if (n == 0 || n + 9 >= MAX_PATH) return 1;
  std::wcscat(interpreter, L"\\cmd.exe");
  for (int i = 0; i < children; ++i) {
    wchar_t command[] = L"cmd.exe /c rmdir /S /Q \"velk-bench-absent\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(interpreter, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &started))
      return 1;
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
  }
  return 0;
}
