// Removes the updater's settings from every user's hive, mounting the hives
// of users who are not logged on for the span of their own step.
#include "RemoveSparkleReg.h"

#include <optional>

#include "Errors.h"
#include "Frame.h"
#include "Log.h"
#include "Privilege.h"
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

bool LoadProfileHive(HKEY list, const wchar_t* sid) {
  std::wstring file = LookupProfilePath(list, sid, L"\\NTUSER.DAT");
  if (file.empty()) return false;
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

  const std::wstring maker = std::wstring(sid) + L"\\SOFTWARE\\TESSMAR";
  const std::wstring client = maker + L"\\velk-access";
  if (DeleteKeyIfNoSubkeys(HKEY_USERS, client + L"\\WinSparkle") && DeleteKeyIfNoSubkeys(HKEY_USERS, client))
    DeleteKeyIfNoSubkeys(HKEY_USERS, maker);
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
