#pragma once

#include "platform/WinTypes.h"

// Enables one named privilege in a token opened for adjustment; true when
// the adjustment call succeeded.
bool EnablePrivilege(HANDLE token, const wchar_t* privilegeName);
