#include "platform/DllSearch.h"

namespace platform {

DWORD RestrictDllSearchToSystem() { return ERROR_SUCCESS; }

}  // namespace platform
