// Start-up and per-action runtime work that differs by platform.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/WinTypes.h"

namespace platform {

// COM on the calling thread for the length of an action: an apartment
// (single-threaded) is entered on construction and left on destruction
// when entering succeeded, S_FALSE included. Never at load time: COM must
// not start under the loader lock. Nothing on the host.
class ComApartment {
 public:
  ComApartment();
  ~ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  [[maybe_unused]] bool initialized_ = false;
};

// Turns on RedirectionGuard for the process (SetProcessMitigationPolicy,
// ProcessRedirectionTrustPolicy, EnforceRedirectionTrust) and reads it back:
// ERROR_SUCCESS when in force, ERROR_PROC_NOT_FOUND where Windows has no
// such call (and on the host), ERROR_NOT_SUPPORTED when the call was taken
// but the policy is not in force, else the call's error.
DWORD EnforceRedirectionTrust();

// The length of one action for the platform's stand-ins: the host registry
// writes each hive the action changed once, when the outermost scope ends,
// instead of once for every change. Nothing on Windows.
class ActionScope {
 public:
  ActionScope();
  ~ActionScope();
  ActionScope(const ActionScope&) = delete;
  ActionScope& operator=(const ActionScope&) = delete;
};

// setlocale(LC_ALL, "") so that wide text formats into narrow text through
// the user's code page.
void SetLocaleFromEnvironment();
// vsnprintf for the kit's narrow text: wide arguments (%ls, %S, %lc) come
// out in the ANSI code page, as the Windows runtime writes them.
int FormatAnsi(char* buffer, size_t size, const char* format, va_list args);

}  // namespace platform
