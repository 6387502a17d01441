// An export that does nothing: a place to attach a debugger to the module.
#include "platform/Export.h"

VELK_EXPORT UINT WINAPI DebugEntryPointW(HWND, HINSTANCE, LPWSTR, int) { return 0; }
