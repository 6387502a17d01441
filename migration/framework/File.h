// The framework's file class and file finder over the file-system port.
#pragma once

#include <string>

#include "framework/Exceptions.h"
#include "platform/WinTypes.h"

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareExclusive = 0x0010,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    // Not the framework's: only a regular file with one link is opened, never
    // one reached through a symbolic link, junction or second hard link
    // (refused with ERROR_ACCESS_DENIED).
    modeOwnFile = 0x10000000,
  };

  CFile() = default;
  ~CFile();  // closes without reporting
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Opens without sharing; modeCreate creates or truncates the file unless
  // modeNoTruncate is given. On failure returns FALSE and, when error is
  // given, fills it with the cause, the system error and the file name.
  BOOL Open(const wchar_t* fileName, UINT openFlags, CFileException* error = nullptr);
  // Read and Write throw CFileException* on failure; Read returns the bytes
  // read (0 at the end).
  UINT Read(void* buffer, UINT count);
  void Write(const void* buffer, UINT count);
  // Closes the file; throws CFileException* when the close fails.
  void Close();
  // Closes the file without reporting anything.
  void Abort();

 private:
  HANDLE m_handle = INVALID_HANDLE_VALUE;
  std::wstring m_path;
};

class CFileFind {
 public:
  CFileFind() = default;
  ~CFileFind() { Close(); }
  CFileFind(const CFileFind&) = delete;
  CFileFind& operator=(const CFileFind&) = delete;

  // TRUE when a file-system entry (file or folder) matches name, which may
  // hold the wildcards '*' and '?'.
  BOOL FindFile(const wchar_t* name);
  void Close();

 private:
  HANDLE m_find = INVALID_HANDLE_VALUE;
};
