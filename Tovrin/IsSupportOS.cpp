// Flags Windows versions older than Windows 10 in RASXX_NOT_SUPPORTOS.
#include <algorithm>
#include <cstdint>
#include <cwchar>

#include "Errors.h"
#include "Frame.h"
#include "Log.h"
#include "platform/Export.h"
#include "platform/Installer.h"
#include "platform/Port.h"
#include "platform/Registry.h"

namespace {

constexpr UINT kWindows11Build = 22000;

void FlagNotSupported(MSIHANDLE install) {
  platform::Use<platform::Installer>().SetProperty(install, L"RASXX_NOT_SUPPORTOS", L"1");
}

UINT CheckVersion(MSIHANDLE install) {
  platform::Registry& registry = platform::Use<platform::Registry>();
  platform::RegKey key;
  LSTATUS status =
      registry.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", KEY_READ, key.Put());
  if (status != ERROR_SUCCESS) {
    LogRegError("RegOpenKeyEx", status);
    FlagNotSupported(install);
    return ERROR_INSTALL_FAILURE;
  }

  DWORD major = 0;
  DWORD size = sizeof major;
  status =
      registry.QueryValue(key.Get(), L"CurrentMajorVersionNumber", nullptr, reinterpret_cast<BYTE*>(&major), &size);
  if (status != ERROR_SUCCESS) {
    // The value exists from Windows 10 on: its absence is the old system, not a failure.
    Log(Banner, "####### Detect windows8.1 #######");
    Log(Error, "RegQueryValueEx Error%d)", static_cast<int>(status));
    key.Reset();
    FlagNotSupported(install);
    return ERROR_SUCCESS;
  }
  Log(Banner, "####### IsSupportOS(Major=%d) #######", static_cast<int>(major));
  if (major < 10) {
    key.Reset();
    FlagNotSupported(install);
    return ERROR_SUCCESS;
  }

  wchar_t build[16] = {};
  size = sizeof build;
  status = registry.QueryValue(key.Get(), L"CurrentBuild", nullptr, reinterpret_cast<BYTE*>(build), &size);
  if (status != ERROR_SUCCESS) {
    LogRegError("RegQueryValueEx", status);
    key.Reset();
    FlagNotSupported(install);
    return ERROR_INSTALL_FAILURE;
  }
  key.Reset();
  // The read fills at most the 16 characters; the last one is forced to
  // end the text when the stored value carries no terminator.
  build[15] = L'\0';
  // Windows' long has 32 bits, so its wcstol saturates there.
  long number = std::clamp<long>(std::wcstol(build, nullptr, 10), INT32_MIN, INT32_MAX);
  Log(Banner, "####### IsSupportOS(Build=%d) #######", static_cast<int>(number));
  if (number >= static_cast<long>(kWindows11Build))
    Log(Banner, "####### Detect windows11 #######");
  else
    Log(Banner, "####### Detect windows10 #######");
  return ERROR_SUCCESS;
}

}  // namespace

VELK_EXPORT UINT WINAPI IsSupportOS(MSIHANDLE install) {
  BeginInstallerCall(install);
  CLogScope scope(g_logger, Info, "IsSupportOS");
  return NoThrow<UINT>(ERROR_INSTALL_FAILURE, [&] { return CheckVersion(install); });
}
