// Fails while another instance holds the product's single-instance mutex.
#include "Errors.h"
#include "Frame.h"
#include "InstallerProperty.h"
#include "Log.h"
#include "platform/Export.h"
#include "platform/LastError.h"
#include "platform/NamedMutex.h"
#include "platform/Port.h"

namespace {

constexpr wchar_t kSingleInstanceMutex[] = L"Global\\TESSMAR.Velk.{4B1E9C27-53A0-4D8F-9E26-7C0F3A5D81B4}";

// Never closed: the mutex stays owned until the hosting process ends.
HANDLE g_singleInstance = nullptr;

}  // namespace

HRESULT CTovrinModule::CheckMultiExec(HWND window, CActionParameters& params) {
  CLogScope scope(g_logger, Info, "CTovrinModule::CheckMultiExec");
  platform::NamedMutex& mutexes = platform::Use<platform::NamedMutex>();
  platform::SetLastErrorCode(ERROR_SUCCESS);
  platform::MutexHandle mutex(mutexes.Create(kSingleInstanceMutex, TRUE));
  if (platform::GetLastErrorCode() == ERROR_ALREADY_EXISTS) return kAlreadyRunning;
  // A mutex that could not be made for another reason does not stop the
  // installation.
  if (mutex) g_singleInstance = mutex.Release();
  return S_OK;
}

VELK_EXPORT UINT WINAPI CheckMultiExec(MSIHANDLE install) {
  return RunInstallerForm(install, "CheckMultiExec", &CTovrinModule::CheckMultiExec);
}

VELK_EXPORT HRESULT WINAPI RunCheckMultiExecW(HWND window, HINSTANCE instance, LPWSTR commandLine, int show) {
  return RunCommandLineForm(window, commandLine, "RunCheckMultiExecW", &CTovrinModule::CheckMultiExec);
}
