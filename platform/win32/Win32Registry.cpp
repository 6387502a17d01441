#include <winternl.h>

#include "platform/Registry.h"

// ntdll's deletion of an open key, which winternl.h does not declare.
extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);

namespace platform {

namespace {

class Win32Registry : public Registry {
 public:
  LSTATUS OpenKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) override {
    return RegOpenKeyExW(parent, subkey, 0, access, result);
  }
  LSTATUS CreateKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result, DWORD* disposition) override {
    return RegCreateKeyExW(parent, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, result, disposition);
  }
  LSTATUS CloseKey(HKEY key) override { return RegCloseKey(key); }
  LSTATUS EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars) override {
    return RegEnumKeyExW(key, index, name, nameChars, nullptr, nullptr, nullptr, nullptr);
  }
  LSTATUS EnumValue(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars, DWORD* type) override {
    return RegEnumValueW(key, index, name, nameChars, nullptr, type, nullptr, nullptr);
  }
  LSTATUS QueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* dataBytes) override {
    return RegQueryValueExW(key, name, nullptr, type, data, dataBytes);
  }
  LSTATUS SetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD dataBytes) override {
    return RegSetValueExW(key, name, 0, type, data, dataBytes);
  }
  LSTATUS DeleteValue(HKEY key, const wchar_t* name) override { return RegDeleteValueW(key, name); }
  LSTATUS DeleteKey(HKEY parent, const wchar_t* subkey, REGSAM view) override {
    return RegDeleteKeyExW(parent, subkey, view, 0);
  }
  LSTATUS QueryInfoKey(HKEY key, DWORD* subkeys, DWORD* maxSubkeyChars, DWORD* values) override {
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, subkeys, maxSubkeyChars, nullptr, values, nullptr, nullptr,
                            nullptr, nullptr);
  }
  LSTATUS LoadHive(HKEY root, const wchar_t* name, const wchar_t* file) override {
    return RegLoadKeyW(root, name, file);
  }
  LSTATUS UnloadHive(HKEY root, const wchar_t* name) override { return RegUnLoadKeyW(root, name); }
  LSTATUS OpenLinkKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) override {
    return RegOpenKeyExW(parent, subkey, REG_OPTION_OPEN_LINK, access, result);
  }
  LSTATUS DeleteOpenKey(HKEY key) override {
    NTSTATUS status = NtDeleteKey(key);
    return status < 0 ? static_cast<LSTATUS>(RtlNtStatusToDosError(status)) : ERROR_SUCCESS;
  }
};

}  // namespace

Registry& Registry::Default() {
  static Win32Registry registry;
  return registry;
}

}  // namespace platform
