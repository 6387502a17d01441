#include "Privilege.h"

#include "Log.h"
#include "platform/LastError.h"
#include "platform/Port.h"
#include "platform/Token.h"

bool EnablePrivilege(HANDLE token, const wchar_t* privilegeName) {
  platform::Token& tokens = platform::Use<platform::Token>();
  LUID luid{};
  if (!tokens.LookupPrivilege(privilegeName, &luid)) {
    Log(Error, "LookupPrivilegeValue Error");
    return false;
  }
  if (!tokens.AdjustTokenPrivileges(token, luid, SE_PRIVILEGE_ENABLED)) {
    Log(Error, "AdjustTokenPrivileges Error");
    return false;
  }
  // A privilege the token does not hold (a standard user's install) is no
  // failure of the call: it succeeds with ERROR_NOT_ALL_ASSIGNED. Callers
  // carry on either way, so the fact is told, not raised as an error.
  if (platform::GetLastErrorCode() == ERROR_NOT_ALL_ASSIGNED)
    Log(Info, "AdjustTokenPrivileges: %ls is not held by this token", privilegeName);
  return true;
}
