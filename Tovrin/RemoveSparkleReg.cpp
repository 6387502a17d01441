// Removes the updater's settings from every user's hive, mounting the hives
// of users who are not logged on for the span of their own step.
#include "RemoveSparkleReg.h"

#include <cwchar>
#include <optional>
#include <vector>

#include "Errors.h"
#include "Frame.h"
#include "Log.h"
#include "Privilege.h"
#include "PinnedFolders.h"
#include "ProfileList.h"
#include "platform/Clock.h"
#include "platform/CodePages.h"
#include "platform/Export.h"
#include "platform/Port.h"
#include "platform/Registry.h"
#include "platform/Token.h"

using platform::Use;

namespace {

// Unmounts a hive this action mounted, on every way out of the step.
class CMountedHive {
 public:
  explicit CMountedHive(const wchar_t* sid) : m_sid(sid) {}
  ~CMountedHive() { UnloadProfileHive(m_sid); }
  CMountedHive(const CMountedHive&) = delete;
  CMountedHive& operator=(const CMountedHive&) = delete;

 private:
  const wchar_t* m_sid;
};

}  // namespace

bool DeleteKeyIfNoSubkeys(HKEY root, const std::wstring& path) {
  platform::Registry& registry = Use<platform::Registry>();
  DWORD subkeys = 0;
  {
    platform::RegKey key;
    LSTATUS status = registry.OpenKey(root, path.c_str(), KEY_READ, key.Put());
    if (status != ERROR_SUCCESS) {
      LogRegError("RegOpenKeyEx", status);
      return false;
    }
    status = registry.QueryInfoKey(key.Get(), &subkeys, nullptr, nullptr);
    if (status != ERROR_SUCCESS) {
      Log(Error, "RegQueryInfoKey (%s : %d)", platform::WideToAnsi(path).c_str(), static_cast<int>(status));
      return false;
    }
  }
  if (subkeys > 0) return false;
  LSTATUS status = registry.DeleteKey(root, path.c_str(), 0);
  if (status != ERROR_SUCCESS) {
    LogRegError("RegDeleteKey", status);
    return false;
  }
  return true;
}

// A registry link: a key holding a REG_LINK value "SymbolicLinkValue".
bool IsRegistryLink(HKEY key) {
  DWORD type = REG_NONE;
  return Use<platform::Registry>().QueryValue(key, L"SymbolicLinkValue", &type, nullptr, nullptr) == ERROR_SUCCESS &&
         type == REG_LINK;
}

// DeleteKeyIfNoSubkeys for a key held open: path names it in the lines.
bool DeleteHeldKeyIfNoSubkeys(HKEY key, const std::wstring& path) {
  platform::Registry& registry = Use<platform::Registry>();
  DWORD subkeys = 0;
  LSTATUS status = registry.QueryInfoKey(key, &subkeys, nullptr, nullptr);
  if (status != ERROR_SUCCESS) {
    Log(Error, "RegQueryInfoKey (%s : %d)", platform::WideToAnsi(path).c_str(), static_cast<int>(status));
    return false;
  }
  if (subkeys > 0) return false;
  status = registry.DeleteOpenKey(key);
  if (status != ERROR_SUCCESS) {
    LogRegError("RegDeleteKey", status);
    return false;
  }
  return true;
}

bool LoadProfileHive(HKEY list, const wchar_t* sid) {
  static const wchar_t kHiveFile[] = L"NTUSER.DAT";
  std::wstring file = LookupProfilePath(list, sid, L"\\NTUSER.DAT");
  if (file.empty()) return false;
  // The hive file lies in the profile folder, which its user owns: it is
  // mounted only when it is no link.
  CPinnedFolders profile;
  if (profile.Pin(file.substr(0, file.size() - std::wcslen(kHiveFile) - 1), L"") == CPinnedFolders::Outcome::Pinned) {
    DWORD attributes = 0;
    if (EntryExistsIn(profile.Last(), kHiveFile, &attributes) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      Log(Warning, "skipped link %ls", file.c_str());
      return false;
    }
  }
  LSTATUS status = Use<platform::Registry>().LoadHive(HKEY_USERS, sid, file.c_str());
  if (status != ERROR_SUCCESS) {
    LogRegError("RegLoadKey", status);
    return false;
  }
  return true;
}

void UnloadProfileHive(const wchar_t* sid) {
  LSTATUS status = Use<platform::Registry>().UnloadHive(HKEY_USERS, sid);
  if (status != ERROR_SUCCESS) LogRegError("RegUnLoadKey", status);
}

void RemoveSparkleRegForProfile(HKEY list, const wchar_t* sid) {
  bool mountedAlready;
  {
    platform::RegKey hive;
    mountedAlready = Use<platform::Registry>().OpenKey(HKEY_USERS, sid, KEY_READ, hive.Put()) == ERROR_SUCCESS;
  }
  if (!mountedAlready && !LoadProfileHive(list, sid)) return;
  std::optional<CMountedHive> mountedHere;
  if (!mountedAlready) mountedHere.emplace(sid);

  // Every key on the way is the user's: each is opened inside the one
  // before as itself, never through a registry link, held, and deleted
  // through its own handle.
  static const wchar_t* const kPath[] = {L"SOFTWARE", L"TESSMAR", L"velk-access", L"WinSparkle"};
  platform::Registry& registry = Use<platform::Registry>();
  std::vector<platform::RegKey> keys;
  std::vector<std::wstring> paths;
  std::wstring path = sid;
  {
    platform::RegKey root;
    LSTATUS status = registry.OpenKey(HKEY_USERS, sid, KEY_READ, root.Put());
    if (status != ERROR_SUCCESS) return LogRegError("RegOpenKeyEx", status);
    keys.push_back(std::move(root));
  }
  for (const wchar_t* name : kPath) {
    path += L"\\";
    path += name;
    platform::RegKey key;
    LSTATUS status = registry.OpenLinkKey(keys.back().Get(), name, KEY_READ | DELETE, key.Put());
    if (status != ERROR_SUCCESS) return LogRegError("RegOpenKeyEx", status);
    if (IsRegistryLink(key.Get())) {
      Log(Warning, "skipped link %ls", path.c_str());
      return;
    }
    keys.push_back(std::move(key));
    paths.push_back(path);
  }
  // The updater's key, then the client's, then the maker's: each only when
  // the one below it went.
  for (size_t level = keys.size() - 1; level >= 2; --level)
    if (!DeleteHeldKeyIfNoSubkeys(keys[level].Get(), paths[level - 1])) break;
}

VELK_EXPORT UINT WINAPI RemoveSparkleReg(MSIHANDLE install) {
  g_logger.m_hInstall = install;
  Log(Banner, "####### RemoveSparkleReg log PID=%08x #######",
      static_cast<unsigned>(Use<platform::Clock>().ProcessId()));
  GuardScriptRedirections(install);
  return NoThrow<UINT>(ERROR_INSTALL_FAILURE, [] {
    {
      platform::TokenHandle token;
      if (!Use<platform::Token>().OpenProcessToken(TOKEN_ADJUST_PRIVILEGES, token.Put())) {
        Log(Error, "OpenProcessToken Error");
        return static_cast<UINT>(ERROR_INSTALL_FAILURE);
      }
      // Mounting and unmounting hives need both.
      EnablePrivilege(token.Get(), L"SeBackupPrivilege");
      EnablePrivilege(token.Get(), L"SeRestorePrivilege");
    }
    ForEachProfileSid(RemoveSparkleRegForProfile);
    return static_cast<UINT>(ERROR_SUCCESS);
  });
}
