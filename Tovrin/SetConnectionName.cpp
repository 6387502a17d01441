// Renames the network connection of a freshly installed adapter. The
// connection's current name is found through the adapter's driver key and
// its network configuration id; the rename goes through the shell's
// Network Connections folder. The network configuration of a new adapter
// is written with a delay, hence the waits.
#include <cwchar>
#include <vector>

#include "Errors.h"
#include "Log.h"
#include "TextReads.h"
#include "TovrinModule.h"
#include "platform/Clock.h"
#include "platform/NetConnections.h"
#include "platform/Port.h"
#include "platform/Registry.h"

using platform::Use;

namespace {

constexpr DWORD kWaitMilliseconds = 1000;
constexpr int kAttempts = 5;
// KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE
constexpr REGSAM kConnectionKeyAccess = 0x2001F;

void Wait() { Use<platform::Clock>().Sleep(kWaitMilliseconds); }

// A string value of the key, up to its first null.
HRESULT ReadStringValue(HKEY key, const wchar_t* name, std::wstring* text) {
  DWORD type = REG_NONE;
  LSTATUS status = ReadRegistryText(key, name, &type, text);
  if (status != ERROR_SUCCESS) return platform::HresultFromWin32(static_cast<DWORD>(status));
  return platform::IsStringType(type) ? S_OK : kDataTypeMismatch;
}

std::wstring Format(const wchar_t* format, const std::wstring& a, const std::wstring& b = std::wstring()) {
  std::vector<wchar_t> out(std::wcslen(format) + a.size() + b.size() + 1);
  std::swprintf(out.data(), out.size(), format, a.c_str(), b.c_str());
  return out.data();
}

HRESULT Rename(const std::wstring& classGuid, const std::wstring& driverKey, const std::wstring& newName) {
  platform::PortRef<platform::ShellAllocator> allocator;
  HRESULT hr = Use<platform::NetConnections>().GetMalloc(allocator.Put());
  if (FAILED(hr)) return hr;

  platform::Registry& registry = Use<platform::Registry>();
  const std::wstring classPath = Format(L"SYSTEM\\CurrentControlSet\\Control\\Class\\%ls", driverKey);
  platform::RegKey classKey;
  LSTATUS status = registry.OpenKey(HKEY_LOCAL_MACHINE, classPath.c_str(), KEY_READ, classKey.Put());
  if (status != ERROR_SUCCESS) return platform::HresultFromWin32(static_cast<DWORD>(status));
  Wait();
  std::wstring instanceId;
  hr = ReadStringValue(classKey.Get(), L"NetCfgInstanceId", &instanceId);
  if (FAILED(hr)) return hr;

  const std::wstring connectionPath =
      Format(L"SYSTEM\\CurrentControlSet\\Control\\Network\\%ls\\%ls\\Connection", classGuid, instanceId);
  platform::RegKey connectionKey;
  for (int attempt = 1;; ++attempt) {
    status = registry.OpenKey(HKEY_LOCAL_MACHINE, connectionPath.c_str(), kConnectionKeyAccess, connectionKey.Put());
    if (status == ERROR_SUCCESS) break;
    if (status != ERROR_FILE_NOT_FOUND) return platform::HresultFromWin32(static_cast<DWORD>(status));
    Wait();
    Log(Info, "open %ls(%d)", connectionPath.c_str(), attempt);
    if (attempt == kAttempts) return kNotFound;
  }
  for (int attempt = 1;; ++attempt) {
    DWORD size = 0;
    status = registry.QueryValue(connectionKey.Get(), L"Name", nullptr, nullptr, &size);
    if (status != ERROR_FILE_NOT_FOUND) break;
    Wait();
    Log(Info, "QueryValue %ls\\Name(%d)", connectionPath.c_str(), attempt);
    if (attempt == kAttempts) return kNotFound;
  }
  std::wstring currentName;
  hr = ReadStringValue(connectionKey.Get(), L"Name", &currentName);
  if (FAILED(hr)) return hr;

  platform::PortRef<platform::ConnectionFolder> folder;
  hr = Use<platform::NetConnections>().CreateFolder(folder.Put());
  if (hr != S_OK) return hr;
  platform::PortRef<platform::ConnectionEnumerator> items;
  hr = folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, items.Put());
  // S_FALSE: the folder has nothing to list, so no item has the name.
  if (hr == S_FALSE) return kNotFound;
  if (hr != S_OK) return hr;
  if (!items.Get()) return E_FAIL;

  for (;;) {
    platform::ShellMemory<LPITEMIDLIST> item(allocator.Get());
    if (items->Next(item.Put()) != S_OK) return kNotFound;
    STRRET name{};
    hr = folder->GetDisplayNameOf(item.Get(), SHGDN_NORMAL, &name);
    if (hr != S_OK) return hr;
    const bool wide = name.uType == STRRET_WSTR;
    platform::ShellMemory<wchar_t*> nameText(allocator.Get());
    if (wide) *nameText.Put() = name.pOleStr;
    // Only a wide name is text the item owns; the other kinds show as empty.
    Log(Info, ".uType:%d .pOleStr: \"%ls\"", static_cast<int>(name.uType),
        wide && nameText.Get() ? nameText.Get() : L"");
    if (!wide) continue;
    const std::wstring displayName = nameText.Get() ? nameText.Get() : L"";
    nameText.Reset();
    if (displayName != currentName) continue;

    Wait();
    platform::ShellMemory<LPITEMIDLIST> renamed(allocator.Get());
    hr = folder->SetNameOf(nullptr, item.Get(), newName.c_str(), SHGDN_NORMAL, renamed.Put());
    if (hr != S_OK) return hr;
    Log(Info, "Change connection name: \"%ls\" -> \"%ls\"", currentName.c_str(), newName.c_str());
    return S_OK;
  }
}

}  // namespace

HRESULT CTovrinModule::SetConnectionName(const std::wstring& classGuid, const std::wstring& driverKey,
                                         const std::wstring& newName) {
  CLogScope scope(g_logger, Info, "CTovrinModule::SetConnectionName");
  return CatchToHresult([&] { return Rename(classGuid, driverKey, newName); }, E_FAIL);
}
