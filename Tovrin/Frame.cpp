#include "Frame.h"

#include "Errors.h"
#include "InstallerProperty.h"
#include "Log.h"
#include "platform/Clock.h"
#include "platform/Hresult.h"
#include "platform/Installer.h"
#include "platform/Port.h"
#include "platform/Runtime.h"
#include "platform/Token.h"

namespace {

// An exception from an action is an ordinary failure of that action.
HRESULT CallAction(const ActionBody& action, HWND window, CActionParameters& params) noexcept {
  return CatchToHresult([&] { return action(window, params); });
}

// The parameter text of an immediate action: TovrinData, with HelpUrl
// appended when set. S_OK, or the failed HelpUrl read.
HRESULT ReadSessionParameters(MSIHANDLE install, std::wstring& text) {
  if (FAILED(GetInstallerProperty(install, L"TovrinData", text))) text.clear();
  std::wstring helpUrl;
  HRESULT rc = GetInstallerProperty(install, L"HelpUrl", helpUrl);
  if (!helpUrl.empty()) text += L" /HelpUrl=\"" + helpUrl + L"\"";
  if (SUCCEEDED(rc)) Log(Info, "TovrinData:%ls", text.c_str());
  return rc;
}

// The parameter text of a script action: CustomActionData, which the
// package's feeder filled with the same items (any /HelpUrl= among them).
HRESULT ReadScriptParameters(MSIHANDLE install, std::wstring& text) {
  HRESULT rc = GetInstallerProperty(install, L"CustomActionData", text);
  if (SUCCEEDED(rc)) Log(Info, "CustomActionData:%ls", text.c_str());
  return rc;
}

}  // namespace

// A deferred, rollback or commit action runs from the installation script,
// where the session's properties are gone: only CustomActionData is left.
bool RunsFromScript(MSIHANDLE install) {
  platform::Installer& installer = platform::Use<platform::Installer>();
  for (MSIRUNMODE mode : {MSIRUNMODE_SCHEDULED, MSIRUNMODE_ROLLBACK, MSIRUNMODE_COMMIT})
    if (installer.GetMode(install, mode)) return true;
  return false;
}

bool GuardScriptRedirections(MSIHANDLE install) {
  if (!RunsFromScript(install)) return false;
  // Running from the script means running as LocalSystem over what users
  // own: where Windows can refuse their junctions, it is asked to.
  DWORD status = platform::Use<platform::Token>().EnforceRedirectionTrust();
  if (status == ERROR_SUCCESS)
    Log(Info, "RedirectionGuard on");
  else if (status == ERROR_PROC_NOT_FOUND)
    Log(Info, "RedirectionGuard off: SetProcessMitigationPolicy not found");
  else
    Log(Info, "RedirectionGuard off: %s", ErrorText(platform::HresultFromWin32(status)).c_str());
  return true;
}

void BeginInstallerCall(MSIHANDLE install) {
  g_logger.m_hInstall = install;
  Log(Banner, "####### Tovrin log PID=%08x #######",
      static_cast<unsigned>(platform::Use<platform::Clock>().ProcessId()));
}

static ActionBody Bind(TovrinAction action) {
  return [action](HWND window, CActionParameters& params) { return (TovrinModule().*action)(window, params); };
}

UINT RunInstallerForm(MSIHANDLE install, const char* exportName, TovrinAction action) {
  return RunInstallerForm(install, exportName, Bind(action));
}

HRESULT RunCommandLineForm(HWND window, const wchar_t* commandLine, const char* exportName, TovrinAction action) {
  return RunCommandLineForm(window, commandLine, exportName, Bind(action));
}

UINT RunInstallerForm(MSIHANDLE install, const char* exportName, const ActionBody& action) {
  BeginInstallerCall(install);
  CLogScope scope(g_logger, Info, exportName);
  platform::ComApartment com;
  platform::ActionScope actionScope;
  return NoThrow<UINT>(ERROR_INSTALL_FAILURE, [&]() -> UINT {
    CActionParameters params;
    std::wstring text;
    HRESULT rc =
        GuardScriptRedirections(install) ? ReadScriptParameters(install, text) : ReadSessionParameters(install, text);
    if (FAILED(rc)) {
      LogError(rc);
      return platform::LowWord(rc);
    }
    HRESULT hr = ParseActionParameters(text, params);
    if (FAILED(hr)) return platform::LowWord(hr);
    hr = CallAction(action, nullptr, params);
    if (FAILED(hr)) {
      LogError(hr);
      ReportInstallerError(install, INSTALLMESSAGE_ERROR, hr);
      return ERROR_INSTALL_FAILURE;
    }
    return platform::LowWord(hr);
  });
}

HRESULT RunCommandLineForm(HWND window, const wchar_t* commandLine, const char* exportName, const ActionBody& action) {
  CLogScope scope(g_logger, Info, exportName);
  platform::ComApartment com;
  platform::ActionScope actionScope;
  return NoThrow<HRESULT>(E_OUTOFMEMORY, [&]() -> HRESULT {
    CActionParameters params;
    std::wstring text = commandLine ? commandLine : L"";
    HRESULT hr = ParseActionParameters(text, params);
    if (FAILED(hr)) {
      LogError(hr);
      return hr;
    }
    return CallAction(action, window, params);
  });
}
