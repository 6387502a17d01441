// Process lists and the executable of a process.
#pragma once

#include <vector>

#include "platform/Port.h"
#include "platform/UniqueHandle.h"
#include "platform/WinTypes.h"

namespace platform {

class Processes {
 public:
  virtual ~Processes() = default;

  // WTSEnumerateProcessesW on the current server (every session, version
  // 1), freed with WTSFreeMemory: the process ids in list order. FALSE with
  // the last error.
  virtual BOOL ListSessionProcesses(std::vector<DWORD>* processIds) = 0;

  // CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0): INVALID_HANDLE_VALUE
  // with the last error.
  virtual HANDLE CreateSnapshot() = 0;
  // Process32FirstW / Process32NextW: the entry's process id; FALSE with the
  // last error (ERROR_NO_MORE_FILES past the last entry).
  virtual BOOL FirstInSnapshot(HANDLE snapshot, DWORD* processId) = 0;
  virtual BOOL NextInSnapshot(HANDLE snapshot, DWORD* processId) = 0;
  virtual BOOL CloseSnapshot(HANDLE snapshot) = 0;

  // OpenProcess(access, inherit, id): null with the last error.
  virtual HANDLE Open(DWORD access, BOOL inherit, DWORD processId) = 0;
  // GetModuleFileNameExW(process, null module, path, chars): the full path
  // of the main executable, cut to chars - 1 characters and terminated;
  // the length copied, or 0 with the last error.
  virtual DWORD MainModulePath(HANDLE process, wchar_t* path, DWORD chars) = 0;
  virtual BOOL Close(HANDLE process) = 0;

  // ProcessIdToSessionId: the Remote Desktop Services session the process
  // runs in (0: services and SYSTEM, where no user sees a window). FALSE
  // with the last error.
  virtual BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) = 0;

  VELK_PORT(Processes);
};

using ProcessHandle = UniqueHandle<ClosedThrough<Processes, &Processes::Close, NullInvalid<HANDLE>>>;
using SnapshotHandle = UniqueHandle<ClosedThrough<Processes, &Processes::CloseSnapshot, InvalidValueOrNullInvalid>>;

}  // namespace platform
