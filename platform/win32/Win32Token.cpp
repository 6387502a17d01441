#include <memory>
#include <vector>

#include "platform/Token.h"

// After windows.h (through Token.h), which it needs.
#include <sddl.h>

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
  BOOL CurrentUserSid(std::wstring* sid) override {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return FALSE;
    std::unique_ptr<void, BOOL(WINAPI*)(HANDLE)> token(raw, &CloseHandle);
    DWORD size = 0;
    if (GetTokenInformation(raw, TokenUser, nullptr, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return FALSE;
    std::vector<BYTE> user(size);
    if (!GetTokenInformation(raw, TokenUser, user.data(), size, &size)) return FALSE;
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &text)) return FALSE;
    std::unique_ptr<WCHAR, HLOCAL(WINAPI*)(HLOCAL)> owned(text, &LocalFree);
    sid->assign(text);
    return TRUE;
  }
};

}  // namespace

Token& Token::Default() {
  static Win32Token token;
  return token;
}

}  // namespace platform
