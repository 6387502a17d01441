#include "support/FakeProcesses.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/LastError.h"

using platform::SetLastErrorCode;

namespace velk_test {

namespace {

struct ProcessHandle {
  DWORD id;
};

struct Snapshot {
  std::vector<DWORD> ids;
  size_t next = 0;
};

BOOL Fail(DWORD code) {
  SetLastErrorCode(code);
  return FALSE;
}

}  // namespace

FakeProcess& FakeProcesses::Add(DWORD id, const std::wstring& path) {
  processes.push_back(FakeProcess{id, path});
  return processes.back();
}

void FakeProcesses::Exit(DWORD id) {
  indexed_ = SIZE_MAX;
  processes.erase(std::remove_if(processes.begin(), processes.end(), [&](const FakeProcess& p) { return p.id == id; }),
                  processes.end());
}

FakeProcess* FakeProcesses::Find(DWORD id) {
  if (indexed_ != processes.size()) {
    index_.clear();
    for (size_t i = 0; i < processes.size(); ++i) index_.emplace(processes[i].id, i);
    indexed_ = processes.size();
  }
  auto it = index_.find(id);
  return it == index_.end() ? nullptr : &processes[it->second];
}

BOOL FakeProcesses::ProcessIdToSessionId(DWORD processId, DWORD* sessionId) {
  sessionsAsked.push_back(processId);
  if (sessionError) return Fail(*sessionError);
  *sessionId = session;
  return TRUE;
}

BOOL FakeProcesses::ListSessionProcesses(std::vector<DWORD>* processIds) {
  ++sessionLists;
  if (throwOnList) throw std::bad_alloc();
  if (sessionListError) return Fail(*sessionListError);
  processIds->clear();
  for (const auto& p : processes) processIds->push_back(p.id);
  return TRUE;
}

HANDLE FakeProcesses::CreateSnapshot() {
  ++snapshots;
  if (snapshotError) {
    SetLastErrorCode(*snapshotError);
    return INVALID_HANDLE_VALUE;
  }
  auto* s = new Snapshot;
  for (const auto& p : processes) s->ids.push_back(p.id);
  ++openSnapshots;
  return s;
}

BOOL FakeProcesses::FirstInSnapshot(HANDLE snapshot, DWORD* processId) {
  if (firstEntryError) return Fail(*firstEntryError);
  static_cast<Snapshot*>(snapshot)->next = 0;
  return NextInSnapshot(snapshot, processId);
}

BOOL FakeProcesses::NextInSnapshot(HANDLE snapshot, DWORD* processId) {
  auto* s = static_cast<Snapshot*>(snapshot);
  if (s->next >= s->ids.size()) return Fail(ERROR_NO_MORE_FILES);
  *processId = s->ids[s->next++];
  return TRUE;
}

BOOL FakeProcesses::CloseSnapshot(HANDLE snapshot) {
  if (!snapshot || snapshot == INVALID_HANDLE_VALUE) return Fail(ERROR_INVALID_HANDLE);
  delete static_cast<Snapshot*>(snapshot);
  --openSnapshots;
  return TRUE;
}

HANDLE FakeProcesses::Open(DWORD access, BOOL inherit, DWORD processId) {
  if (onOpen) onOpen(processId);
  opened.push_back(processId);
  accessRequested.push_back(access);
  FakeProcess* it = Find(processId);
  if (!it) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (it->openError) {
    SetLastErrorCode(it->openError);
    return nullptr;
  }
  ++openHandles;
  return new ProcessHandle{processId};
}

DWORD FakeProcesses::MainModulePath(HANDLE process, wchar_t* path, DWORD chars) {
  DWORD id = static_cast<ProcessHandle*>(process)->id;
  FakeProcess* it = Find(id);
  if (!it) return Fail(ERROR_PARTIAL_COPY);
  if (it->pathError) return Fail(it->pathError);
  if (chars == 0) return Fail(ERROR_INSUFFICIENT_BUFFER);
  size_t n = std::min<size_t>(it->path.size(), chars - 1);
  std::memcpy(path, it->path.data(), n * sizeof(wchar_t));
  path[n] = L'\0';
  return static_cast<DWORD>(n);
}

BOOL FakeProcesses::Close(HANDLE process) {
  delete static_cast<ProcessHandle*>(process);
  --openHandles;
  return TRUE;
}

static int g_fakeToken;

BOOL FakeToken::OpenProcessToken(DWORD access, HANDLE* token) {
  openAccess.push_back(access);
  if (openError) return Fail(openError);
  *token = &g_fakeToken;
  ++openTokens;
  return TRUE;
}

BOOL FakeToken::LookupPrivilege(const wchar_t* name, LUID* luid) {
  lookedUp.push_back(name);
  if (lookupError) return Fail(lookupError);
  luid->LowPart = std::wstring(name) == L"SeDebugPrivilege" ? 20 : 99;
  luid->HighPart = 0;
  return TRUE;
}

BOOL FakeToken::AdjustTokenPrivileges(HANDLE token, const LUID& luid, DWORD attributes) {
  if (token != &g_fakeToken) return Fail(ERROR_INVALID_HANDLE);
  if (adjustError) return Fail(adjustError);
  adjusted.emplace_back(luid.LowPart, attributes);
  platform::SetLastErrorCode(notAllAssigned ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS);
  return TRUE;
}

BOOL FakeToken::CloseToken(HANDLE token) {
  if (token != &g_fakeToken) return Fail(ERROR_INVALID_HANDLE);
  --openTokens;
  return TRUE;
}

HANDLE FakeNamedMutex::Create(const wchar_t* name, BOOL initialOwner) {
  created.emplace_back(name ? name : L"", initialOwner);
  if (createError) {
    SetLastErrorCode(createError);
    return nullptr;
  }
  std::wstring n = name ? name : L"";
  bool existed = handles[n] > 0;
  ++handles[n];
  HANDLE h = reinterpret_cast<HANDLE>(next_++);
  names_[h] = n;
  SetLastErrorCode(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

BOOL FakeNamedMutex::Close(HANDLE mutex) {
  auto it = names_.find(mutex);
  if (it == names_.end()) return Fail(ERROR_INVALID_HANDLE);
  --handles[it->second];
  names_.erase(it);
  ++closed;
  return TRUE;
}

int FakeUserDialog::ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  shown.push_back({owner, text ? text : L"", caption ? caption : L"", type});
  if (whileShown) whileShown();
  return answer;
}

int FakeStringTable::LoadText(const platform::StringTableRef& table, UINT id, std::wstring* text) {
  loaded.push_back(id);
  auto it = texts.find(id);
  if (it == texts.end()) {
    SetLastErrorCode(ERROR_RESOURCE_NAME_NOT_FOUND);
    return 0;
  }
  *text = it->second;
  return static_cast<int>(text->size());
}

}  // namespace velk_test
