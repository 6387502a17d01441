// The host registry: HKLM in <machine>/registry/HKLM.reg, each mounted
// user hive (HKEY_USERS\<SID>) in its profile's NTUSER.DAT, HKCU as the
// current user's hive. Every change is written back at once, atomically,
// under a lock file (within an action, once for each hive the action
// changed, when it ends), and every access first picks up changes that
// other processes wrote.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "platform/host/machine/RegFile.h"

namespace platform::host {

class Hive;

class HostRegistry : public Registry {
 public:
  HostRegistry();
  ~HostRegistry() override;

  LSTATUS OpenKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) override;
  LSTATUS CreateKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result, DWORD* disposition) override;
  LSTATUS CloseKey(HKEY key) override;
  LSTATUS EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) override;
  LSTATUS EnumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type) override;
  LSTATUS QueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* dataBytes) override;
  LSTATUS SetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD dataBytes) override;
  LSTATUS DeleteValue(HKEY key, const wchar_t* name) override;
  LSTATUS DeleteKey(HKEY parent, const wchar_t* subkey, REGSAM view) override;
  LSTATUS QueryInfoKey(HKEY key, DWORD* subkeys, DWORD* maxSubkeyChars, DWORD* values) override;
  // The hive file is a Windows path of the machine (a profile's NTUSER.DAT):
  // ERROR_FILE_NOT_FOUND when it is missing, ERROR_BADDB when it does not
  // parse, ERROR_SHARING_VIOLATION when it is mounted under another name,
  // ERROR_ALREADY_EXISTS when the name is mounted.
  // An action's changes (ActionScope): between the outermost begin and its
  // end each changed hive keeps its lock and is written once, at the end.
  void BeginChangeBatch();
  void EndChangeBatch();

  LSTATUS LoadHive(HKEY root, const wchar_t* name, const wchar_t* file) override;
  LSTATUS UnloadHive(HKEY root, const wchar_t* name) override;
  LSTATUS OpenLinkKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) override;
  LSTATUS DeleteOpenKey(HKEY key) override;

  // Mounts a hive file (keys under HKEY_CURRENT_USER in the file) as
  // HKEY_USERS\<name>. ERROR_ALREADY_EXISTS when that name is mounted.
  LSTATUS MountUserHive(const std::wstring& name, const std::filesystem::path& file);
  // ERROR_FILE_NOT_FOUND when not mounted; ERROR_ACCESS_DENIED while a key
  // inside is open (as RegUnLoadKey refuses it).
  LSTATUS UnmountUserHive(const std::wstring& name);
  bool IsUserHiveMounted(const std::wstring& name);
  // Drops every cached hive and handle (tests switching machines).
  void Forget();

 private:
  struct Location;
  struct Handle;
  LSTATUS Resolve(HKEY parent, const wchar_t* subkey, Location* out, bool openLink = false);
  LSTATUS FollowLinks(Location* loc, size_t from, bool openLink);
  LSTATUS LinkTarget(const std::wstring& target, Location* out);
  std::shared_ptr<Hive> MachineHive();
  LSTATUS Open(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result, bool openLink);
  LSTATUS DeleteAt(const Location& loc);
  LSTATUS HiveForUser(const std::wstring& sid, std::shared_ptr<Hive>* hive);
  LSTATUS UserProfileHive(const std::wstring& sid, std::filesystem::path* file);
  HKEY NewHandle(Handle handle);
  Handle* Find(HKEY key);

  std::recursive_mutex lock_;
  std::shared_ptr<Hive> machineHive_;
  std::map<std::wstring, std::shared_ptr<Hive>, NoCaseLess> userHives_;
  bool startMountsDone_ = false;
  std::map<uintptr_t, std::unique_ptr<Handle>> handles_;
  uintptr_t nextHandle_ = 0x1000;
};

}  // namespace platform::host
