// Tokens on the host: one token for the process, of the machine's user, in
// which every known privilege is held and enabled.
#include <cwchar>

#include "platform/LastError.h"
#include "platform/Token.h"
#include "platform/host/machine/Machine.h"

namespace platform {

namespace {

struct Privilege {
  const wchar_t* name;
  DWORD luid;
};

// The locally unique ids Windows assigns to these privileges.
const Privilege kPrivileges[] = {
    {L"SeCreateTokenPrivilege", 2},   {L"SeAssignPrimaryTokenPrivilege", 3},
    {L"SeLockMemoryPrivilege", 4},    {L"SeIncreaseQuotaPrivilege", 5},
    {L"SeTcbPrivilege", 7},           {L"SeSecurityPrivilege", 8},
    {L"SeTakeOwnershipPrivilege", 9}, {L"SeLoadDriverPrivilege", 10},
    {L"SeSystemtimePrivilege", 12},   {L"SeBackupPrivilege", 17},
    {L"SeRestorePrivilege", 18},      {L"SeShutdownPrivilege", 19},
    {L"SeDebugPrivilege", 20},        {L"SeChangeNotifyPrivilege", 23},
    {L"SeImpersonatePrivilege", 29},
};

int g_token;  // its address is the one token handle

class HostToken : public Token {
 public:
  BOOL OpenProcessToken(DWORD access, HANDLE* token) override {
    if (!token) return Fail(ERROR_INVALID_PARAMETER);
    *token = &g_token;
    return TRUE;
  }
  BOOL LookupPrivilege(const wchar_t* name, LUID* luid) override {
    if (!name || !luid) return Fail(ERROR_INVALID_PARAMETER);
    for (const auto& p : kPrivileges) {
      if (std::wcscmp(p.name, name) == 0) {
        luid->LowPart = p.luid;
        luid->HighPart = 0;
        return TRUE;
      }
    }
    return Fail(ERROR_NO_SUCH_PRIVILEGE);
  }
  BOOL AdjustTokenPrivileges(HANDLE token, const LUID& luid, DWORD attributes) override {
    if (token != &g_token) return Fail(ERROR_INVALID_HANDLE);
    SetLastErrorCode(ERROR_SUCCESS);
    return TRUE;
  }
  BOOL CloseToken(HANDLE token) override { return token == &g_token ? TRUE : Fail(ERROR_INVALID_HANDLE); }
  // The machine's current user.
  BOOL CurrentUserSid(std::wstring* sid) override {
    if (!sid) return Fail(ERROR_INVALID_PARAMETER);
    const host::Machine* m = host::Machine::Current();
    if (!m || m->Config().user.empty()) return Fail(ERROR_NO_TOKEN);
    *sid = m->Config().user;
    return TRUE;
  }

 private:
  static BOOL Fail(DWORD code) {
    SetLastErrorCode(code);
    return FALSE;
  }
};

}  // namespace

Token& Token::Default() {
  static HostToken token;
  return token;
}

}  // namespace platform
