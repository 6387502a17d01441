#include "Win32OwnFile.h"

namespace platform {

namespace {

// Truncation would reach every name of a hard-linked file: it waits for the
// check, so the open itself never changes a byte.
DWORD OpenDisposition(DWORD disposition) {
  switch (disposition) {
    case CREATE_ALWAYS: return OPEN_ALWAYS;
    case TRUNCATE_EXISTING: return OPEN_EXISTING;
    default: return disposition;
  }
}

HANDLE KeepIfOwn(HANDLE file, DWORD disposition) {
  if (file == INVALID_HANDLE_VALUE) return file;
  DWORD opened = GetLastError();
  BY_HANDLE_FILE_INFORMATION info;
  DWORD refused = ERROR_SUCCESS;
  if (GetFileType(file) != FILE_TYPE_DISK) {
    refused = ERROR_ACCESS_DENIED;
  } else if (!GetFileInformationByHandle(file, &info)) {
    refused = GetLastError();
  } else if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
             info.nNumberOfLinks != 1) {
    refused = ERROR_ACCESS_DENIED;
  } else if ((disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) && !SetEndOfFile(file)) {
    refused = GetLastError();
  }
  if (refused != ERROR_SUCCESS) {
    CloseHandle(file);
    SetLastError(refused);
    return INVALID_HANDLE_VALUE;
  }
  SetLastError(opened);
  return file;
}

}  // namespace

HANDLE OpenOwnFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
  return KeepIfOwn(CreateFileW(path, access, share, nullptr, OpenDisposition(disposition),
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                   disposition);
}

HANDLE OpenOwnFileA(const char* path, DWORD access, DWORD share, DWORD disposition) {
  return KeepIfOwn(CreateFileA(path, access, share, nullptr, OpenDisposition(disposition),
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
                   disposition);
}

}  // namespace platform
