// The migration program's exceptions: heap-allocated, thrown as pointers,
// caught as CException* by the run's one handler.
#pragma once

#include <string>

#include "framework/Exceptions.h"
#include "velkras2/RasError.h"

class AppException : public CException {
 public:
  // The message reads "0x<last system error> <message> @<function> at
  // <file base name> line <line>"; the last error is read here.
  AppException(const char* function, const char* file, unsigned line, const wchar_t* message);
  ~AppException() override;
  BOOL GetErrorMessage(wchar_t* buffer, UINT maximum, UINT* helpContext = nullptr) const override;

 protected:
  // For derived exceptions that compose their message themselves.
  explicit AppException(std::wstring message);

 private:
  std::wstring m_message;
};

// An error record of the support library: "0x<code>: <message> @<location>".
class RasException : public AppException {
 public:
  explicit RasException(const RasError* error);
};
