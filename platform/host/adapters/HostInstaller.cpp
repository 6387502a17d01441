#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/host/adapters/HostInstaller.h"

namespace platform::host {

namespace {

struct Session {
  std::vector<std::pair<std::wstring, std::wstring>> properties;  // names are case-sensitive
  std::vector<std::wstring> setOrder;
  MessageSink sink;
  std::optional<MSIRUNMODE> scriptMode;  // empty: an immediate action
};

// What a deferred, rollback or commit action can read of its session.
bool ScriptCanRead(MSIRUNMODE mode, const std::wstring& name) {
  if (name == L"CustomActionData" || name == L"UserSID") return true;
  return name == L"ProductCode" && mode != MSIRUNMODE_COMMIT;
}

std::mutex g_lock;
std::map<MSIHANDLE, std::unique_ptr<Session>> g_sessions;
std::map<MSIHANDLE, InstallerRecord> g_records;
MSIHANDLE g_next = 1;
MessageSink g_noSessionSink;

Session* FindSession(MSIHANDLE h) {
  auto it = g_sessions.find(h);
  return it == g_sessions.end() ? nullptr : it->second.get();
}

std::wstring* FindProperty(Session& s, const std::wstring& name) {
  for (auto& [n, v] : s.properties)
    if (n == name) return &v;
  return nullptr;
}

}  // namespace

HostInstaller& HostInstallerInstance() {
  static HostInstaller installer;
  return installer;
}

}  // namespace platform::host

namespace platform {
Installer& Installer::Default() { return host::HostInstallerInstance(); }
}  // namespace platform

namespace platform::host {

MSIHANDLE HostInstaller::OpenSession(const std::vector<std::pair<std::wstring, std::wstring>>& properties,
                                     MessageSink sink, std::optional<MSIRUNMODE> scriptMode) {
  std::lock_guard<std::mutex> g(g_lock);
  auto s = std::make_unique<Session>();
  s->properties = properties;
  s->sink = std::move(sink);
  s->scriptMode = scriptMode;
  MSIHANDLE h = g_next++;
  g_sessions[h] = std::move(s);
  return h;
}

std::vector<std::pair<std::wstring, std::wstring>> HostInstaller::PropertiesSet(MSIHANDLE install) {
  std::lock_guard<std::mutex> g(g_lock);
  std::vector<std::pair<std::wstring, std::wstring>> out;
  Session* s = FindSession(install);
  if (!s) return out;
  for (const auto& name : s->setOrder) {
    std::wstring* v = FindProperty(*s, name);
    out.emplace_back(name, v ? *v : L"");
  }
  return out;
}

size_t HostInstaller::OpenRecords() {
  std::lock_guard<std::mutex> g(g_lock);
  return g_records.size();
}

void HostInstaller::SetNoSessionSink(MessageSink sink) {
  std::lock_guard<std::mutex> g(g_lock);
  g_noSessionSink = std::move(sink);
}

UINT HostInstaller::GetProperty(MSIHANDLE install, const wchar_t* name, wchar_t* value, DWORD* chars) {
  std::lock_guard<std::mutex> g(g_lock);
  Session* s = FindSession(install);
  if (!s) return ERROR_INVALID_HANDLE;
  if (!name || (value && !chars)) return ERROR_INVALID_PARAMETER;
  std::wstring* v = FindProperty(*s, name);
  if (s->scriptMode && !ScriptCanRead(*s->scriptMode, name)) v = nullptr;
  std::wstring text = v ? *v : L"";  // an absent property reads as empty
  DWORD length = static_cast<DWORD>(text.size());
  if (!value) {
    if (chars) *chars = length;
    return ERROR_SUCCESS;
  }
  if (*chars <= length) {
    // Like MSI: as much as fits, terminated, and the length needed.
    if (*chars > 0) {
      std::memcpy(value, text.data(), (*chars - 1) * sizeof(wchar_t));
      value[*chars - 1] = L'\0';
    }
    *chars = length;
    return ERROR_MORE_DATA;
  }
  std::memcpy(value, text.c_str(), (length + 1) * sizeof(wchar_t));
  *chars = length;
  return ERROR_SUCCESS;
}

UINT HostInstaller::SetProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* value) {
  std::lock_guard<std::mutex> g(g_lock);
  Session* s = FindSession(install);
  if (!s) return ERROR_INVALID_HANDLE;
  if (!name || !*name) return ERROR_INVALID_PARAMETER;
  if (s->scriptMode) return ERROR_FUNCTION_FAILED;  // the script has no session to write to
  std::wstring n = name;
  std::wstring v = value ? value : L"";
  if (std::wstring* existing = FindProperty(*s, n))
    *existing = v;
  else
    s->properties.emplace_back(n, v);
  bool seen = false;
  for (const auto& o : s->setOrder) seen = seen || o == n;
  if (!seen) s->setOrder.push_back(n);
  return ERROR_SUCCESS;
}

BOOL HostInstaller::GetMode(MSIHANDLE install, MSIRUNMODE mode) {
  std::lock_guard<std::mutex> g(g_lock);
  Session* s = FindSession(install);
  return s && s->scriptMode == mode ? TRUE : FALSE;
}

MSIHANDLE HostInstaller::CreateRecord(UINT fields) {
  std::lock_guard<std::mutex> g(g_lock);
  if (fields > 65535) return 0;
  MSIHANDLE h = g_next++;
  g_records[h].fields.resize(fields + 1);
  return h;
}

UINT HostInstaller::RecordSetInteger(MSIHANDLE record, UINT field, int value) {
  std::lock_guard<std::mutex> g(g_lock);
  auto it = g_records.find(record);
  if (it == g_records.end()) return ERROR_INVALID_HANDLE;
  if (field >= it->second.fields.size()) return ERROR_INVALID_PARAMETER;
  it->second.fields[field] = value;
  return ERROR_SUCCESS;
}

UINT HostInstaller::RecordSetStringA(MSIHANDLE record, UINT field, const char* value) {
  std::lock_guard<std::mutex> g(g_lock);
  auto it = g_records.find(record);
  if (it == g_records.end()) return ERROR_INVALID_HANDLE;
  if (field >= it->second.fields.size()) return ERROR_INVALID_PARAMETER;
  it->second.fields[field] = std::string(value ? value : "");
  return ERROR_SUCCESS;
}

int HostInstaller::ProcessMessage(MSIHANDLE install, INSTALLMESSAGE type, MSIHANDLE record) {
  MessageSink sink;
  InstallerRecord copy;
  {
    std::lock_guard<std::mutex> g(g_lock);
    Session* s = FindSession(install);
    auto it = g_records.find(record);
    if ((!s && install != 0) || it == g_records.end()) return -1;
    sink = s ? s->sink : g_noSessionSink;
    copy = it->second;
  }
  return sink ? sink(type, copy) : 0;
}

UINT HostInstaller::CloseHandle(MSIHANDLE handle) {
  std::lock_guard<std::mutex> g(g_lock);
  if (g_records.erase(handle) || g_sessions.erase(handle)) return ERROR_SUCCESS;
  return ERROR_INVALID_HANDLE;
}

}  // namespace platform::host
