#include "Privilege.h"

#include "Log.h"
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
  return true;
}
