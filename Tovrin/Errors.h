// Failures inside Tovrin: every outcome is an HRESULT, every failed call is
// logged the same way, and exceptions end at the edge of an action.
#pragma once

#include <new>

#include "Log.h"
#include "platform/Hresult.h"
#include "platform/LastError.h"

// A failure raised as an HRESULT inside an action and caught at its edge.
struct HresultException {
  HRESULT hr;
};

[[noreturn]] inline void ThrowHresult(HRESULT hr) { throw HresultException{hr}; }

// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80070002u);
// HRESULT_FROM_WIN32(ERROR_DATATYPE_MISMATCH)
constexpr HRESULT kDataTypeMismatch = static_cast<HRESULT>(0x8007065Du);
// HRESULT_FROM_WIN32(ERROR_SUCCESS_REBOOT_REQUIRED)
constexpr HRESULT kRebootRequired = static_cast<HRESULT>(0x80070BC2u);
// The single-instance mutex exists: installer error 25001.
constexpr HRESULT kAlreadyRunning = static_cast<HRESULT>(0x8000400Eu);
// CERT_E_WRONG_USAGE: a certificate the setup needs cannot serve its
// purpose; installer error 25003 ("could not use a certificate").
constexpr HRESULT kCertificateWrongUsage = static_cast<HRESULT>(0x800B0110u);

// HRESULT_FROM_WIN32 of the thread's last error; SetupAPI's 0xE000xxxx
// codes pass unchanged. A call that failed without setting an error still
// counts as a failure (E_FAIL).
inline HRESULT HresultFromLastError() {
  DWORD error = platform::GetLastErrorCode();
  return error == ERROR_SUCCESS ? E_FAIL : platform::HresultFromWin32(error);
}

// The plain conversion, where a zero last error stays S_OK: for warnings
// that print the error as the call left it.
inline HRESULT PlainHresultFromLastError() { return platform::HresultFromWin32(platform::GetLastErrorCode()); }

// Logs "<call>() = <error text>" and returns hr.
inline HRESULT LogFailedCall(int level, const char* call, HRESULT hr) {
  Log(level, "%s() = %s", call, ErrorText(hr).c_str());
  return hr;
}

// The same for a call that left its failure in the last error.
inline HRESULT LogFailedCall(int level, const char* call) { return LogFailedCall(level, call, HresultFromLastError()); }

// Logs "<call> Error(<status>)": the line of a registry call that failed
// with the LSTATUS it returned.
inline void LogRegError(const char* call, LSTATUS status) {
  Log(Error, "%s Error(%d)", call, static_cast<int>(status));
}

// Writes the error text of hr as an Error line; returns hr.
inline HRESULT LogError(HRESULT hr) {
  g_logger.WriteText(Error, ErrorText(hr).c_str());
  return hr;
}

// Runs body and turns an exception into a result: exhausted memory into
// E_OUTOFMEMORY, an HresultException into its HRESULT, anything else into
// other. onCaught sees that result and gives the one returned.
template <class Body, class OnCaught>
HRESULT CatchToHresult(Body&& body, HRESULT other, OnCaught&& onCaught) noexcept {
  HRESULT caught = S_OK;
  try {
    return body();
  } catch (const std::bad_alloc&) {
    caught = E_OUTOFMEMORY;
  } catch (const HresultException& e) {
    caught = e.hr;
  } catch (...) {
    caught = other;
  }
  try {
    return onCaught(caught);
  } catch (...) {
    return caught;
  }
}

template <class Body>
HRESULT CatchToHresult(Body&& body, HRESULT other = E_UNEXPECTED) noexcept {
  return CatchToHresult(static_cast<Body&&>(body), other, [](HRESULT hr) { return hr; });
}

// Runs body, turning an escaping exception into a failure result.
template <class R, class Body>
R NoThrow(R failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}
