// Failures of the device and connection calls as HRESULTs.
#pragma once

#include "platform/Hresult.h"
#include "platform/LastError.h"

// HRESULT_FROM_WIN32 of the thread's last error; SetupAPI's 0xE000xxxx
// codes pass unchanged. A call that failed without setting an error must
// still count as a failure.
inline HRESULT HresultFromLastError() {
  DWORD error = platform::GetLastErrorCode();
  return error == ERROR_SUCCESS ? E_FAIL : platform::HresultFromWin32(error);
}

inline bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// HRESULT_FROM_WIN32(ERROR_DATATYPE_MISMATCH)
constexpr HRESULT kDataTypeMismatch = static_cast<HRESULT>(0x8007065Du);
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002u);
// HRESULT_FROM_WIN32(ERROR_SUCCESS_REBOOT_REQUIRED)
constexpr HRESULT kRebootRequired = static_cast<HRESULT>(0x80070BC2u);
