#include <shlwapi.h>
#include <winternl.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "Win32OwnFile.h"
#include "platform/FileSystem.h"
#include "platform/NamePatterns.h"

// ntdll's directory query, which winternl.h does not declare.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE file, HANDLE event, PVOID apcRoutine, PVOID apcContext,
                                               PIO_STATUS_BLOCK io, PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS informationClass, BOOLEAN singleEntry,
                                               PUNICODE_STRING fileName, BOOLEAN restartScan);

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

// FILE_FULL_DIR_INFORMATION (NtQueryDirectoryFile, class 2): EaSize holds
// the reparse tag of an entry that is a reparse point.
struct FullDirInformation {
  ULONG NextEntryOffset;
  ULONG FileIndex;
  LARGE_INTEGER CreationTime;
  LARGE_INTEGER LastAccessTime;
  LARGE_INTEGER LastWriteTime;
  LARGE_INTEGER ChangeTime;
  LARGE_INTEGER EndOfFile;
  LARGE_INTEGER AllocationSize;
  ULONG FileAttributes;
  ULONG FileNameLength;
  ULONG EaSize;
  WCHAR FileName[1];
};
constexpr FILE_INFORMATION_CLASS kFileFullDirectoryInformation = static_cast<FILE_INFORMATION_CLASS>(2);

// Read-type rights only: a folder held with them, shared for reading and
// writing but not for deletion, can be neither renamed nor removed by
// others, and does not stand in the way of their ordinary opens.
constexpr ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr ULONG kAnyShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

BOOL FailStatus(NTSTATUS status) {
  SetLastError(RtlNtStatusToDosError(status));
  return FALSE;
}

// NtCreateFile of name inside folder, never following a link at name.
HANDLE OpenIn(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options) {
  if (!name || !*name || std::wcspbrk(name, L"\\/")) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name);
  text.Length = static_cast<USHORT>(std::wcslen(name) * sizeof(WCHAR));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE h = INVALID_HANDLE_VALUE;
  NTSTATUS status =
      NtCreateFile(&h, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                   options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (status < 0) {
    FailStatus(status);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// The attributes (FILE_ATTRIBUTE_REPARSE_POINT included) as an open handle sees them.
DWORD HandleAttributes(HANDLE h) {
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) return INVALID_FILE_ATTRIBUTES;
  return tag.FileAttributes;
}

// One directory read into buffer through a fresh handle of folder (its own
// scan position); mask null lists every entry. False with the last error;
// ERROR_NO_MORE_FILES at the end.
class DirectoryScan {
 public:
  explicit DirectoryScan(HANDLE folder)
      : dir_(ReOpenFile(folder, FILE_LIST_DIRECTORY | SYNCHRONIZE, kAnyShare,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT)),
        buffer_(64 * 1024) {}
  ~DirectoryScan() {
    if (dir_ != INVALID_HANDLE_VALUE) CloseHandle(dir_);
  }
  DirectoryScan(const DirectoryScan&) = delete;
  DirectoryScan& operator=(const DirectoryScan&) = delete;

  // The next entry, or null at the end or on failure (last error set).
  const FullDirInformation* Next(const wchar_t* mask = nullptr) {
    if (dir_ == INVALID_HANDLE_VALUE) return nullptr;
    if (entry_ && entry_->NextEntryOffset) {
      entry_ =
          reinterpret_cast<const FullDirInformation*>(reinterpret_cast<const BYTE*>(entry_) + entry_->NextEntryOffset);
      return entry_;
    }
    UNICODE_STRING text{};
    if (mask) {
      text.Buffer = const_cast<PWSTR>(mask);
      text.Length = static_cast<USHORT>(std::wcslen(mask) * sizeof(WCHAR));
      text.MaximumLength = text.Length;
    }
    IO_STATUS_BLOCK io;
    NTSTATUS status =
        NtQueryDirectoryFile(dir_, nullptr, nullptr, nullptr, &io, buffer_.data(), static_cast<ULONG>(buffer_.size()),
                             kFileFullDirectoryInformation, FALSE, mask ? &text : nullptr, first_ ? TRUE : FALSE);
    first_ = false;
    if (status < 0) {
      FailStatus(status);
      if (GetLastError() == ERROR_FILE_NOT_FOUND) SetLastError(ERROR_NO_MORE_FILES);
      return entry_ = nullptr;
    }
    return entry_ = reinterpret_cast<const FullDirInformation*>(buffer_.data());
  }

 private:
  HANDLE dir_;
  std::vector<BYTE> buffer_;
  const FullDirInformation* entry_ = nullptr;
  bool first_ = true;
};

std::wstring NameOf(const FullDirInformation& e) { return std::wstring(e.FileName, e.FileNameLength / sizeof(WCHAR)); }

// The attributes the folder lists for name: Wine shows a Unix symbolic
// link as a reparse point only there, not through a handle opened on it.
DWORD ListedAttributes(HANDLE folder, const wchar_t* name) {
  DirectoryScan scan(folder);
  const FullDirInformation* e = scan.Next(name);
  return e ? e->FileAttributes : 0;
}

// A search over an open folder (FindFirstIn): entries matched here, with
// FindFirstFileW's rules, since the mask rules of file systems differ.
struct FolderSearch {
  explicit FolderSearch(HANDLE folder, std::wstring_view pattern) : scan(folder), pattern(TranslatePattern(pattern)) {}
  bool Next(FindData* data) {
    while (const FullDirInformation* e = scan.Next()) {
      std::wstring name = NameOf(*e);
      if (name.size() >= MAX_PATH || !MatchTranslated(pattern, name)) continue;
      *data = FindData{};
      data->attributes = e->FileAttributes;
      data->size = static_cast<ULONGLONG>(e->EndOfFile.QuadPart);
      data->lastWriteTime = static_cast<ULONGLONG>(e->LastWriteTime.QuadPart);
      data->reparseTag = (e->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? e->EaSize : 0;
      std::wmemcpy(data->name, name.c_str(), name.size() + 1);
      return true;
    }
    return false;
  }
  DirectoryScan scan;
  std::wstring pattern;
};

// An entry of folder that is no link as the handle or the folder's listing
// sees it; a link is ERROR_ACCESS_DENIED.
HANDLE OpenNoLinkIn(HANDLE folder, const wchar_t* name, ACCESS_MASK access) {
  HANDLE h = OpenIn(folder, name, access, kAnyShare, FILE_OPEN, 0);
  if (h == INVALID_HANDLE_VALUE) return h;
  DWORD a = HandleAttributes(h);
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_REPARSE_POINT) ||
      (ListedAttributes(folder, name) & FILE_ATTRIBUTE_REPARSE_POINT)) {
    CloseHandle(h);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

// Marks an open entry for deletion; it goes when the handle closes.
BOOL DeleteOpen(HANDLE h) {
  FILE_DISPOSITION_INFO disposition{TRUE};
  BOOL ok = SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
  DWORD error = GetLastError();
  CloseHandle(h);
  SetLastError(ok ? ERROR_SUCCESS : error);
  return ok;
}

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
    if (FolderSearch* search = Lookup(find)) {
      if (search->Next(data)) return TRUE;
      SetLastError(ERROR_NO_MORE_FILES);
      return FALSE;
    }
    WIN32_FIND_DATAW w;
    if (!FindNextFileW(find, &w)) return FALSE;
    FromWin32(w, data);
    return TRUE;
  }
  BOOL CloseFind(HANDLE find) override {
    {
      std::lock_guard<std::mutex> g(lock_);
      auto it = searches_.find(reinterpret_cast<FolderSearch*>(find));
      if (it != searches_.end()) {
        delete *it;
        searches_.erase(it);
        return TRUE;
      }
    }
    return ::FindClose(find);
  }
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

  HANDLE OpenFolder(HANDLE parent, const wchar_t* name, DWORD* attributes) override {
    HANDLE h;
    if (!parent) {
      h = CreateFileW(ApiPath(name), kFolderAccess, kHeldShare, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                      nullptr);
    } else {
      h = OpenIn(parent, name, kFolderAccess, kHeldShare, FILE_OPEN, FILE_DIRECTORY_FILE);
    }
    if (h == INVALID_HANDLE_VALUE) return h;
    DWORD a = HandleAttributes(h);
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
      DWORD error = a == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
      CloseHandle(h);
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    if (parent) a |= ListedAttributes(parent, name) & FILE_ATTRIBUTE_REPARSE_POINT;
    *attributes = a;
    return h;
  }
  BOOL CloseFolder(HANDLE folder) override { return CloseHandle(folder); }

  HANDLE FindFirstIn(HANDLE folder, const wchar_t* pattern, FindData* data) override {
    if (!pattern || !data || std::wcspbrk(pattern, L"\\/")) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
    }
    auto search = std::make_unique<FolderSearch>(folder, pattern);
    if (!search->Next(data)) {
      if (GetLastError() == ERROR_NO_MORE_FILES) SetLastError(ERROR_FILE_NOT_FOUND);
      return INVALID_HANDLE_VALUE;
    }
    std::lock_guard<std::mutex> g(lock_);
    searches_.insert(search.get());
    return reinterpret_cast<HANDLE>(search.release());
  }

  BOOL SetAttributesIn(HANDLE folder, const wchar_t* name, DWORD attributes) override {
    HANDLE h = OpenNoLinkIn(folder, name, FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes;
    BOOL ok = SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
    DWORD error = GetLastError();
    CloseHandle(h);
    SetLastError(error);
    return ok;
  }

  BOOL RemoveFileIn(HANDLE folder, const wchar_t* name) override {
    HANDLE h = OpenIn(folder, name, DELETE | FILE_READ_ATTRIBUTES, kAnyShare, FILE_OPEN, FILE_NON_DIRECTORY_FILE);
    return h == INVALID_HANDLE_VALUE ? FALSE : DeleteOpen(h);
  }

  BOOL RemoveFolderIn(HANDLE folder, const wchar_t* name) override {
    HANDLE h = OpenIn(folder, name, DELETE | FILE_READ_ATTRIBUTES, kAnyShare, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    DWORD a = HandleAttributes(h);
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) {
      CloseHandle(h);
      SetLastError(ERROR_ACCESS_DENIED);
      return FALSE;
    }
    return DeleteOpen(h);
  }

  BOOL MakeFolderIn(HANDLE folder, const wchar_t* name) override {
    HANDLE h = OpenIn(folder, name, FILE_LIST_DIRECTORY, kAnyShare, FILE_CREATE, FILE_DIRECTORY_FILE);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    CloseHandle(h);
    return TRUE;
  }

  BOOL MoveEntryIn(HANDLE from, const wchar_t* name, HANDLE to, const wchar_t* newName) override {
    if (!newName || !*newName || std::wcspbrk(newName, L"\\/")) {
      SetLastError(ERROR_INVALID_NAME);
      return FALSE;
    }
    HANDLE h = OpenNoLinkIn(from, name, DELETE | FILE_READ_ATTRIBUTES);
    if (h == INVALID_HANDLE_VALUE) return FALSE;
    size_t nameBytes = std::wcslen(newName) * sizeof(WCHAR);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = to;
    rename->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(rename->FileName, newName, nameBytes);
    // FILE_RENAME_INFO is FILE_RENAME_INFORMATION. NtSetInformationFile,
    // not SetFileInformationByHandle: Wine's kernel32 turns the plain name
    // into a path of the current folder and so ignores RootDirectory.
    IO_STATUS_BLOCK io;
    NTSTATUS status = NtSetInformationFile(h, &io, rename, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    CloseHandle(h);
    if (status < 0) return FailStatus(status);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }

 private:
  FolderSearch* Lookup(HANDLE find) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = searches_.find(reinterpret_cast<FolderSearch*>(find));
    return it == searches_.end() ? nullptr : *it;
  }

  std::mutex lock_;
  std::unordered_set<FolderSearch*> searches_;
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
