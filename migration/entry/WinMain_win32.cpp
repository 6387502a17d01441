#include "framework/WinApp.h"
#include "platform/DllSearch.h"

// Arguments are ignored: the program takes nothing from its command line.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything loads a DLL by name. A failure leaves the search as
  // Windows set it; the program still does its work.
  platform::RestrictDllSearchToSystem();
  return AfxWinMain();
}
