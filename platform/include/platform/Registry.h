// Registry port: the Win32 registry calls the kit uses, with their status
// codes and size rules. String data is counted in bytes of WCHAR.
#pragma once

#include <string>

#include "platform/Port.h"
#include "platform/UniqueHandle.h"
#include "platform/WinTypes.h"

namespace platform {

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ hold text.
inline bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyExW
  virtual LSTATUS OpenKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) = 0;
  // RegCreateKeyExW (non-volatile, no class); disposition may be null.
  virtual LSTATUS CreateKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result, DWORD* disposition) = 0;
  virtual LSTATUS CloseKey(HKEY key) = 0;
  // RegEnumKeyExW: name receives at most *nameChars characters with the terminator.
  virtual LSTATUS EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) = 0;
  // RegEnumValueW without data.
  virtual LSTATUS EnumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type) = 0;
  // RegQueryValueExW: type and data may be null; ERROR_MORE_DATA with the size needed.
  virtual LSTATUS QueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* dataBytes) = 0;
  // RegSetValueExW
  virtual LSTATUS SetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD dataBytes) = 0;
  // RegDeleteValueW
  virtual LSTATUS DeleteValue(HKEY key, const wchar_t* name) = 0;
  // RegDeleteKeyExW: only a key without subkeys can be deleted.
  virtual LSTATUS DeleteKey(HKEY parent, const wchar_t* subkey, REGSAM view) = 0;
  // RegQueryInfoKeyW: any out pointer may be null.
  virtual LSTATUS QueryInfoKey(HKEY key, DWORD* subkeys, DWORD* maxSubkeyChars, DWORD* values) = 0;
  // RegLoadKeyW: mounts a user's hive file as root\name (HKEY_USERS\<SID>);
  // the process needs SeBackupPrivilege and SeRestorePrivilege enabled.
  // A name already mounted is refused; a file in use is ERROR_SHARING_VIOLATION.
  // Stores that cannot mount hives keep the default: ERROR_CALL_NOT_IMPLEMENTED.
  virtual LSTATUS LoadHive(HKEY root, const wchar_t* name, const wchar_t* file) { return ERROR_CALL_NOT_IMPLEMENTED; }
  // RegUnLoadKeyW: every key opened inside must be closed first.
  virtual LSTATUS UnloadHive(HKEY root, const wchar_t* name) { return ERROR_CALL_NOT_IMPLEMENTED; }

  // Registry links: a key holding a REG_LINK value "SymbolicLinkValue" (the
  // target's \REGISTRY\... path) leads every open through it elsewhere.
  // RegOpenKeyExW with REG_OPTION_OPEN_LINK: a link at the last component
  // of subkey is opened itself, not followed (links before it still are).
  virtual LSTATUS OpenLinkKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result);
  // NtDeleteKey: deletes the key an open handle (with DELETE access)
  // names, a link key itself rather than its target; only a key without
  // subkeys (ERROR_ACCESS_DENIED otherwise). The handle stays to be closed.
  virtual LSTATUS DeleteOpenKey(HKEY key);

  VELK_PORT(Registry);
};

// An open key (never a predefined root).
using RegKey = UniqueHandle<ClosedThrough<Registry, &Registry::CloseKey, NullInvalid<HKEY>>>;

}  // namespace platform
