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
  // A privilege the token does not hold is no failure of the call: it
  // succeeds with ERROR_NOT_ALL_ASSIGNED, and nothing was enabled.
  if (!tokens.AdjustTokenPrivileges(token, luid, SE_PRIVILEGE_ENABLED) ||
      platform::GetLastErrorCode() == ERROR_NOT_ALL_ASSIGNED) {
    Log(Error, "AdjustTokenPrivileges Error");
    return false;
  }
  return true;
}
