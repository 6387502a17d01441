#include "framework/File.h"

#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Port.h"

namespace {

platform::FileSystem& Fs() { return platform::Use<platform::FileSystem>(); }

}  // namespace

CFile::~CFile() { Abort(); }

BOOL CFile::Open(const wchar_t* fileName, UINT openFlags, CFileException* error) {
  Abort();
  DWORD access = 0;
  switch (openFlags & 3) {
    case modeRead: access = GENERIC_READ; break;
    case modeWrite: access = GENERIC_WRITE; break;
    default: access = GENERIC_READ | GENERIC_WRITE; break;
  }
  DWORD disposition = OPEN_EXISTING;
  if (openFlags & modeCreate) disposition = (openFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
  // The framework's default share mode lets nobody else in.
  HANDLE h = (openFlags & modeOwnFile) ? Fs().OpenOwnFile(fileName, access, 0, disposition)
                                       : Fs().OpenFileShared(fileName, access, 0, disposition);
  if (h == INVALID_HANDLE_VALUE) {
    LONG code = static_cast<LONG>(platform::GetLastErrorCode());
    if (error) {
      error->m_cause = CFileException::OsErrorToException(code);
      error->m_lOsError = code;
      error->m_strFileName = fileName ? fileName : L"";
    }
    return FALSE;
  }
  m_handle = h;
  m_path = fileName;
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  if (count == 0) return 0;
  DWORD done = 0;
  if (!Fs().ReadBytes(m_handle, buffer, count, &done))
    CFileException::ThrowOsError(static_cast<LONG>(platform::GetLastErrorCode()), m_path.c_str());
  return done;
}

void CFile::Write(const void* buffer, UINT count) {
  if (count == 0) return;
  DWORD done = 0;
  if (!Fs().WriteBytes(m_handle, buffer, count, &done))
    CFileException::ThrowOsError(static_cast<LONG>(platform::GetLastErrorCode()), m_path.c_str());
  // A short write means the disk is full.
  if (done != count) CFileException::ThrowOsError(ERROR_DISK_FULL, m_path.c_str());
}

void CFile::Close() {
  if (m_handle == INVALID_HANDLE_VALUE) return;
  HANDLE h = m_handle;
  m_handle = INVALID_HANDLE_VALUE;
  if (!Fs().CloseFile(h)) CFileException::ThrowOsError(static_cast<LONG>(platform::GetLastErrorCode()), m_path.c_str());
}

void CFile::Abort() {
  if (m_handle == INVALID_HANDLE_VALUE) return;
  Fs().CloseFile(m_handle);
  m_handle = INVALID_HANDLE_VALUE;
}

BOOL CFileFind::FindFile(const wchar_t* name) {
  Close();
  platform::FindData data;
  m_find = Fs().FindFirst(name, &data);
  return m_find != INVALID_HANDLE_VALUE;
}

void CFileFind::Close() {
  if (m_find == INVALID_HANDLE_VALUE) return;
  Fs().CloseFind(m_find);
  m_find = INVALID_HANDLE_VALUE;
}
