// Removes every present device of a setup class whose hardware id list
// names the given id, with its driver package.
#include <optional>
#include <vector>

#include "Errors.h"
#include "Frame.h"
#include "Log.h"
#include "TextReads.h"
#include "platform/CodePages.h"
#include "platform/DeviceSetup.h"
#include "platform/Export.h"
#include "platform/Port.h"

using platform::DeviceSetup;
using platform::Use;

namespace {

// DEVPKEY_Device_DriverInfPath: {A8B865DD-2E3D-4094-AD97-E593A70C75D6}, 5
const DEVPROPKEY kDriverInfPath = {{0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}}, 5};

constexpr DWORD kInstanceIdChars = 260;

// A string device property; nothing when it cannot be read or is no string.
std::optional<std::wstring> ReadDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* device, const DEVPROPKEY& key) {
  DEVPROPTYPE type = 0;
  std::wstring text;
  if (!ReadDevicePropertyText(set, device, key, &type, &text)) {
    LogFailedCall(Error, "SetupDiGetDeviceProperty");
    return std::nullopt;
  }
  if (type != DEVPROP_TYPE_STRING) return std::nullopt;
  return text;
}

HRESULT Uninstall(CTovrinModule& module, CActionParameters& params) {
  const std::wstring hwid = params.Get("hwid");
  const std::wstring clsid = params.Get("clsid");
  GUID classGuid{};
  HRESULT hr = platform::ClsidFromString(clsid.c_str(), &classGuid);
  if (FAILED(hr)) return LogError(hr);

  DeviceSetup& setup = Use<DeviceSetup>();
  platform::DeviceInfoSet set(setup.GetClassDevs(&classGuid, DIGCF_PRESENT));
  if (!set.Valid()) return LogFailedCall(Error, "SetupDiGetClassDevsEx");

  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD index = 0; setup.EnumDeviceInfo(set.Get(), index, &device); ++index) {
    wchar_t instanceId[kInstanceIdChars] = {};
    if (!setup.GetDeviceInstanceId(set.Get(), &device, instanceId, kInstanceIdChars, nullptr))
      return LogFailedCall(Error, "SetupDiGetDeviceInstanceId");
    instanceId[kInstanceIdChars - 1] = L'\0';

    DWORD type = REG_NONE;
    DWORD size = 0;
    setup.GetDeviceRegistryProperty(set.Get(), &device, SPDRP_HARDWAREID, &type, nullptr, 0, &size);
    if (size == 0 || type != REG_MULTI_SZ) continue;
    std::vector<wchar_t> ids(size / sizeof(wchar_t));
    if (!setup.GetDeviceRegistryProperty(set.Get(), &device, SPDRP_HARDWAREID, &type,
                                         reinterpret_cast<BYTE*>(ids.data()),
                                         static_cast<DWORD>(ids.size() * sizeof(wchar_t)), nullptr))
      return LogFailedCall(Error, "SetupDiGetDeviceRegistryProperty");

    // Every entry is looked at, so an id listed twice removes twice; the
    // walk stays inside the data even when its last entry has no null.
    size_t pos = 0;
    while (pos < ids.size() && ids[pos] != L'\0') {
      size_t end = pos;
      while (end < ids.size() && ids[end] != L'\0') ++end;
      if (std::wstring_view(ids.data() + pos, end - pos) == hwid) {
        HRESULT removed = module.RemoveDevice(set.Get(), &device);
        Log(Info, "%ls : RemoveDevice result = %08x", instanceId, static_cast<unsigned>(removed));
      }
      pos = end + 1;
    }
  }
  set.Close();
  return S_OK;
}

}  // namespace

HRESULT CTovrinModule::RemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device) {
  CLogScope scope(g_logger, Info, "CTovrinModule::RemoveDevice");
  DeviceSetup& setup = Use<DeviceSetup>();
  std::optional<std::wstring> infName = ReadDeviceProperty(set, device, kDriverInfPath);

  SP_REMOVEDEVICE_PARAMS remove{};
  remove.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  remove.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  remove.Scope = DI_REMOVEDEVICE_GLOBAL;
  remove.HwProfile = 0;
  if (!setup.SetClassInstallParams(set, device, &remove.ClassInstallHeader, sizeof remove))
    return LogFailedCall(Error, "SetupDiSetClassInstallParams");
  if (!setup.CallClassInstaller(DIF_REMOVE, set, device)) return LogFailedCall(Error, "SetupDiCallClassInstaller");

  if (infName) {
    Log(Info, "infPath = %s", platform::WideToAnsi(*infName).c_str());
    // Another device may still use the package; the device is gone all the same.
    if (!setup.UninstallOemInf(infName->c_str(), 0)) LogFailedCall(Warning, "SetupUninstallOEMInf");
  }

  SP_DEVINSTALL_PARAMS_W installParams{};
  installParams.cbSize = sizeof installParams;
  if (!setup.GetDeviceInstallParams(set, device, &installParams))
    return LogFailedCall(Error, "SetupDiGetDeviceInstallParams");
  return (installParams.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) ? kRebootRequired : S_OK;
}

HRESULT CTovrinModule::UninstallDevice(HWND window, CActionParameters& params) {
  CLogScope scope(g_logger, Info, "CTovrinModule::UninstallDevice");
  return CatchToHresult([&] { return Uninstall(*this, params); }, E_UNEXPECTED, LogError);
}

VELK_EXPORT UINT WINAPI UninstallDevice(MSIHANDLE install) {
  return RunInstallerForm(install, "UninstallDevice", &CTovrinModule::UninstallDevice);
}

VELK_EXPORT HRESULT WINAPI RunUninstallDeviceW(HWND window, HINSTANCE instance, LPWSTR commandLine, int show) {
  return RunCommandLineForm(window, commandLine, "RunUninstallDeviceW", &CTovrinModule::UninstallDevice);
}
