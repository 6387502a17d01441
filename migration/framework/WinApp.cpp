#include "framework/WinApp.h"

#include <exception>
#include <new>

namespace {

CWinApp* g_app = nullptr;

}  // namespace

CWinApp::CWinApp(const wchar_t*) { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() { return ExitInstance(); }

int CWinApp::ExitInstance() { return m_exitCode; }

long CWinApp::ProcessWndProcException(CException* e, const AppMessage*) {
  e->Delete();
  return 0;
}

CWinApp* CWinApp::Current() { return g_app; }

int AfxWinMain() {
  CWinApp* app = CWinApp::Current();
  if (!app) return 0;
  try {
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
  } catch (CException* e) {
    app->ProcessWndProcException(e, nullptr);
  } catch (const std::bad_alloc&) {
    app->ProcessWndProcException(new CSimpleException(L"Out of memory."), nullptr);
  } catch (...) {
    app->ProcessWndProcException(new CSimpleException(L"Unexpected failure."), nullptr);
  }
  return app->ExitInstance();
}
