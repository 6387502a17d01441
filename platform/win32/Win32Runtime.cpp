#include <objbase.h>

#include <clocale>

#include "platform/LastError.h"
#include "platform/Runtime.h"

namespace platform {

void InitializeCom() { CoInitialize(nullptr); }
void SetLocaleFromEnvironment() { std::setlocale(LC_ALL, ""); }

DWORD GetLastErrorCode() { return GetLastError(); }
void SetLastErrorCode(DWORD code) { SetLastError(code); }

}  // namespace platform
