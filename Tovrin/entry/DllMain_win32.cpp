// Load-time work of Tovrin64.dll.
#include <windows.h>

#include "../TovrinModule.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    OnTovrinProcessAttach();
  }
  return TRUE;
}
