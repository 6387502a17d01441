// File-system port: the Win32 file and folder calls of the kit, with their
// status codes (set as the thread's last error), attribute bits and
// wildcard rules. Paths are wide Windows paths ("C:\Users\alice\...").
//
// Which port for what: this one for every file and folder operation on wide
// paths, the framework's file class and the completion state included; the
// byte-stream port (ByteStreams.h) only for the runtime library's narrow
// FILE* streams (the key files and the rotating log).
#pragma once

#include <cstdio>
#include <string>

#include "platform/Port.h"
#include "platform/UniqueHandle.h"
#include "platform/WinTypes.h"

#ifdef _WIN32
#include <shlobj.h>
#endif

namespace platform {

// The members of WIN32_FIND_DATAW the kit reads.
struct FindData {
  DWORD attributes = 0;         // dwFileAttributes
  ULONGLONG size = 0;           // nFileSizeHigh:nFileSizeLow
  ULONGLONG lastWriteTime = 0;  // FILETIME: 100 ns units since 1601-01-01 UTC
  DWORD reparseTag = 0;         // dwReserved0 when FILE_ATTRIBUTE_REPARSE_POINT is set
  wchar_t name[MAX_PATH] = {};  // cFileName
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // FindFirstFileW: "dir\pattern" with '*' and '?' as Windows matches them
  // (case-insensitive; "*.*" matches every name; '?' at the end of a name or
  // before a dot also matches nothing; "." and ".." are reported).
  // INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when nothing matches,
  // ERROR_PATH_NOT_FOUND when the folder is missing.
  virtual HANDLE FindFirst(const wchar_t* pattern, FindData* data) = 0;
  // FindNextFileW: FALSE with ERROR_NO_MORE_FILES at the end.
  virtual BOOL FindNext(HANDLE find, FindData* data) = 0;
  // FindClose
  virtual BOOL CloseFind(HANDLE find) = 0;

  // GetFileAttributesW: INVALID_FILE_ATTRIBUTES on failure. A link is
  // described itself (FILE_ATTRIBUTE_REPARSE_POINT, plus the directory bit
  // for a directory link), never its target.
  virtual DWORD GetAttributes(const wchar_t* path) = 0;
  // SetFileAttributesW: FILE_ATTRIBUTE_NORMAL clears every settable bit.
  virtual BOOL SetAttributes(const wchar_t* path, DWORD attributes) = 0;
  // DeleteFileW: a read-only file or a folder is ERROR_ACCESS_DENIED; a link
  // to a file goes itself, its target stays.
  virtual BOOL RemoveFile(const wchar_t* path) = 0;
  // RemoveDirectoryW: ERROR_DIR_NOT_EMPTY unless empty; a directory link is
  // removed as a link, its target untouched.
  virtual BOOL RemoveFolder(const wchar_t* path) = 0;
  // CreateDirectoryW with default security: ERROR_ALREADY_EXISTS,
  // ERROR_PATH_NOT_FOUND when the parent is missing.
  virtual BOOL MakeFolder(const wchar_t* path) = 0;
  // MoveFileW without flags: renames a file or a whole folder in one step;
  // ERROR_ALREADY_EXISTS when the target exists.
  virtual BOOL MoveEntry(const wchar_t* from, const wchar_t* to) = 0;
  // CopyFileW: with failIfExists an existing target is ERROR_FILE_EXISTS;
  // attributes and the last write time go with the content.
  virtual BOOL CopyEntry(const wchar_t* from, const wchar_t* to, BOOL failIfExists) = 0;
  // MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH:
  // the target is at every instant either its old file or the new one, and
  // the new name is on the disk when the call returns. A read-only target
  // or a folder is ERROR_ACCESS_DENIED. The default is the build's adapter.
  virtual BOOL ReplaceEntry(const wchar_t* from, const wchar_t* to);

  // PathFileExistsW
  virtual BOOL PathExists(const wchar_t* path) = 0;
  // PathIsDirectoryW (TRUE or FALSE)
  virtual BOOL IsDirectory(const wchar_t* path) = 0;
  // PathIsSystemFolderW: a folder carrying the read-only or system bit; with
  // a null path the given attributes are tested.
  virtual BOOL IsSystemFolder(const wchar_t* path, DWORD attributes) = 0;

  // ExpandEnvironmentStringsW: the characters needed with the terminator
  // (more than size: nothing usable was written); 0 on failure. Unknown
  // references stay as written.
  virtual DWORD ExpandEnvironment(const wchar_t* source, wchar_t* out, DWORD size) = 0;

  // CreateFileW for the byte-file class: access GENERIC_READ and/or
  // GENERIC_WRITE, disposition CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING,
  // OPEN_ALWAYS or TRUNCATE_EXISTING. INVALID_HANDLE_VALUE on failure.
  virtual HANDLE OpenFile(const wchar_t* path, DWORD access, DWORD disposition) = 0;
  // ReadFile / WriteFile on such a handle.
  virtual BOOL ReadBytes(HANDLE file, void* buffer, DWORD bytes, DWORD* done) = 0;
  virtual BOOL WriteBytes(HANDLE file, const void* buffer, DWORD bytes, DWORD* done) = 0;
  // SetFilePointerEx with FILE_BEGIN, FILE_CURRENT or FILE_END.
  virtual BOOL Seek(HANDLE file, LONGLONG distance, DWORD method, ULONGLONG* position) = 0;
  // GetFileSizeEx
  virtual BOOL FileSize(HANDLE file, ULONGLONG* size) = 0;
  // CloseHandle on such a handle.
  virtual BOOL CloseFile(HANDLE file) = 0;

  // CreateFileW as OpenFile, with the share mode given (0: other openers
  // are refused while the handle is open). Adapters that cannot refuse
  // sharing open as OpenFile does.
  virtual HANDLE OpenFileShared(const wchar_t* path, DWORD access, DWORD share, DWORD disposition) {
    return OpenFile(path, access, disposition);
  }
  // OpenFileShared of a file that only this name leads to: a symbolic link
  // or junction at the name is never opened through, and anything but a
  // regular file with one link is refused with ERROR_ACCESS_DENIED before a
  // byte is read or written (CREATE_ALWAYS and TRUNCATE_EXISTING truncate
  // only after that check). CreateFileW with FILE_FLAG_OPEN_REPARSE_POINT
  // and GetFileInformationByHandle. The default is the build's adapter.
  virtual HANDLE OpenOwnFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition);

  // Folders held open, for walks over trees that others may rearrange (a
  // user's profile, walked as LocalSystem). A folder handle names the
  // folder it was opened on for as long as it is open: it is held without
  // FILE_SHARE_DELETE, so on Windows nobody renames or removes it meanwhile,
  // and every name below is looked up inside it, never through a path.
  // The defaults forward to the build's adapter, so fakes that wrap it
  // need not override them.

  // NtCreateFile of a folder: name inside the open folder parent, or a
  // whole path when parent is null (an anchor, opened as the path says).
  // A link at the name is never followed: the handle is the link itself,
  // and *attributes (never null) describe the entry as its folder lists it
  // and as the handle sees it, FILE_ATTRIBUTE_REPARSE_POINT for a link of
  // any tag. The caller decides what a link means. INVALID_HANDLE_VALUE
  // with ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, or ERROR_DIRECTORY
  // for an entry that is no folder.
  virtual HANDLE OpenFolder(HANDLE parent, const wchar_t* name, DWORD* attributes);
  // CloseHandle on such a handle.
  virtual BOOL CloseFolder(HANDLE folder);
  // FindFirstFileW over the entries of an open folder: pattern is a name
  // pattern with the wildcard rules of FindFirst. FindNext and CloseFind
  // go on with the handle it gives.
  virtual HANDLE FindFirstIn(HANDLE folder, const wchar_t* pattern, FindData* data);
  // SetFileAttributesW, DeleteFileW, RemoveDirectoryW and CreateDirectoryW
  // for name inside folder, with their codes; none follows a link at name
  // (a link is removed itself, and has no attributes set through it).
  virtual BOOL SetAttributesIn(HANDLE folder, const wchar_t* name, DWORD attributes);
  virtual BOOL RemoveFileIn(HANDLE folder, const wchar_t* name);
  virtual BOOL RemoveFolderIn(HANDLE folder, const wchar_t* name);
  virtual BOOL MakeFolderIn(HANDLE folder, const wchar_t* name);
  // MoveFileW for name inside from to newName inside to: one rename, that
  // fails with ERROR_ALREADY_EXISTS when anything, a link included, stands
  // at the new name. A link at name is refused (ERROR_ACCESS_DENIED).
  virtual BOOL MoveEntryIn(HANDLE from, const wchar_t* name, HANDLE to, const wchar_t* newName);

  VELK_PORT(FileSystem);
};

using FindHandle = UniqueHandle<ClosedThrough<FileSystem, &FileSystem::CloseFind, InvalidValueInvalid>>;
using FileHandle = UniqueHandle<ClosedThrough<FileSystem, &FileSystem::CloseFile, InvalidValueInvalid>>;
using FolderHandle = UniqueHandle<ClosedThrough<FileSystem, &FileSystem::CloseFolder, InvalidValueInvalid>>;

// Shell folders of the current user and the machine.
class KnownFolders {
 public:
  virtual ~KnownFolders() = default;
  // SHGetFolderPathW(null, csidl, null, SHGFP_TYPE_CURRENT, path): path has
  // room for MAX_PATH characters. CSIDL_FLAG_CREATE makes the folder.
  virtual HRESULT GetFolderPath(int csidl, wchar_t* path) = 0;

  VELK_PORT(KnownFolders);
};

}  // namespace platform
