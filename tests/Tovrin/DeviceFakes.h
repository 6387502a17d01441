// Fakes of the device setup, network connections and registry ports for
// the device actions.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/DeviceSetup.h"
#include "platform/NetConnections.h"
#include "platform/Registry.h"

namespace velk_test {

// One device that GetClassDevs lists.
struct FakeDevice {
  std::wstring instanceId = L"ROOT\\NET\\0000";
  DWORD hardwareIdType = REG_MULTI_SZ;
  std::vector<wchar_t> hardwareIds;  // raw data, nulls included
  std::optional<std::wstring> infName = L"oem7.inf";
  DEVPROPTYPE infNameType = DEVPROP_TYPE_STRING;
  DWORD installFlags = 0;
  bool removed = false;
};

// Builds multi-string data: each entry, its null, and the closing null.
std::vector<wchar_t> MultiSz(const std::vector<std::wstring>& entries);

class FakeDeviceSetup : public platform::DeviceSetup {
 public:
  BOOL GetInfClass(const wchar_t* infPath, GUID* classGuid, wchar_t* className, DWORD classNameChars) override;
  HDEVINFO CreateDeviceInfoList(const GUID* classGuid) override;
  HDEVINFO GetClassDevs(const GUID* classGuid, DWORD flags) override;
  BOOL DestroyDeviceInfoList(HDEVINFO set) override;
  BOOL CreateDeviceInfo(HDEVINFO set, const wchar_t* deviceName, const GUID* classGuid, DWORD flags,
                        SP_DEVINFO_DATA* data) override;
  BOOL EnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) override;
  BOOL GetDeviceInstanceId(HDEVINFO set, SP_DEVINFO_DATA* data, wchar_t* id, DWORD idChars, DWORD* required) override;
  BOOL SetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, const BYTE* buffer,
                                 DWORD bytes) override;
  BOOL GetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, DWORD* type, BYTE* buffer,
                                 DWORD bytes, DWORD* required) override;
  BOOL GetDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* data, const DEVPROPKEY* key, DEVPROPTYPE* type, BYTE* buffer,
                         DWORD bytes, DWORD* required) override;
  BOOL SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* data, SP_CLASSINSTALL_HEADER* params, DWORD bytes) override;
  BOOL CallClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* data) override;
  BOOL GetDeviceInstallParams(HDEVINFO set, SP_DEVINFO_DATA* data, SP_DEVINSTALL_PARAMS_W* params) override;
  BOOL UpdateDriver(HWND window, const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags,
                    BOOL* rebootRequired) override;
  BOOL UninstallOemInf(const wchar_t* infName, DWORD flags) override;

  // Failures to inject: the call's name (as in calls) -> its last error.
  // "GetDeviceRegistryProperty:8" names the read of one property.
  std::map<std::string, DWORD> fail;
  // A failing registry property read still reports the property's size, as
  // SetupAPI may with an error other than ERROR_INSUFFICIENT_BUFFER.
  bool failuresReportSize = false;
  // Every call by name, in order.
  std::vector<std::string> calls;
  size_t liveSets = 0;

  // InstallDevice's world.
  GUID infClass = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
  std::wstring infClassName = L"Net";
  std::wstring classGuidText = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
  std::wstring driverKey = L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0007";
  DWORD classGuidType = REG_SZ;
  DWORD driverType = REG_SZ;
  BOOL rebootRequired = FALSE;
  std::vector<BYTE> hardwareIdSet;  // what SetDeviceRegistryProperty stored
  std::wstring createdName;
  DWORD createFlags = 0;
  std::wstring updatedHardwareId, updatedInf;
  HWND updateWindow = nullptr;
  DWORD updateFlags = 0;

  // UninstallDevice's world.
  std::vector<FakeDevice> devices;
  std::optional<GUID> listedClass;
  DWORD listedFlags = 0;
  std::vector<std::vector<BYTE>> removeParams;  // the bytes of each SetClassInstallParams
  std::vector<std::wstring> removedDevices;
  std::vector<std::wstring> uninstalledInfs;
  std::vector<DWORD> propertyReadBytes;  // the buffer size of each GetDeviceProperty read

 private:
  BOOL Failing(const std::string& call);
  std::set<uintptr_t> sets_;
  uintptr_t next_ = 0x100;
};

// An in-memory registry: keys by path below HKLM (compared without case).
class FakeRegistry : public platform::Registry {
 public:
  struct Value {
    DWORD type;
    std::vector<BYTE> data;
  };
  void SetString(const std::wstring& key, const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ);
  void SetDword(const std::wstring& key, const std::wstring& name, DWORD value);

  LSTATUS OpenKey(HKEY parent, const wchar_t* subkey, REGSAM access, HKEY* result) override;
  LSTATUS CreateKey(HKEY, const wchar_t*, REGSAM, HKEY*, DWORD*) override { return ERROR_ACCESS_DENIED; }
  LSTATUS CloseKey(HKEY key) override;
  LSTATUS EnumKey(HKEY, DWORD, wchar_t*, DWORD*) override { return ERROR_NO_MORE_ITEMS; }
  LSTATUS EnumValue(HKEY, DWORD, wchar_t*, DWORD*, DWORD*) override { return ERROR_NO_MORE_ITEMS; }
  LSTATUS QueryValue(HKEY key, const wchar_t* name, DWORD* type, BYTE* data, DWORD* dataBytes) override;
  LSTATUS SetValue(HKEY, const wchar_t*, DWORD, const BYTE*, DWORD) override;
  LSTATUS DeleteValue(HKEY, const wchar_t*) override { return ERROR_ACCESS_DENIED; }
  LSTATUS DeleteKey(HKEY, const wchar_t*, REGSAM) override { return ERROR_ACCESS_DENIED; }
  LSTATUS QueryInfoKey(HKEY, DWORD*, DWORD*, DWORD*) override { return ERROR_ACCESS_DENIED; }

  std::map<std::wstring, std::map<std::wstring, Value>> keys;  // upper-case paths
  // A key that exists only after this many failed opens (ERROR_FILE_NOT_FOUND).
  std::map<std::wstring, int> appearsAfterOpens;
  // A value that is missing for this many queries.
  std::map<std::wstring, int> appearsAfterQueries;
  std::map<std::wstring, LSTATUS> openError;  // path -> error of every open
  std::vector<std::pair<std::wstring, REGSAM>> opens;
  size_t openHandles = 0;
  size_t writes = 0;

 private:
  std::map<uintptr_t, std::wstring> handles_;
  uintptr_t next_ = 0x2000;
};

// The Network Connections folder with a list of items.
class FakeNetConnections : public platform::NetConnections {
 public:
  struct Item {
    std::wstring name;
    UINT kind = STRRET_WSTR;
  };
  HRESULT GetMalloc(platform::ShellAllocator** allocator) override;
  HRESULT CreateFolder(platform::ConnectionFolder** folder) override;

  std::vector<Item> items;
  HRESULT mallocResult = S_OK;
  HRESULT createResult = S_OK;
  HRESULT enumResult = S_OK;
  std::optional<size_t> displayFailsAt;  // item index whose name cannot be read
  HRESULT displayResult = E_FAIL;
  HRESULT setNameResult = S_OK;
  std::vector<std::pair<size_t, std::wstring>> renames;  // item index, new name

  // Bookkeeping of the shell's ownership rules.
  std::set<void*> outstanding;  // blocks handed out and not freed
  size_t foreignFrees = 0;      // frees of blocks never handed out
  int references = 0;           // allocator, folder and enumerator references held

  void* Allocate(size_t bytes);
  void FreeBlock(void* block);
};

}  // namespace velk_test
