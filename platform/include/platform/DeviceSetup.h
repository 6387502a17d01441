// Device setup port: the SetupAPI and driver installation calls the kit
// uses, with their BOOL results, last errors and size rules.
#pragma once

#include <string>

#include "platform/Port.h"
#include "platform/UniqueHandle.h"
#include "platform/WinTypes.h"

#ifdef _WIN32
#include <devpropdef.h>
#include <newdev.h>
#include <setupapi.h>
#ifndef MAX_CLASS_NAME_LEN
#define MAX_CLASS_NAME_LEN 32
#endif
#else

typedef void* HDEVINFO;
typedef ULONG DEVPROPTYPE;
typedef ULONG DEVPROPID;
typedef UINT DI_FUNCTION;

typedef struct _DEVPROPKEY {
  GUID fmtid;
  DEVPROPID pid;
} DEVPROPKEY;

typedef struct _SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;

typedef struct _SP_CLASSINSTALL_HEADER {
  DWORD cbSize;
  DI_FUNCTION InstallFunction;
} SP_CLASSINSTALL_HEADER, *PSP_CLASSINSTALL_HEADER;

typedef struct _SP_REMOVEDEVICE_PARAMS {
  SP_CLASSINSTALL_HEADER ClassInstallHeader;
  DWORD Scope;
  DWORD HwProfile;
} SP_REMOVEDEVICE_PARAMS;

typedef struct _SP_DEVINSTALL_PARAMS_W {
  DWORD cbSize;
  DWORD Flags;
  DWORD FlagsEx;
  HWND hwndParent;
  void* InstallMsgHandler;
  void* InstallMsgHandlerContext;
  void* FileQueue;
  ULONG_PTR ClassInstallReserved;
  DWORD Reserved;
  WCHAR DriverPath[MAX_PATH];
} SP_DEVINSTALL_PARAMS_W;

#define MAX_CLASS_NAME_LEN 32
#define MAX_DEVICE_ID_LEN 200
#define LINE_LEN 256

#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DICD_GENERATE_ID 0x00000001

#define DIF_REMOVE 0x00000005
#define DIF_REGISTERDEVICE 0x00000019
#define DI_REMOVEDEVICE_GLOBAL 0x00000001
#define DI_REMOVEDEVICE_CONFIGSPECIFIC 0x00000002
#define DI_NEEDRESTART 0x00000080
#define DI_NEEDREBOOT 0x00000100

#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_CLASS 0x00000007
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_DRIVER 0x00000009

#define DEVPROP_TYPE_STRING 0x00000012
#define INSTALLFLAG_FORCE 0x00000001
#define INSTALLFLAG_READONLY 0x00000002
#define INSTALLFLAG_NONINTERACTIVE 0x00000004
#define SUOI_FORCEDELETE 0x00000001

#define APPLICATION_ERROR_MASK 0x20000000
#define ERROR_SEVERITY_ERROR 0xC0000000
#define ERROR_WRONG_INF_STYLE (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x100)
#define ERROR_LINE_NOT_FOUND (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x102)
#define ERROR_NO_ASSOCIATED_CLASS (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x200)
#define ERROR_CLASS_MISMATCH (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x201)
#define ERROR_INVALID_DEVINST_NAME (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x205)
#define ERROR_INVALID_CLASS (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x206)
#define ERROR_DEVINST_ALREADY_EXISTS (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x207)
#define ERROR_DEVINFO_NOT_REGISTERED (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x208)
#define ERROR_INVALID_REG_PROPERTY (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x209)
#define ERROR_NO_SUCH_DEVINST (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x20B)
#define ERROR_DI_DO_DEFAULT (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x20E)
#define ERROR_NO_COMPAT_DRIVERS (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x228)
#define ERROR_NOT_AN_INSTALLED_OEM_INF (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x23C)
#define ERROR_INF_IN_USE_BY_DEVICES (APPLICATION_ERROR_MASK | ERROR_SEVERITY_ERROR | 0x23D)

#endif  // _WIN32

namespace platform {

class DeviceSetup {
 public:
  virtual ~DeviceSetup() = default;

  // SetupDiGetINFClassW without the required-size output.
  virtual BOOL GetInfClass(const wchar_t* infPath, GUID* classGuid, wchar_t* className, DWORD classNameChars) = 0;
  // SetupDiCreateDeviceInfoList(classGuid, no window); INVALID_HANDLE_VALUE on failure.
  virtual HDEVINFO CreateDeviceInfoList(const GUID* classGuid) = 0;
  // SetupDiGetClassDevsExW(classGuid, no enumerator, no window, flags, no set, local machine).
  virtual HDEVINFO GetClassDevs(const GUID* classGuid, DWORD flags) = 0;
  // SetupDiDestroyDeviceInfoList
  virtual BOOL DestroyDeviceInfoList(HDEVINFO set) = 0;
  // SetupDiCreateDeviceInfoW(set, name, classGuid, no description, no window, flags, data)
  virtual BOOL CreateDeviceInfo(HDEVINFO set, const wchar_t* deviceName, const GUID* classGuid, DWORD flags,
                                SP_DEVINFO_DATA* data) = 0;
  // SetupDiEnumDeviceInfo
  virtual BOOL EnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* data) = 0;
  // SetupDiGetDeviceInstanceIdW; required may be null.
  virtual BOOL GetDeviceInstanceId(HDEVINFO set, SP_DEVINFO_DATA* data, wchar_t* id, DWORD idChars,
                                   DWORD* required) = 0;
  // SetupDiSetDeviceRegistryPropertyW
  virtual BOOL SetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, const BYTE* buffer,
                                         DWORD bytes) = 0;
  // SetupDiGetDeviceRegistryPropertyW: ERROR_INSUFFICIENT_BUFFER with the
  // type and size when the buffer is missing or small.
  virtual BOOL GetDeviceRegistryProperty(HDEVINFO set, SP_DEVINFO_DATA* data, DWORD property, DWORD* type, BYTE* buffer,
                                         DWORD bytes, DWORD* required) = 0;
  // SetupDiGetDevicePropertyW with no flags.
  virtual BOOL GetDeviceProperty(HDEVINFO set, SP_DEVINFO_DATA* data, const DEVPROPKEY* key, DEVPROPTYPE* type,
                                 BYTE* buffer, DWORD bytes, DWORD* required) = 0;
  // SetupDiSetClassInstallParamsW
  virtual BOOL SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* data, SP_CLASSINSTALL_HEADER* params,
                                     DWORD bytes) = 0;
  // SetupDiCallClassInstaller
  virtual BOOL CallClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* data) = 0;
  // SetupDiGetDeviceInstallParamsW
  virtual BOOL GetDeviceInstallParams(HDEVINFO set, SP_DEVINFO_DATA* data, SP_DEVINSTALL_PARAMS_W* params) = 0;
  // UpdateDriverForPlugAndPlayDevicesW (newdev)
  virtual BOOL UpdateDriver(HWND window, const wchar_t* hardwareId, const wchar_t* infPath, DWORD flags,
                            BOOL* rebootRequired) = 0;
  // SetupUninstallOEMInfW
  virtual BOOL UninstallOemInf(const wchar_t* infName, DWORD flags) = 0;

  VELK_PORT(DeviceSetup);
};

// Close() gives SetupDiDestroyDeviceInfoList's result.
using DeviceInfoSet =
    UniqueHandle<ClosedThrough<DeviceSetup, &DeviceSetup::DestroyDeviceInfoList, InvalidValueOrNullInvalid>>;

// CLSIDFromString: the GUID of "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
HRESULT ClsidFromString(const wchar_t* text, GUID* guid);
// The registry form of a GUID, with braces and upper-case digits.
std::wstring GuidText(const GUID& guid);

}  // namespace platform
