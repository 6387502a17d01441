// The application framework's exceptions: allocated on the heap, thrown as
// pointers, caught as CException* and released with Delete().
#pragma once

#include <string>

#include "platform/WinTypes.h"

class CException {
 public:
  explicit CException(BOOL autoDelete = TRUE) : m_bAutoDelete(autoDelete) {}
  virtual ~CException() = default;
  CException(const CException&) = delete;
  CException& operator=(const CException&) = delete;

  // Copies the exception's text into buffer (at most maximum characters
  // with the terminator); FALSE when it has none.
  virtual BOOL GetErrorMessage(wchar_t* buffer, UINT maximum, UINT* helpContext = nullptr) const;
  // Frees an exception caught by pointer, when it frees itself.
  void Delete();

 protected:
  BOOL m_bAutoDelete;
};

// An exception that carries only its text (for failures of the run time
// that reach the application's last-resort handler).
class CSimpleException : public CException {
 public:
  explicit CSimpleException(std::wstring message) : m_message(std::move(message)) {}
  BOOL GetErrorMessage(wchar_t* buffer, UINT maximum, UINT* helpContext = nullptr) const override;

 private:
  std::wstring m_message;
};

// A failed file operation: its cause, the system error and the file name.
class CFileException : public CException {
 public:
  enum {
    none,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile,
  };

  explicit CFileException(int cause = none, LONG osError = -1, const wchar_t* fileName = nullptr);
  // The cause that a Windows error code stands for.
  static int OsErrorToException(LONG osError);
  // Throws a new CFileException for the system error on the file.
  [[noreturn]] static void ThrowOsError(LONG osError, const wchar_t* fileName);

  // "<what happened to the file> (system error <n>)"
  BOOL GetErrorMessage(wchar_t* buffer, UINT maximum, UINT* helpContext = nullptr) const override;

  int m_cause;
  LONG m_lOsError;
  std::wstring m_strFileName;
};

// Copies text into buffer, cut to maximum - 1 characters and terminated.
BOOL CopyErrorText(const std::wstring& text, wchar_t* buffer, UINT maximum);
