// Installs the virtual network adapter: a new root-enumerated device of the
// INF's class with the given hardware id, its driver, and optionally the
// name of its network connection.
#include <cstring>

#include "Errors.h"
#include "Frame.h"
#include "Log.h"
#include "TextReads.h"
#include "platform/DeviceSetup.h"
#include "platform/Export.h"
#include "platform/Port.h"
#include "platform/Registry.h"

using platform::DeviceSetup;
using platform::Use;

namespace {

// The hardware id list holds the id and two nulls in 260 characters.
constexpr size_t kHardwareIdListChars = 260;
constexpr size_t kMaxHardwareIdChars = kHardwareIdListChars - 2;

HRESULT ReadDeviceString(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, std::wstring* text) {
  DWORD type = REG_NONE;
  HRESULT hr = ReadDeviceRegistryText(set, device, property, &type, text) ? S_OK : HresultFromLastError();
  if (SUCCEEDED(hr) && !platform::IsStringType(type)) hr = kDataTypeMismatch;
  if (FAILED(hr)) LogError(hr);
  return hr;
}

HRESULT Install(CTovrinModule& module, HWND window, CActionParameters& params, DWORD installFlags) {
  const std::wstring inf = params.Get("inf");
  const std::wstring hwid = params.Get("hwid");
  if (hwid.size() > kMaxHardwareIdChars) {
    Log(Error, "hwid longer than %d characters: %s", static_cast<int>(kMaxHardwareIdChars),
        ErrorText(E_INVALIDARG).c_str());
    return E_INVALIDARG;
  }
  wchar_t hardwareIds[kHardwareIdListChars] = {};
  // With its terminator; the list's closing one is the zeroed rest.
  std::memcpy(hardwareIds, hwid.c_str(), (hwid.size() + 1) * sizeof(wchar_t));
  const DWORD hardwareIdBytes = static_cast<DWORD>((hwid.size() + 2) * sizeof(wchar_t));

  DeviceSetup& setup = Use<DeviceSetup>();
  GUID classGuid{};
  wchar_t className[MAX_CLASS_NAME_LEN] = {};
  if (!setup.GetInfClass(inf.c_str(), &classGuid, className, MAX_CLASS_NAME_LEN))
    return LogFailedCall(Error, "SetupDiGetINFClass");

  platform::DeviceInfoSet set(setup.CreateDeviceInfoList(&classGuid));
  if (!set.Valid()) return LogFailedCall(Error, "SetupDiCreateDeviceInfoList");

  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!setup.CreateDeviceInfo(set.Get(), className, &classGuid, DICD_GENERATE_ID, &device))
    return LogFailedCall(Error, "SetupDiCreateDeviceInfo");
  if (!setup.SetDeviceRegistryProperty(set.Get(), &device, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(hardwareIds),
                                       hardwareIdBytes))
    return LogFailedCall(Error, "SetupDiSetDeviceRegistryProperty");
  if (!setup.CallClassInstaller(DIF_REGISTERDEVICE, set.Get(), &device))
    return LogFailedCall(Error, "SetupDiCallClassInstaller");

  BOOL rebootRequired = FALSE;
  if (!setup.UpdateDriver(window, hwid.c_str(), inf.c_str(), installFlags, &rebootRequired))
    return LogFailedCall(Error, "UpdateDriverForPlugAndPlayDevices");
  Log(Info, "UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = %d", rebootRequired ? 1 : 0);

  std::wstring classGuidText, driverKey;
  HRESULT hr = ReadDeviceString(set.Get(), &device, SPDRP_CLASSGUID, &classGuidText);
  if (FAILED(hr)) return hr;
  hr = ReadDeviceString(set.Get(), &device, SPDRP_DRIVER, &driverKey);
  if (FAILED(hr)) return hr;

  if (!set.Close()) return LogFailedCall(Error, "SetupDiDestroyDeviceInfoList");

  if (!params.Has("ConnName")) return S_OK;
  const std::wstring& name = params.Get("ConnName");
  Log(Info, "SetConnectionName(\"%ls\")", name.c_str());
  hr = module.SetConnectionName(classGuidText, driverKey, name);
  // The adapter works under its generated name: the installation stands.
  if (FAILED(hr)) LogError(hr);
  return S_OK;
}

}  // namespace

HRESULT CTovrinModule::InstallDevice(HWND window, CActionParameters& params) {
  return InstallDevice(window, params, INSTALLFLAG_FORCE);
}

HRESULT CTovrinModule::InstallDevice(HWND window, CActionParameters& params, DWORD installFlags) {
  CLogScope scope(g_logger, Info, "CTovrinModule::InstallDevice");
  return CatchToHresult([&] { return Install(*this, window, params, installFlags); }, E_UNEXPECTED, LogError);
}

VELK_EXPORT UINT WINAPI InstallDevice(MSIHANDLE install) {
  // From the script it runs as LocalSystem, where nobody could answer a
  // prompt (an untrusted publisher): the installation then fails with an
  // error in the log instead of waiting. Immediate, the user may answer.
  return RunInstallerForm(install, "InstallDevice", [install](HWND window, CActionParameters& params) {
    const DWORD flags = RunsFromScript(install) ? INSTALLFLAG_FORCE | INSTALLFLAG_NONINTERACTIVE : INSTALLFLAG_FORCE;
    return TovrinModule().InstallDevice(window, params, flags);
  });
}

VELK_EXPORT HRESULT WINAPI RunInstallDeviceW(HWND window, HINSTANCE instance, LPWSTR commandLine, int show) {
  return RunCommandLineForm(window, commandLine, "RunInstallDeviceW", &CTovrinModule::InstallDevice);
}
