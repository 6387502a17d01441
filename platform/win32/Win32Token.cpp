#include "platform/Token.h"

namespace platform {

namespace {

class Win32Token : public Token {
 public:
  BOOL OpenProcessToken(DWORD access, HANDLE* token) override {
    return ::OpenProcessToken(GetCurrentProcess(), access, token);
  }
  BOOL LookupPrivilege(const wchar_t* name, LUID* luid) override { return LookupPrivilegeValueW(nullptr, name, luid); }
  BOOL AdjustTokenPrivileges(HANDLE token, const LUID& luid, DWORD attributes) override {
    TOKEN_PRIVILEGES tp = {};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Luid = luid;
    tp.Privileges[0].Attributes = attributes;
    return ::AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr);
  }
  BOOL CloseToken(HANDLE token) override { return CloseHandle(token); }
};

}  // namespace

Token& Token::Default() {
  static Win32Token token;
  return token;
}

}  // namespace platform
