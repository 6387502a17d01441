// The SDK headers of these services need windows.h before them.
#include "platform/Processes.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

namespace platform {

namespace {

class Win32Processes : public Processes {
 public:
  BOOL ListSessionProcesses(std::vector<DWORD>* processIds) override {
    WTS_PROCESS_INFOW* list = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &list, &count)) return FALSE;
    try {
      processIds->clear();
      processIds->reserve(count);
      for (DWORD i = 0; i < count; ++i) processIds->push_back(list[i].ProcessId);
    } catch (...) {
      WTSFreeMemory(list);
      throw;
    }
    WTSFreeMemory(list);
    return TRUE;
  }

  HANDLE CreateSnapshot() override { return CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0); }
  BOOL FirstInSnapshot(HANDLE snapshot, DWORD* processId) override {
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    if (!Process32FirstW(snapshot, &entry)) return FALSE;
    *processId = entry.th32ProcessID;
    return TRUE;
  }
  BOOL NextInSnapshot(HANDLE snapshot, DWORD* processId) override {
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    if (!Process32NextW(snapshot, &entry)) return FALSE;
    *processId = entry.th32ProcessID;
    return TRUE;
  }
  BOOL CloseSnapshot(HANDLE snapshot) override { return CloseHandle(snapshot); }

  HANDLE Open(DWORD access, BOOL inherit, DWORD processId) override { return OpenProcess(access, inherit, processId); }
  DWORD MainModulePath(HANDLE process, wchar_t* path, DWORD chars) override {
    return GetModuleFileNameExW(process, nullptr, path, chars);
  }
  BOOL Close(HANDLE process) override { return CloseHandle(process); }
  BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) override {
    return ::ProcessIdToSessionId(processId, sessionId);
  }
};

}  // namespace

Processes& Processes::Default() {
  static Win32Processes processes;
  return processes;
}

}  // namespace platform
