// The application base of a program without windows: the entry point
// constructs nothing itself; it drives the one application object through
// its start hook, its exit hook and, for an exception that escapes them,
// the escaped-exception hook.
#pragma once

#include "framework/Exceptions.h"
#include "platform/WinTypes.h"

struct AppMessage;  // a window message; the program has no windows

class CWinApp {
 public:
  explicit CWinApp(const wchar_t* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Start hook: TRUE to go on into the message loop.
  virtual BOOL InitInstance();
  // Message loop: a program without windows has no messages, so it ends at
  // once with the exit hook's code.
  virtual int Run();
  // Exit hook: the process exit code.
  virtual int ExitInstance();
  // Called with an exception that escaped a hook; the default shows nothing
  // and ends the run.
  virtual long ProcessWndProcException(CException* e, const AppMessage* message);

  // The application object of the process (the last one constructed).
  static CWinApp* Current();

 protected:
  int m_exitCode = 0;  // what a WM_QUIT would carry; never set without messages
};

// The framework's entry: drives the application object; returns the exit code.
int AfxWinMain();
