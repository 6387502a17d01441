#include "framework/WinApp.h"
#include "platform/Runtime.h"

// Arguments are ignored: the program takes nothing from its command line.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything loads a DLL by name. It fails only on a Windows older
  // than the client supports, and then the program still does its work.
  platform::RestrictDllSearchToSystem();
  return AfxWinMain();
}
