// Installs the virtual network adapter: a new root-enumerated device of the
// INF's class with the given hardware id, its driver, and optionally the
// name of its network connection.
#include <cstring>
#include <new>
#include <vector>

#include "DeviceErrors.h"
#include "Frame.h"
#include "Log.h"
#include "platform/DeviceSetup.h"
#include "platform/Export.h"
#include "platform/Port.h"

using platform::DeviceSetup;
using platform::Use;

namespace {

// The hardware id list holds the id and two nulls in 260 characters.
constexpr size_t kHardwareIdListChars = 260;
constexpr size_t kMaxHardwareIdChars = kHardwareIdListChars - 2;

// A device registry property as text (up to its first null) and its type.
HRESULT ReadDeviceText(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, std::wstring* text, DWORD* type) {
  DeviceSetup& setup = Use<DeviceSetup>();
  DWORD size = 0;
  setup.GetDeviceRegistryProperty(set, device, property, type, nullptr, 0, &size);
  if (size == 0) return HresultFromLastError();
  // One character more than the data holds, so that the text always ends.
  std::vector<wchar_t> buffer((size + sizeof(wchar_t) - 1) / sizeof(wchar_t) + 1, L'\0');
  if (!setup.GetDeviceRegistryProperty(set, device, property, type, reinterpret_cast<BYTE*>(buffer.data()), size,
                                       nullptr))
    return HresultFromLastError();
  *text = buffer.data();
  return S_OK;
}

HRESULT ReadDeviceString(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, std::wstring* text) {
  DWORD type = REG_NONE;
  HRESULT hr = ReadDeviceText(set, device, property, text, &type);
  if (SUCCEEDED(hr) && !IsStringType(type)) hr = kDataTypeMismatch;
  if (FAILED(hr)) g_logger.WriteText(Error, ErrorText(hr).c_str());
  return hr;
}

HRESULT LogFailure(const char* call) {
  HRESULT hr = HresultFromLastError();
  Log(Error, "%s() = %s", call, ErrorText(hr).c_str());
  return hr;
}

}  // namespace

HRESULT CTovrinModule::InstallDevice(HWND window, CActionParameters& params) {
  CLogScope scope(g_logger, Info, "CTovrinModule::InstallDevice");
  try {
    const std::wstring inf = params.Get("inf");
    const std::wstring hwid = params.Get("hwid");
    if (hwid.size() > kMaxHardwareIdChars) {
      Log(Error, "hwid longer than %d characters: %s", static_cast<int>(kMaxHardwareIdChars),
          ErrorText(E_INVALIDARG).c_str());
      return E_INVALIDARG;
    }
    wchar_t hardwareIds[kHardwareIdListChars] = {};
    std::memcpy(hardwareIds, hwid.c_str(), hwid.size() * sizeof(wchar_t));
    const DWORD hardwareIdBytes = static_cast<DWORD>((hwid.size() + 2) * sizeof(wchar_t));

    DeviceSetup& setup = Use<DeviceSetup>();
    GUID classGuid{};
    wchar_t className[MAX_CLASS_NAME_LEN] = {};
    if (!setup.GetInfClass(inf.c_str(), &classGuid, className, MAX_CLASS_NAME_LEN))
      return LogFailure("SetupDiGetINFClass");

    platform::DeviceInfoSet set(setup.CreateDeviceInfoList(&classGuid));
    if (!set.Valid()) return LogFailure("SetupDiCreateDeviceInfoList");

    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!setup.CreateDeviceInfo(set.Get(), className, &classGuid, DICD_GENERATE_ID, &device))
      return LogFailure("SetupDiCreateDeviceInfo");
    if (!setup.SetDeviceRegistryProperty(set.Get(), &device, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(hardwareIds),
                                         hardwareIdBytes))
      return LogFailure("SetupDiSetDeviceRegistryProperty");
    if (!setup.CallClassInstaller(DIF_REGISTERDEVICE, set.Get(), &device))
      return LogFailure("SetupDiCallClassInstaller");

    BOOL rebootRequired = FALSE;
    if (!setup.UpdateDriver(window, hwid.c_str(), inf.c_str(), INSTALLFLAG_FORCE, &rebootRequired))
      return LogFailure("UpdateDriverForPlugAndPlayDevices");
    Log(Info, "UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = %d", rebootRequired ? 1 : 0);

    std::wstring classGuidText, driverKey;
    HRESULT hr = ReadDeviceString(set.Get(), &device, SPDRP_CLASSGUID, &classGuidText);
    if (FAILED(hr)) return hr;
    hr = ReadDeviceString(set.Get(), &device, SPDRP_DRIVER, &driverKey);
    if (FAILED(hr)) return hr;

    if (!set.Destroy()) return LogFailure("SetupDiDestroyDeviceInfoList");

    if (!params.Has("ConnName")) return S_OK;
    const std::wstring& name = params.Get("ConnName");
    Log(Info, "SetConnectionName(\"%ls\")", name.c_str());
    hr = SetConnectionName(classGuidText, driverKey, name);
    if (FAILED(hr)) {
      // The adapter works under its generated name: the installation stands.
      g_logger.WriteText(Error, ErrorText(hr).c_str());
      return S_OK;
    }
    return hr;
  } catch (const std::bad_alloc&) {
    g_logger.WriteText(Error, ErrorText(E_OUTOFMEMORY).c_str());
    return E_OUTOFMEMORY;
  }
}

VELK_EXPORT UINT WINAPI InstallDevice(MSIHANDLE install) {
  return RunInstallerForm(install, "InstallDevice", &CTovrinModule::InstallDevice);
}

VELK_EXPORT HRESULT WINAPI RunInstallDeviceW(HWND window, HINSTANCE instance, LPWSTR commandLine, int show) {
  return RunCommandLineForm(window, commandLine, "RunInstallDeviceW", &CTovrinModule::InstallDevice);
}
