// Access-token port: the current process's token and its privileges.
#pragma once

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

  VELK_PORT(Token);
};

using TokenHandle = UniqueHandle<ClosedThrough<Token, &Token::CloseToken, NullInvalid<HANDLE>>>;

}  // namespace platform
