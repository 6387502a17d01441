#include "platform/DeviceSetup.h"

namespace platform {

namespace {

class Win32DeviceSetup : public DeviceSetup {
 public:
  BOOL GetInfClass(const wchar_t* infPath, GUID* classGuid, wchar_t* className, DWORD classNameChars) override {
    return SetupDiGetINFClassW(infPath, classGuid, className, classNameChars, nullptr);
  }
  HDEVINFO CreateDeviceInfoList(const GUID* classGuid) override {
    return SetupDiCreateDeviceInfoList(classGuid, nullptr);
  }
  HDEVINFO GetClassDevs(const GUID* classGuid, DWORD flags) override {
    return SetupDiGetClassDevsExW(classGuid, nullptr, nullptr, flags, nullptr, nullptr, nullptr);
  }
  BOOL DestroyDeviceInfoList(HDEVINFO set) override { return SetupDiDestroyDeviceInfoList(set); }
  BOOL CreateDeviceInfo(HDEVINFO set, const wchar_t* deviceName, const GUID* classGuid, DWORD flags,
                        SP_DEVINFO_DATA* data) override {
    return SetupDiCreateDeviceInfoW(set, deviceName, classGuid, nullptr, nullptr, flags, data);
  }
  BOOL EnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) override {
    return SetupDiEnumDeviceInfo(set, index, data);
  }
  BOOL GetDeviceInstanceId(HDEVINFO set, SP_DEVINFO_DATA* data, wchar_t* id, DWORD idChars, DWORD* required) override {
    return SetupDiGetDeviceInstanceIdW(set, data, id, idChars, required);
  }
  BOOL SetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, const BYTE* buffer,
                                 DWORD bytes) override {
    return SetupDiSetDeviceRegistryPropertyW(set, data, property, buffer, bytes);
  }
  BOOL GetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, DWORD* type, BYTE* buffer,
                                 DWORD bytes, DWORD* required) override {
    return SetupDiGetDeviceRegistryPropertyW(set, data, property, type, buffer, bytes, required);
  }
  BOOL GetDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* data, const DEVPROPKEY* key, DEVPROPTYPE* type, BYTE* buffer,
                         DWORD bytes, DWORD* required) override {
    return SetupDiGetDevicePropertyW(set, data, key, type, buffer, bytes, required, 0);
  }
  BOOL SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* data, SP_CLASSINSTALL_HEADER* params,
                             DWORD bytes) override {
    return SetupDiSetClassInstallParamsW(set, data, params, bytes);
  }
  BOOL CallClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* data) override {
    return SetupDiCallClassInstaller(function, set, data);
  }
  BOOL GetDeviceInstallParams(HDEVINFO set, SP_DEVINFO_DATA* data, SP_DEVINSTALL_PARAMS_W* params) override {
    return SetupDiGetDeviceInstallParamsW(set, data, params);
  }
  BOOL UpdateDriver(HWND window, const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags,
                    BOOL* rebootRequired) override {
    return UpdateDriverForPlugAndPlayDevicesW(window, hardwareId, infPath, flags, rebootRequired);
  }
  BOOL UninstallOemInf(const wchar_t* infName, DWORD flags) override {
    return SetupUninstallOEMInfW(infName, flags, nullptr);
  }
};

}  // namespace

DeviceSetup& DeviceSetup::Default() {
  static Win32DeviceSetup setup;
  return setup;
}

}  // namespace platform
