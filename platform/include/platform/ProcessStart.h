// Starting a program as a new process that nobody waits for (CreateProcessW
// with a hidden window) and the system folder it is taken from.
#pragma once

#include "platform/Port.h"
#include "platform/WinTypes.h"

#ifndef _WIN32
#define STARTF_USESHOWWINDOW 0x00000001
#define STARTF_USESTDHANDLES 0x00000100
#define CREATE_NO_WINDOW 0x08000000
#define NORMAL_PRIORITY_CLASS 0x00000020
#endif

namespace platform {

// The members of STARTUPINFOW the kit sets; every other member is zero.
struct StartupRequest {
  DWORD flags = 0;          // dwFlags
  WORD showWindow = 0;      // wShowWindow
  HANDLE input = nullptr;   // hStdInput
  HANDLE output = nullptr;  // hStdOutput
  HANDLE error = nullptr;   // hStdError
};

// PROCESS_INFORMATION
struct StartedProcess {
  HANDLE process = nullptr;
  HANDLE thread = nullptr;
  DWORD processId = 0;
  DWORD threadId = 0;
};

class ProcessStart {
 public:
  virtual ~ProcessStart() = default;
  // CreateProcessW(application, commandLine, no security attributes,
  // inheritHandles, creationFlags, the caller's environment and current
  // folder, startup, started). commandLine must be writable, as Windows may
  // change it while it parses. FALSE with the last error set on failure.
  virtual BOOL Start(const wchar_t* application, wchar_t* commandLine, BOOL inheritHandles, DWORD creationFlags,
                     const StartupRequest& startup, StartedProcess* started) = 0;
  // CloseHandle on a handle of a started process or thread.
  virtual BOOL CloseProcessHandle(HANDLE handle) = 0;
  // GetSystemDirectoryW: the characters copied without the terminator, or
  // the room needed with it when size is too small; 0 on failure.
  virtual UINT SystemFolder(wchar_t* buffer, UINT size) = 0;

  VELK_PORT(ProcessStart);
};

}  // namespace platform
