// RedirectionGuard: with it in force, Windows refuses to follow junctions
// that non-administrators made (Windows 10 22H2 and Windows 11). Older
// systems lack the policy, so the kit never relies on it alone.
#include <windows.h>

#include "platform/Runtime.h"

namespace platform {

DWORD EnforceRedirectionTrust() {
  // Resolved at run time: the functions are newer than Windows 7.
  using SetPolicyFn = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
  using GetPolicyFn = BOOL(WINAPI*)(HANDLE, PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto set =
      kernel
          ? reinterpret_cast<SetPolicyFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessMitigationPolicy")))
          : nullptr;
  auto get =
      kernel
          ? reinterpret_cast<GetPolicyFn>(reinterpret_cast<void*>(GetProcAddress(kernel, "GetProcessMitigationPolicy")))
          : nullptr;
  if (!set || !get) return ERROR_PROC_NOT_FOUND;
  DWORD flags = 1;  // EnforceRedirectionTrust
  if (!set(ProcessRedirectionTrustPolicy, &flags, sizeof flags)) return GetLastError();
  // Only what the process reports back counts: a system that accepts the
  // call without the policy must not be said to enforce it.
  DWORD now = 0;
  if (!get(GetCurrentProcess(), ProcessRedirectionTrustPolicy, &now, sizeof now) || !(now & 1))
    return ERROR_NOT_SUPPORTED;
  return ERROR_SUCCESS;
}

}  // namespace platform
