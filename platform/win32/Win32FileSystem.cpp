#include <shlwapi.h>

#include <cwchar>

#include "platform/FileSystem.h"

namespace platform {

namespace {

void FromWin32(const WIN32_FIND_DATAW& w, FindData* data) {
  data->attributes = w.dwFileAttributes;
  data->size = (static_cast<ULONGLONG>(w.nFileSizeHigh) << 32) | w.nFileSizeLow;
  data->lastWriteTime =
      (static_cast<ULONGLONG>(w.ftLastWriteTime.dwHighDateTime) << 32) | w.ftLastWriteTime.dwLowDateTime;
  data->reparseTag = (w.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? w.dwReserved0 : 0;
  std::wmemcpy(data->name, w.cFileName, MAX_PATH);
}

class Win32FileSystem : public FileSystem {
 public:
  HANDLE FindFirst(const wchar_t* pattern, FindData* data) override {
    WIN32_FIND_DATAW w;
    HANDLE h = FindFirstFileW(pattern, &w);
    if (h != INVALID_HANDLE_VALUE) FromWin32(w, data);
    return h;
  }
  BOOL FindNext(HANDLE find, FindData* data) override {
    WIN32_FIND_DATAW w;
    if (!FindNextFileW(find, &w)) return FALSE;
    FromWin32(w, data);
    return TRUE;
  }
  BOOL CloseFind(HANDLE find) override { return ::FindClose(find); }
  DWORD GetAttributes(const wchar_t* path) override { return GetFileAttributesW(path); }
  BOOL SetAttributes(const wchar_t* path, DWORD attributes) override { return SetFileAttributesW(path, attributes); }
  BOOL RemoveFile(const wchar_t* path) override { return DeleteFileW(path); }
  BOOL RemoveFolder(const wchar_t* path) override { return RemoveDirectoryW(path); }
  BOOL MakeFolder(const wchar_t* path) override { return CreateDirectoryW(path, nullptr); }
  BOOL MoveEntry(const wchar_t* from, const wchar_t* to) override { return MoveFileW(from, to); }
  BOOL CopyEntry(const wchar_t* from, const wchar_t* to, BOOL failIfExists) override {
    return CopyFileW(from, to, failIfExists);
  }
  BOOL PathExists(const wchar_t* path) override { return PathFileExistsW(path); }
  BOOL IsDirectory(const wchar_t* path) override { return PathIsDirectoryW(path) ? TRUE : FALSE; }
  BOOL IsSystemFolder(const wchar_t* path, DWORD attributes) override { return PathIsSystemFolderW(path, attributes); }
  DWORD ExpandEnvironment(const wchar_t* source, wchar_t* out, DWORD size) override {
    return ExpandEnvironmentStringsW(source, out, size);
  }
  HANDLE OpenFile(const wchar_t* path, DWORD access, DWORD disposition) override {
    return CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  BOOL ReadBytes(HANDLE file, void* buffer, DWORD bytes, DWORD* done) override {
    DWORD n = 0;
    BOOL ok = ReadFile(file, buffer, bytes, &n, nullptr);
    if (done) *done = n;
    return ok;
  }
  BOOL WriteBytes(HANDLE file, const void* buffer, DWORD bytes, DWORD* done) override {
    DWORD n = 0;
    BOOL ok = WriteFile(file, buffer, bytes, &n, nullptr);
    if (done) *done = n;
    return ok;
  }
  BOOL Seek(HANDLE file, LONGLONG distance, DWORD method, ULONGLONG* position) override {
    LARGE_INTEGER d, p;
    d.QuadPart = distance;
    if (!SetFilePointerEx(file, d, &p, method)) return FALSE;
    if (position) *position = static_cast<ULONGLONG>(p.QuadPart);
    return TRUE;
  }
  BOOL FileSize(HANDLE file, ULONGLONG* size) override {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(file, &s)) return FALSE;
    if (size) *size = static_cast<ULONGLONG>(s.QuadPart);
    return TRUE;
  }
  BOOL CloseFile(HANDLE file) override { return CloseHandle(file); }
  FILE* OpenStream(const char* ansiPath, const char* mode) override { return std::fopen(ansiPath, mode); }
};

class Win32KnownFolders : public KnownFolders {
 public:
  HRESULT GetFolderPath(int csidl, wchar_t* path) override {
    return SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  }
};

}  // namespace

FileSystem& FileSystem::Default() {
  static Win32FileSystem fs;
  return fs;
}

KnownFolders& KnownFolders::Default() {
  static Win32KnownFolders folders;
  return folders;
}

}  // namespace platform
