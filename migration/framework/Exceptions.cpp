#include "framework/Exceptions.h"

#include <cwchar>

BOOL CopyErrorText(const std::wstring& text, wchar_t* buffer, UINT maximum) {
  if (!buffer || maximum == 0) return FALSE;
  size_t n = text.size() < maximum - 1 ? text.size() : maximum - 1;
  std::wmemcpy(buffer, text.data(), n);
  buffer[n] = L'\0';
  return TRUE;
}

BOOL CException::GetErrorMessage(wchar_t* buffer, UINT maximum, UINT* helpContext) const {
  if (helpContext) *helpContext = 0;
  if (buffer && maximum) buffer[0] = L'\0';
  return FALSE;
}

void CException::Delete() {
  if (m_bAutoDelete) delete this;
}

BOOL CSimpleException::GetErrorMessage(wchar_t* buffer, UINT maximum, UINT* helpContext) const {
  if (helpContext) *helpContext = 0;
  return CopyErrorText(m_message, buffer, maximum);
}

CFileException::CFileException(int cause, LONG osError, const wchar_t* fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName ? fileName : L"") {}

int CFileException::OsErrorToException(LONG osError) {
  switch (osError) {
    case 0: return none;
    case ERROR_FILE_NOT_FOUND: return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE: return badPath;
    case 4: return tooManyOpenFiles;  // ERROR_TOO_MANY_OPEN_FILES
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return accessDenied;
    case ERROR_INVALID_HANDLE: return invalidFile;
    case 16: return removeCurrentDir;  // ERROR_CURRENT_DIRECTORY
    case ERROR_NEGATIVE_SEEK: return badSeek;
    case ERROR_GEN_FAILURE: return hardIO;
    case ERROR_SHARING_VIOLATION: return sharingViolation;
    case ERROR_LOCK_VIOLATION: return lockViolation;
    case ERROR_DISK_FULL: return diskFull;
    case ERROR_HANDLE_EOF: return endOfFile;
    default: return genericException;
  }
}

void CFileException::ThrowOsError(LONG osError, const wchar_t* fileName) {
  throw new CFileException(OsErrorToException(osError), osError, fileName);
}

BOOL CFileException::GetErrorMessage(wchar_t* buffer, UINT maximum, UINT* helpContext) const {
  if (helpContext) *helpContext = 0;
  const std::wstring& f = m_strFileName.empty() ? std::wstring(L"an unnamed file") : m_strFileName;
  std::wstring text;
  switch (m_cause) {
    case none: text = L"No error occurred while accessing " + f + L"."; break;
    case fileNotFound: text = f + L" was not found."; break;
    case badPath: text = f + L" contains an invalid path."; break;
    case tooManyOpenFiles: text = f + L" could not be opened because there are too many open files."; break;
    case accessDenied: text = L"Access to " + f + L" was denied."; break;
    case invalidFile: text = L"An invalid file handle was associated with " + f + L"."; break;
    case removeCurrentDir: text = f + L" could not be removed because it is the current directory."; break;
    case directoryFull: text = f + L" could not be created because the directory is full."; break;
    case badSeek: text = L"Seek failed on " + f + L"."; break;
    case hardIO: text = L"A hardware I/O error was reported while accessing " + f + L"."; break;
    case sharingViolation: text = L"A sharing violation occurred while accessing " + f + L"."; break;
    case lockViolation: text = L"A locking violation occurred while accessing " + f + L"."; break;
    case diskFull: text = L"Disk full while accessing " + f + L"."; break;
    case endOfFile: text = L"An attempt was made to access " + f + L" past its end."; break;
    default: text = L"An unexpected error occurred while accessing " + f + L"."; break;
  }
  if (m_lOsError > 0) text += L" (system error " + std::to_wstring(m_lOsError) + L")";
  return CopyErrorText(text, buffer, maximum);
}
