#include <shlwapi.h>

#include <cwchar>
#include <string>

#include "Win32OwnFile.h"
#include "platform/FileSystem.h"

namespace platform {

namespace {

// Paths from 248 characters on (CreateDirectoryW's limit; MAX_PATH for the
// others) reach the API in the "\\?\" form, which has no such limit. Shorter
// paths pass unchanged.
class ApiPath {
 public:
  explicit ApiPath(const wchar_t* path) : path_(path) {
    if (!path || std::wcslen(path) < 248 || std::wcsncmp(path, L"\\\\?\\", 4) == 0) return;
    std::wstring text(path);
    for (wchar_t& c : text)
      if (c == L'/') c = L'\\';
    if (text.size() > 2 && text[1] == L':' && text[2] == L'\\')
      long_ = L"\\\\?\\" + text;
    else if (text.size() > 2 && text[0] == L'\\' && text[1] == L'\\' && text[2] != L'?' && text[2] != L'.')
      long_ = L"\\\\?\\UNC\\" + text.substr(2);
    else
      return;
    path_ = long_.c_str();
  }
  operator const wchar_t*() const { return path_; }
  bool Long() const { return !long_.empty(); }

 private:
  const wchar_t* path_;
  std::wstring long_;
};

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
    HANDLE h = FindFirstFileW(ApiPath(pattern), &w);
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
  DWORD GetAttributes(const wchar_t* path) override { return GetFileAttributesW(ApiPath(path)); }
  BOOL SetAttributes(const wchar_t* path, DWORD attributes) override {
    return SetFileAttributesW(ApiPath(path), attributes);
  }
  BOOL RemoveFile(const wchar_t* path) override { return DeleteFileW(ApiPath(path)); }
  BOOL RemoveFolder(const wchar_t* path) override { return RemoveDirectoryW(ApiPath(path)); }
  BOOL MakeFolder(const wchar_t* path) override { return CreateDirectoryW(ApiPath(path), nullptr); }
  BOOL MoveEntry(const wchar_t* from, const wchar_t* to) override { return MoveFileW(ApiPath(from), ApiPath(to)); }
  BOOL CopyEntry(const wchar_t* from, const wchar_t* to, BOOL failIfExists) override {
    return CopyFileW(ApiPath(from), ApiPath(to), failIfExists);
  }
  BOOL ReplaceEntry(const wchar_t* from, const wchar_t* to) override {
    return MoveFileExW(ApiPath(from), ApiPath(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  // The path services stop at MAX_PATH: longer paths are tested on their
  // attributes, as those services do.
  BOOL PathExists(const wchar_t* path) override {
    ApiPath p(path);
    return p.Long() ? GetFileAttributesW(p) != INVALID_FILE_ATTRIBUTES : PathFileExistsW(path);
  }
  BOOL IsDirectory(const wchar_t* path) override {
    ApiPath p(path);
    if (!p.Long()) return PathIsDirectoryW(path) ? TRUE : FALSE;
    DWORD a = GetFileAttributesW(p);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? TRUE : FALSE;
  }
  BOOL IsSystemFolder(const wchar_t* path, DWORD attributes) override {
    ApiPath p(path);
    if (!path || !p.Long()) return PathIsSystemFolderW(path, attributes);
    DWORD a = GetFileAttributesW(p);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) &&
                   (a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM))
               ? TRUE
               : FALSE;
  }
  DWORD ExpandEnvironment(const wchar_t* source, wchar_t* out, DWORD size) override {
    return ExpandEnvironmentStringsW(source, out, size);
  }
  HANDLE OpenFile(const wchar_t* path, DWORD access, DWORD disposition) override {
    return CreateFileW(ApiPath(path), access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
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
  HANDLE OpenFileShared(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) override {
    return CreateFileW(path, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  HANDLE OpenOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) override {
    return OpenOwnFileW(path, access, share, disposition);
  }
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
