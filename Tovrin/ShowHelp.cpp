// Opens the help page with the system's default handler.
#include "Errors.h"
#include "Frame.h"
#include "Log.h"
#include "platform/Export.h"
#include "platform/Port.h"
#include "platform/Shell.h"

HRESULT CTovrinModule::ShowHelp(HWND window, CActionParameters& params) {
  CLogScope scope(g_logger, Info, "CTovrinModule::ShowHelp");
  platform::ShellExecuteRequest request;
  request.mask = SEE_MASK_NOASYNC;
  request.verb = L"open";
  request.file = params.Get("HelpUrl");
  request.show = SW_SHOWNORMAL;
  if (platform::Use<platform::Shell>().Execute(request)) return S_OK;
  return HresultFromLastError();
}

VELK_EXPORT UINT WINAPI ShowHelp(MSIHANDLE install) {
  return RunInstallerForm(install, "ShowHelp", &CTovrinModule::ShowHelp);
}

VELK_EXPORT HRESULT WINAPI RunShowHelpW(HWND window, HINSTANCE instance, LPWSTR commandLine, int show) {
  return RunCommandLineForm(window, commandLine, "RunShowHelpW", &CTovrinModule::ShowHelp);
}
