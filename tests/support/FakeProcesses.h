// Processes, token, mutex and message box of a pretend PC, with failures
// to inject.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/NamedMutex.h"
#include "platform/Processes.h"
#include "platform/StringTable.h"
#include "platform/Token.h"
#include "platform/UserDialog.h"

namespace velk_test {

struct FakeProcess {
  DWORD id;
  std::wstring path;
  DWORD openError = 0;  // OpenProcess refuses with this code
  DWORD pathError = 0;  // GetModuleFileNameExW fails with this code
};

class FakeProcesses : public platform::Processes {
 public:
  BOOL ListSessionProcesses(std::vector<DWORD>* processIds) override;
  HANDLE CreateSnapshot() override;
  BOOL FirstInSnapshot(HANDLE snapshot, DWORD* processId) override;
  BOOL NextInSnapshot(HANDLE snapshot, DWORD* processId) override;
  BOOL CloseSnapshot(HANDLE snapshot) override;
  HANDLE Open(DWORD access, BOOL inherit, DWORD processId) override;
  DWORD MainModulePath(HANDLE process, wchar_t* path, DWORD chars) override;
  BOOL Close(HANDLE process) override;
  BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) override;

  FakeProcess& Add(DWORD id, const std::wstring& path);
  // The process ends: handles to it stay valid but read nothing.
  void Exit(DWORD id);

  std::vector<FakeProcess> processes;
  std::optional<DWORD> sessionListError;  // WTS list unavailable
  std::optional<DWORD> snapshotError;
  std::optional<DWORD> firstEntryError;
  DWORD session = 1;                     // the session of every process
  std::optional<DWORD> sessionError;     // ProcessIdToSessionId fails
  std::vector<DWORD> sessionsAsked;      // ids whose session was asked for
  bool throwOnList = false;              // std::bad_alloc from the list
  std::function<void(DWORD id)> onOpen;  // runs before each open
  std::vector<DWORD> opened;             // ids, in the order opened
  std::vector<DWORD> accessRequested;
  int sessionLists = 0;
  int snapshots = 0;
  int openHandles = 0;
  int openSnapshots = 0;

 private:
  FakeProcess* Find(DWORD id);
  std::map<DWORD, size_t> index_;  // id -> position, rebuilt when the list changes
  size_t indexed_ = SIZE_MAX;
};

class FakeToken : public platform::Token {
 public:
  BOOL OpenProcessToken(DWORD access, HANDLE* token) override;
  BOOL LookupPrivilege(const wchar_t* name, LUID* luid) override;
  BOOL AdjustTokenPrivileges(HANDLE token, const LUID& luid, DWORD attributes) override;
  BOOL CloseToken(HANDLE token) override;
  DWORD EnforceRedirectionTrust() override { return redirectionTrust; }

  DWORD openError = 0;
  DWORD redirectionTrust = ERROR_PROC_NOT_FOUND;
  DWORD lookupError = 0;
  DWORD adjustError = 0;
  // The adjustment succeeds but leaves ERROR_NOT_ALL_ASSIGNED, as Windows
  // does for a privilege the token does not hold.
  bool notAllAssigned = false;
  std::vector<DWORD> openAccess;
  std::vector<std::wstring> lookedUp;
  std::vector<std::pair<DWORD, DWORD>> adjusted;  // (luid low part, attributes)
  int openTokens = 0;
};

class FakeNamedMutex : public platform::NamedMutex {
 public:
  HANDLE Create(const wchar_t* name, BOOL initialOwner) override;
  BOOL Close(HANDLE mutex) override;

  DWORD createError = 0;                // Create fails with this code
  std::map<std::wstring, int> handles;  // open handles per name
  std::vector<std::pair<std::wstring, BOOL>> created;
  int closed = 0;

 private:
  std::map<HANDLE, std::wstring> names_;
  uintptr_t next_ = 0x100;
};

struct ShownMessage {
  HWND owner;
  std::wstring text;
  std::wstring caption;
  UINT type;
};

class FakeUserDialog : public platform::UserDialog {
 public:
  int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) override;
  bool HasVisibleWindowStation() override { return visibleStation; }

  std::vector<ShownMessage> shown;
  bool visibleStation = true;
  std::function<void()> whileShown;  // what happens before the user presses OK
  int answer = IDOK;
};

class FakeStringTable : public platform::StringTable {
 public:
  int LoadText(const platform::StringTableRef& table, UINT id, std::wstring* text) override;

  std::map<UINT, std::wstring> texts;
  std::vector<UINT> loaded;
};

}  // namespace velk_test
