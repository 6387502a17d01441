#include "platform/ProcessStart.h"

namespace platform {

namespace {

class Win32ProcessStart : public ProcessStart {
 public:
  BOOL Start(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, DWORD creationFlags,
             const StartupRequest& startup, StartedProcess* started) override {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = startup.flags;
    si.wShowWindow = startup.showWindow;
    si.hStdInput = startup.input;
    si.hStdOutput = startup.output;
    si.hStdError = startup.error;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(application, commandLine, nullptr, nullptr, inheritHandles, creationFlags, nullptr, nullptr,
                        &si, &pi))
      return FALSE;
    started->process = pi.hProcess;
    started->thread = pi.hThread;
    started->processId = pi.dwProcessId;
    started->threadId = pi.dwThreadId;
    return TRUE;
  }
  BOOL CloseProcessHandle(HANDLE handle) override { return CloseHandle(handle); }
  UINT SystemFolder(wchar_t* buffer, UINT size) override { return GetSystemDirectoryW(buffer, size); }
};

}  // namespace

ProcessStart& ProcessStart::Default() {
  static Win32ProcessStart start;
  return start;
}

}  // namespace platform
