// Access-token port: the current process's token, its user and its
// privileges.
#pragma once

#include <string>

#include "platform/Port.h"
#include "platform/UniqueHandle.h"
#include "platform/WinTypes.h"

namespace platform {

class Token {
 public:
  virtual ~Token() = default;
  // OpenProcessToken(GetCurrentProcess(), access): FALSE with the last error.
  virtual BOOL OpenProcessToken(DWORD access, HANDLE* token) = 0;
  // LookupPrivilegeValueW with no system name.
  virtual BOOL LookupPrivilege(const wchar_t* name, LUID* luid) = 0;
  // AdjustTokenPrivileges with one entry, no previous state.
  virtual BOOL AdjustTokenPrivileges(HANDLE token, const LUID& luid, DWORD attributes) = 0;
  virtual BOOL CloseToken(HANDLE token) = 0;
  // The string SID of the process token's user ("S-1-5-21-..."), from
  // GetTokenInformation(TokenUser) and ConvertSidToStringSidW; FALSE with
  // the last error. The default is the build's adapter.
  virtual BOOL CurrentUserSid(std::wstring* sid);
  // RedirectionGuard for the process (EnforceRedirectionTrust in
  // Runtime.h): ERROR_SUCCESS when in force, else why not. The default is
  // the build's.
  virtual DWORD EnforceRedirectionTrust();

  VELK_PORT(Token);
};

using TokenHandle = UniqueHandle<ClosedThrough<Token, &Token::CloseToken, NullInvalid<HANDLE>>>;

}  // namespace platform
