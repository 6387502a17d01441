// The host file system: Windows paths map into the machine's drive folders;
// the attributes Linux lacks (read-only, hidden, system, archive) live in
// the extended attribute user.DOSATTRIB as "0x<hex>", and the calls refuse
// what Windows refuses for them. Symbolic links stand for Windows links
// (reparse points) and are never followed by the calls that change things.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/CodePages.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Registry.h"
#include "platform/host/machine/FileNames.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/SideFiles.h"
#include "platform/host/machine/Utf.h"
#include "platform/host/posix/ReadWrite.h"
#include "platform/host/posix/UniqueFd.h"

namespace platform::host {

namespace {

BOOL Fail(DWORD code) {
  SetLastErrorCode(code);
  return FALSE;
}

// The Windows path of a file, mapped into the machine folder.
bool Map(const wchar_t* path, std::string* host) {
  if (!path || !*path) {
    SetLastErrorCode(ERROR_PATH_NOT_FOUND);
    return false;
  }
  const Machine* m = Machine::Current();
  std::filesystem::path p;
  if (!m || !m->MapPath(path, &p)) {
    SetLastErrorCode(ERROR_PATH_NOT_FOUND);
    return false;
  }
  *host = p.string();
  return true;
}

// The folder of the entry mapped last on this thread, held open: while a
// tree is walked the entries of one folder are handled one after another,
// and their folder need neither be searched for nor walked to again.
struct LastFolder {
  const Machine* machine = nullptr;
  std::wstring windows;
  std::string host;
  UniqueFd fd;
  dev_t dev = 0;
  ino_t ino = 0;
};
thread_local LastFolder t_lastFolder;

// An entry as its folder's open handle and its name there; the folder is
// AT_FDCWD and the name the whole host path when there is none.
struct Entry {
  std::string host;
  int dirFd = AT_FDCWD;
  std::string leaf;
  bool statted = false;  // st holds the entry's lstat data
  struct stat st {};
  const char* Name() const { return dirFd == AT_FDCWD ? host.c_str() : leaf.c_str(); }
};

bool MapEntry(const wchar_t* path, Entry* out) {
  if (!path || !*path) {
    SetLastErrorCode(ERROR_PATH_NOT_FOUND);
    return false;
  }
  const Machine* m = Machine::Current();
  std::wstring_view text(path);
  size_t sep = text.find_last_of(L"\\/");
  bool plainName = m && sep != std::wstring_view::npos && sep > 2 && sep + 1 < text.size() &&
                   text.substr(sep + 1) != L"." && text.substr(sep + 1) != L"..";
  LastFolder& last = t_lastFolder;
  if (plainName && last.fd.Valid() && last.machine == m && EqualsNoCase(text.substr(0, sep), last.windows)) {
    // The held folder must still be the one at that path (not moved away,
    // not replaced), and the name spelled as on disk; else map afresh.
    struct stat folder {};
    std::string leaf = WideToUtf8(text.substr(sep + 1));
    if (::stat(last.host.c_str(), &folder) == 0 && folder.st_dev == last.dev && folder.st_ino == last.ino &&
        ::fstatat(last.fd.Get(), leaf.c_str(), &out->st, AT_SYMLINK_NOFOLLOW) == 0) {
      out->host = last.host + "/" + leaf;
      out->dirFd = last.fd.Get();
      out->leaf = std::move(leaf);
      out->statted = true;
      return true;
    }
  }
  if (!Map(path, &out->host)) return false;
  out->dirFd = AT_FDCWD;
  out->leaf.clear();
  if (!plainName) return true;
  size_t slash = out->host.find_last_of('/');
  std::string folderPath = out->host.substr(0, slash);
  UniqueFd fd(::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) return true;
  last.fd.Reset();
  last.machine = m;
  last.windows.assign(text.substr(0, sep));
  last.host = folderPath;
  last.dev = st.st_dev;
  last.ino = st.st_ino;
  out->dirFd = fd.Get();
  last.fd = std::move(fd);
  out->leaf = out->host.substr(slash + 1);
  return true;
}

std::string Parent(const std::string& host) {
  size_t slash = host.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : host.substr(0, slash);
}

bool IsDir(const std::string& host) {
  struct stat st {};
  return ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// errno as the Win32 code the same failure gives on Windows. A missing
// file in an existing folder is ERROR_FILE_NOT_FOUND, a missing folder on
// the way ERROR_PATH_NOT_FOUND.
DWORD Win32Error(int error, const std::string& host) {
  switch (error) {
    case ENOENT: return IsDir(Parent(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EXDEV: return ERROR_NOT_SAME_DEVICE;
    case EROFS: return ERROR_WRITE_PROTECT;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    default: return ERROR_GEN_FAILURE;
  }
}

BOOL FailErrno(const std::string& host) { return Fail(Win32Error(errno, host)); }

ULONGLONG FileTime(const struct timespec& t) {
  constexpr long long kEpochDiff = 11644473600LL;
  return static_cast<ULONGLONG>((t.tv_sec + kEpochDiff) * 10000000LL + t.tv_nsec / 100);
}

// Attributes from lstat data; for a link, whether its target is a folder.
DWORD AttributesOf(const struct stat& st, DWORD stored, bool linkToDir) {
  DWORD a = stored;
  if (S_ISDIR(st.st_mode)) a |= FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISLNK(st.st_mode)) {
    a |= FILE_ATTRIBUTE_REPARSE_POINT;
    if (linkToDir) a |= FILE_ATTRIBUTE_DIRECTORY;
  }
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

bool LinkToDir(int dirFd, const char* name) {
  struct stat target {};
  return ::fstatat(dirFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
}

// GetFileAttributesW on a mapped path; INVALID_FILE_ATTRIBUTES with errno.
DWORD HostAttributes(const std::string& host, struct stat* out = nullptr) {
  struct stat st {};
  if (::lstat(host.c_str(), &st) != 0) return INVALID_FILE_ATTRIBUTES;
  if (out) *out = st;
  bool linkToDir = S_ISLNK(st.st_mode) && LinkToDir(AT_FDCWD, host.c_str());
  return AttributesOf(st, S_ISLNK(st.st_mode) ? 0 : StoredDosBitsAt(AT_FDCWD, host.c_str(), std::string()), linkToDir);
}

// One search: the folder's names read at the start, in NTFS order.
struct Search {
  UniqueFd dir;
  std::string folder;  // host path
  std::wstring pattern;
  std::vector<std::string> names;
  size_t next = 0;
};

struct OpenFileState {
  UniqueFd fd;
  bool write = false;
};

// A folder held open: every name below it is looked up through the
// descriptor, never through a path that someone may have changed since.
struct FolderState {
  UniqueFd fd;
  std::string host;  // the path it had when opened, for attribute reads only
};

// A Windows name of one entry: no separators, no "." or "..".
bool PlainEntryName(const wchar_t* name) {
  if (!name || !*name) return false;
  std::wstring_view n(name);
  return n != L"." && n != L".." && n.find_first_of(L"\\/") == std::wstring_view::npos;
}

// The name as it is spelled inside the folder (Windows names ignore case);
// the name as given when no entry has it. ENOENT-style misses are not
// errors here: the caller's fstatat says what is there.
std::string NameInFolder(int dirFd, const wchar_t* name) {
  std::string exact = WideToUtf8(name);
  struct stat st {};
  if (::fstatat(dirFd, exact.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return exact;
  UniqueFd listFd(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = listFd.Valid() ? ::fdopendir(listFd.Get()) : nullptr;
  if (!dir) return exact;
  listFd.Release();
  std::string found = exact;
  while (struct dirent* e = ::readdir(dir)) {
    if (EqualsNoCase(Utf8ToWide(e->d_name), name)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

}  // namespace

class HostFileSystem : public FileSystem {
 public:
  HANDLE FindFirst(const wchar_t* pattern, FindData* data) override {
    if (!pattern || !data) return FailHandle(ERROR_INVALID_PARAMETER);
    std::wstring_view text(pattern);
    size_t sep = text.find_last_of(L"\\/");
    if (sep == std::wstring_view::npos) return FailHandle(ERROR_PATH_NOT_FOUND);
    std::wstring folder(text.substr(0, sep));
    std::wstring_view namePattern = text.substr(sep + 1);
    if (folder.size() == 2 && folder[1] == L':') folder += L'\\';
    std::string host;
    if (!Map(folder.c_str(), &host)) return INVALID_HANDLE_VALUE;
    if (namePattern.empty()) return FailHandle(ERROR_FILE_NOT_FOUND);
    UniqueFd dir(::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) {
      int e = errno;
      return FailHandle(e == ENOENT || e == ENOTDIR ? ERROR_PATH_NOT_FOUND : Win32Error(e, host));
    }
    return StartSearch(std::move(dir), host, namePattern, folder.size() == 3 && folder[1] == L':', data);
  }

  HANDLE FindFirstIn(HANDLE folder, const wchar_t* pattern, FindData* data) override {
    FolderState* f = LookupFolder(folder);
    if (!f) return FailHandle(ERROR_INVALID_HANDLE);
    if (!pattern || !data || std::wcschr(pattern, L'\\') || std::wcschr(pattern, L'/'))
      return FailHandle(ERROR_INVALID_PARAMETER);
    if (!*pattern) return FailHandle(ERROR_FILE_NOT_FOUND);
    UniqueFd dir(::openat(f->fd.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) return FailHandle(Win32Error(errno, f->host));
    return StartSearch(std::move(dir), f->host, pattern, false, data);
  }

  BOOL FindNext(HANDLE find, FindData* data) override {
    Search* s = LookupSearch(find);
    if (!s) return Fail(ERROR_INVALID_HANDLE);
    if (!data) return Fail(ERROR_INVALID_PARAMETER);
    return Next(*s, data) ? TRUE : Fail(ERROR_NO_MORE_FILES);
  }

  BOOL CloseFind(HANDLE find) override { return Drop(searches_, find); }

  DWORD GetAttributes(const wchar_t* path) override {
    std::string host;
    if (!Map(path, &host)) return INVALID_FILE_ATTRIBUTES;
    DWORD a = HostAttributes(host);
    if (a == INVALID_FILE_ATTRIBUTES) SetLastErrorCode(Win32Error(errno, host));
    return a;
  }

  BOOL SetAttributes(const wchar_t* path, DWORD attributes) override {
    std::string host;
    if (!Map(path, &host)) return FALSE;
    struct stat st {};
    if (::lstat(host.c_str(), &st) != 0) return FailErrno(host);
    if (S_ISLNK(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);  // Linux keeps no user attributes on links
    if (!WriteStoredDosBits(host, attributes == FILE_ATTRIBUTE_NORMAL ? 0 : attributes)) return FailErrno(host);
    return TRUE;
  }

  BOOL RemoveFile(const wchar_t* path) override {
    Entry e;
    if (!MapEntry(path, &e)) return FALSE;
    struct stat& st = e.st;
    if (!e.statted && ::fstatat(e.dirFd, e.Name(), &st, AT_SYMLINK_NOFOLLOW) != 0) return FailErrno(e.host);
    bool link = S_ISLNK(st.st_mode);
    DWORD a = AttributesOf(st, link ? 0 : StoredDosBitsAt(e.dirFd, e.Name(), std::string(), &e.host),
                           link && LinkToDir(e.dirFd, e.Name()));
    if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
    if (::unlinkat(e.dirFd, e.Name(), 0) != 0) return FailErrno(e.host);
    return TRUE;
  }

  BOOL RemoveFolder(const wchar_t* path) override {
    std::string host;
    if (!Map(path, &host)) return FALSE;
    struct stat st {};
    DWORD a = HostAttributes(host, &st);
    if (a == INVALID_FILE_ATTRIBUTES) return FailErrno(host);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_DIRECTORY);
    if (a & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
    // A directory link goes as a link; what it points to stays.
    int rc = S_ISLNK(st.st_mode) ? ::unlink(host.c_str()) : ::rmdir(host.c_str());
    if (rc != 0) return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : Win32Error(errno, host));
    return TRUE;
  }

  BOOL MakeFolder(const wchar_t* path) override {
    std::string host;
    if (!Map(path, &host)) return FALSE;
    if (::mkdir(host.c_str(), 0777) != 0) return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32Error(errno, host));
    return TRUE;
  }

  BOOL MoveEntry(const wchar_t* from, const wchar_t* to) override {
    std::string src, dst;
    if (!Map(from, &src) || !Map(to, &dst)) return FALSE;
    struct stat a {
    }, b{};
    if (::lstat(src.c_str(), &a) != 0) return FailErrno(src);
    if (::lstat(dst.c_str(), &b) == 0) {
      if (a.st_dev != b.st_dev || a.st_ino != b.st_ino) return Fail(ERROR_ALREADY_EXISTS);
      // The same entry under another case of its name: a rename of the name.
      std::wstring_view t(to);
      size_t sep = t.find_last_of(L"\\/");
      dst = Parent(dst) + "/" + WideToUtf8(t.substr(sep + 1));
      if (dst == src) return TRUE;
      if (::rename(src.c_str(), dst.c_str()) != 0) return FailErrno(dst);
      return TRUE;
    }
    if (!IsDir(Parent(dst))) return Fail(ERROR_PATH_NOT_FOUND);
    // One step that never replaces an entry created meanwhile.
    if (::renameat2(AT_FDCWD, src.c_str(), AT_FDCWD, dst.c_str(), RENAME_NOREPLACE) != 0) return FailErrno(dst);
    return TRUE;
  }

  BOOL ReplaceEntry(const wchar_t* from, const wchar_t* to) override {
    std::string src, dst;
    if (!Map(from, &src) || !Map(to, &dst)) return FALSE;
    DWORD srcAttr = HostAttributes(src);
    if (srcAttr == INVALID_FILE_ATTRIBUTES) return FailErrno(src);
    DWORD dstAttr = HostAttributes(dst);
    if ((srcAttr & FILE_ATTRIBUTE_DIRECTORY) ||
        (dstAttr != INVALID_FILE_ATTRIBUTES && (dstAttr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))))
      return Fail(ERROR_ACCESS_DENIED);
    if (::rename(src.c_str(), dst.c_str()) != 0) return FailErrno(dst);
    // Write-through: the folder's new entry reaches the disk now. The
    // rename has happened either way, so a failed sync is not a failure.
    UniqueFd folder(::open(Parent(dst).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Valid()) ::fsync(folder.Get());
    return TRUE;
  }

  BOOL CopyEntry(const wchar_t* from, const wchar_t* to, BOOL failIfExists) override {
    std::string src, dst;
    if (!Map(from, &src) || !Map(to, &dst)) return FALSE;
    struct stat st {};
    DWORD srcAttr = HostAttributes(src, &st);
    if (srcAttr == INVALID_FILE_ATTRIBUTES) return FailErrno(src);
    if (srcAttr & FILE_ATTRIBUTE_DIRECTORY) return Fail(ERROR_ACCESS_DENIED);
    DWORD dstAttr = HostAttributes(dst);
    if (dstAttr != INVALID_FILE_ATTRIBUTES) {
      if (failIfExists) return Fail(ERROR_FILE_EXISTS);
      if (dstAttr & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
    }
    UniqueFd in(::open(src.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.Valid()) return FailErrno(src);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
    UniqueFd out(::open(dst.c_str(), flags, st.st_mode & 0777));
    if (!out.Valid()) {
      int e = errno;
      return Fail(e == EEXIST ? ERROR_FILE_EXISTS : Win32Error(e, dst));
    }
    char buffer[1 << 16];
    bool ok = true;
    int e = 0;
    for (;;) {
      size_t n = ReadAll(in.Get(), buffer, sizeof buffer, &e);
      if (WriteAll(out.Get(), buffer, n) != n) {
        e = errno;
        ok = false;
        break;
      }
      if (e != 0) ok = false;
      if (!ok || n < sizeof buffer) break;
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (ok) ::futimens(out.Get(), times);
    in.Reset();
    out.Reset();
    if (!ok) {
      ::unlink(dst.c_str());
      return Fail(Win32Error(e, dst));
    }
    WriteStoredDosBits(dst, srcAttr == FILE_ATTRIBUTE_NORMAL ? 0 : (srcAttr | FILE_ATTRIBUTE_ARCHIVE));
    return TRUE;
  }

  BOOL PathExists(const wchar_t* path) override { return GetAttributes(path) != INVALID_FILE_ATTRIBUTES; }

  BOOL IsDirectory(const wchar_t* path) override {
    DWORD a = GetAttributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? TRUE : FALSE;
  }

  BOOL IsSystemFolder(const wchar_t* path, DWORD attributes) override {
    DWORD a = path ? GetAttributes(path) : attributes;
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return FALSE;
    return a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM) ? TRUE : FALSE;
  }

  DWORD ExpandEnvironment(const wchar_t* source, wchar_t* out, DWORD size) override;

  HANDLE OpenFile(const wchar_t* path, DWORD access, DWORD disposition) override {
    return Open(path, access, disposition, false);
  }
  HANDLE OpenOwnFile(const wchar_t* path, DWORD access, DWORD, DWORD disposition) override {
    return Open(path, access, disposition, true);
  }
  // own: never through a link at the name, and only a regular file with one
  // link, truncated only after that check.
  HANDLE Open(const wchar_t* path, DWORD access, DWORD disposition, bool own) {
    std::string host;
    if (!Map(path, &host)) return INVALID_HANDLE_VALUE;
    const bool write = access & GENERIC_WRITE;
    int flags = O_CLOEXEC | (write ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY);
    DWORD a = HostAttributes(host);
    bool exists = a != INVALID_FILE_ATTRIBUTES;
    if (exists && (a & FILE_ATTRIBUTE_DIRECTORY)) return FailHandle(ERROR_ACCESS_DENIED);
    switch (disposition) {
      case CREATE_NEW:
        if (exists) return FailHandle(ERROR_FILE_EXISTS);
        flags |= O_CREAT | O_EXCL;
        break;
      case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
      case OPEN_EXISTING: break;
      case OPEN_ALWAYS: flags |= O_CREAT; break;
      case TRUNCATE_EXISTING:
        if (!write) return FailHandle(ERROR_INVALID_PARAMETER);
        flags |= O_TRUNC;
        break;
      default: return FailHandle(ERROR_INVALID_PARAMETER);
    }
    if (exists && (a & FILE_ATTRIBUTE_READONLY) && (write || disposition == CREATE_ALWAYS))
      return FailHandle(ERROR_ACCESS_DENIED);
    const bool truncate = own && (flags & O_TRUNC);
    if (own) flags = (flags & ~O_TRUNC) | O_NOFOLLOW;
    auto state = std::make_unique<OpenFileState>();
    // O_NONBLOCK: a pipe planted at the name must not stop the open; only
    // regular files are files here.
    UniqueFd fd(::open(host.c_str(), flags | O_NONBLOCK, 0666));
    if (fd.Get() < 0) {
      int e = errno;
      if (own && (e == ELOOP || e == ENXIO)) return FailHandle(ERROR_ACCESS_DENIED);
      if (e == ENXIO) return FailHandle(ERROR_BAD_FILE_TYPE);
      return FailHandle(e == ENOENT && IsDir(Parent(host)) ? ERROR_FILE_NOT_FOUND : Win32Error(e, host));
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
      return FailHandle(own ? ERROR_ACCESS_DENIED : ERROR_BAD_FILE_TYPE);
    if (own && st.st_nlink != 1) return FailHandle(ERROR_ACCESS_DENIED);
    if (truncate && ::ftruncate(fd.Get(), 0) != 0) return FailHandle(Win32Error(errno, host));
    int plain = ::fcntl(fd.Get(), F_GETFL);
    if (plain < 0 || ::fcntl(fd.Get(), F_SETFL, plain & ~O_NONBLOCK) != 0) return FailHandle(Win32Error(errno, host));
    state->fd = std::move(fd);
    state->write = write;
    // Win32 reports an existing file it opened or replaced this way.
    SetLastErrorCode(exists && (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                            : ERROR_SUCCESS);
    return Adopt(files_, std::move(state));
  }

  BOOL ReadBytes(HANDLE file, void* buffer, DWORD bytes, DWORD* done) override {
    OpenFileState* f = LookupFile(file);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (done) *done = 0;
    int error;
    size_t total = ReadAll(f->fd.Get(), buffer, bytes, &error);
    if (error != 0) return Fail(error == EBADF ? ERROR_ACCESS_DENIED : ERROR_GEN_FAILURE);
    if (done) *done = static_cast<DWORD>(total);
    return TRUE;
  }

  BOOL WriteBytes(HANDLE file, const void* buffer, DWORD bytes, DWORD* done) override {
    OpenFileState* f = LookupFile(file);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (done) *done = 0;
    if (!f->write) return Fail(ERROR_ACCESS_DENIED);
    size_t total = WriteAll(f->fd.Get(), buffer, bytes);
    if (done) *done = static_cast<DWORD>(total);
    if (total < bytes) return Fail(errno == ENOSPC ? ERROR_DISK_FULL : ERROR_GEN_FAILURE);
    return TRUE;
  }

  BOOL Seek(HANDLE file, LONGLONG distance, DWORD method, ULONGLONG* position) override {
    OpenFileState* f = LookupFile(file);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    int whence = method == FILE_BEGIN     ? SEEK_SET
                 : method == FILE_CURRENT ? SEEK_CUR
                 : method == FILE_END     ? SEEK_END
                                          : -1;
    if (whence < 0) return Fail(ERROR_INVALID_PARAMETER);
    off_t r = ::lseek(f->fd.Get(), static_cast<off_t>(distance), whence);
    if (r < 0) return Fail(ERROR_NEGATIVE_SEEK);
    if (position) *position = static_cast<ULONGLONG>(r);
    return TRUE;
  }

  BOOL FileSize(HANDLE file, ULONGLONG* size) override {
    OpenFileState* f = LookupFile(file);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    struct stat st {};
    if (::fstat(f->fd.Get(), &st) != 0) return Fail(ERROR_GEN_FAILURE);
    if (size) *size = static_cast<ULONGLONG>(st.st_size);
    return TRUE;
  }

  BOOL CloseFile(HANDLE file) override { return Drop(files_, file); }

  HANDLE OpenFolder(HANDLE parent, const wchar_t* name, DWORD* attributes) override {
    if (!attributes) return FailHandle(ERROR_INVALID_PARAMETER);
    auto state = std::make_unique<FolderState>();
    struct stat st {};
    DWORD stored = 0;
    bool link = false;
    if (!parent) {
      // An anchor: the path as it is, links on the way included.
      if (!Map(name, &state->host)) return INVALID_HANDLE_VALUE;
      state->fd.Reset(::open(state->host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (!state->fd.Valid()) {
        int e = errno;
        return FailHandle(e == ENOTDIR ? ERROR_DIRECTORY : Win32Error(e, state->host));
      }
      if (::fstat(state->fd.Get(), &st) != 0) return FailHandle(Win32Error(errno, state->host));
      stored = StoredDosBitsAt(AT_FDCWD, state->host.c_str(), std::string());
    } else {
      FolderState* p = LookupFolder(parent);
      if (!p) return FailHandle(ERROR_INVALID_HANDLE);
      if (!PlainEntryName(name)) return FailHandle(ERROR_INVALID_NAME);
      std::string leaf = NameInFolder(p->fd.Get(), name);
      state->host = p->host + "/" + leaf;
      if (::fstatat(p->fd.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return FailHandle(errno == ENOENT ? ERROR_FILE_NOT_FOUND : Win32Error(errno, state->host));
      link = S_ISLNK(st.st_mode);
      if (!link && !S_ISDIR(st.st_mode)) return FailHandle(ERROR_DIRECTORY);
      state->fd.Reset(::openat(p->fd.Get(), leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!state->fd.Valid()) {
        // A link put in its place since the look: the link itself, described as one.
        if (errno != ELOOP && errno != ENOTDIR) return FailHandle(Win32Error(errno, state->host));
        state->fd.Reset(::openat(p->fd.Get(), leaf.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!state->fd.Valid() || ::fstat(state->fd.Get(), &st) != 0) return FailHandle(Win32Error(errno, state->host));
        link = S_ISLNK(st.st_mode);
        if (!link) return FailHandle(ERROR_DIRECTORY);
      } else if (::fstat(state->fd.Get(), &st) != 0) {
        return FailHandle(Win32Error(errno, state->host));
      }
      if (link && !state->fd.Valid()) return FailHandle(ERROR_GEN_FAILURE);
      if (!link) stored = StoredDosBitsAt(p->fd.Get(), leaf.c_str(), p->host);
    }
    *attributes = AttributesOf(st, stored, link);
    return Adopt(folders_, std::move(state));
  }

  BOOL CloseFolder(HANDLE folder) override { return Drop(folders_, folder); }

  BOOL SetAttributesIn(HANDLE folder, const wchar_t* name, DWORD attributes) override {
    Located e;
    if (!Locate(folder, name, &e)) return FALSE;
    if (S_ISLNK(e.st.st_mode)) return Fail(ERROR_ACCESS_DENIED);  // Linux keeps no user attributes on links
    UniqueFd fd(::openat(e.dirFd, e.leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) return FailErrno(e.host);
    if (!WriteStoredDosBitsFd(fd.Get(), attributes == FILE_ATTRIBUTE_NORMAL ? 0 : attributes)) return FailErrno(e.host);
    return TRUE;
  }

  BOOL RemoveFileIn(HANDLE folder, const wchar_t* name) override {
    Located e;
    if (!Locate(folder, name, &e)) return FALSE;
    if (e.Attributes() & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
    if (::unlinkat(e.dirFd, e.leaf.c_str(), 0) != 0) return FailErrno(e.host);
    return TRUE;
  }

  BOOL RemoveFolderIn(HANDLE folder, const wchar_t* name) override {
    Located e;
    if (!Locate(folder, name, &e)) return FALSE;
    DWORD a = e.Attributes();
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return Fail(ERROR_DIRECTORY);
    if (a & FILE_ATTRIBUTE_READONLY) return Fail(ERROR_ACCESS_DENIED);
    // A directory link goes as a link; what it points to stays.
    bool link = S_ISLNK(e.st.st_mode);
    if (::unlinkat(e.dirFd, e.leaf.c_str(), link ? 0 : AT_REMOVEDIR) != 0)
      return Fail(errno == EEXIST ? ERROR_DIR_NOT_EMPTY : Win32Error(errno, e.host));
    return TRUE;
  }

  BOOL MakeFolderIn(HANDLE folder, const wchar_t* name) override {
    FolderState* f = LookupFolder(folder);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!PlainEntryName(name)) return Fail(ERROR_INVALID_NAME);
    std::string leaf = NameInFolder(f->fd.Get(), name);
    if (::mkdirat(f->fd.Get(), leaf.c_str(), 0777) != 0) return FailErrno(f->host + "/" + leaf);
    return TRUE;
  }

  BOOL MoveEntryIn(HANDLE from, const wchar_t* name, HANDLE to, const wchar_t* newName) override {
    Located src;
    if (!Locate(from, name, &src)) return FALSE;
    if (S_ISLNK(src.st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    FolderState* target = LookupFolder(to);
    if (!target) return Fail(ERROR_INVALID_HANDLE);
    if (!PlainEntryName(newName)) return Fail(ERROR_INVALID_NAME);
    std::string leaf = NameInFolder(target->fd.Get(), newName);
    struct stat there {};
    if (::fstatat(target->fd.Get(), leaf.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
      if (there.st_dev != src.st.st_dev || there.st_ino != src.st.st_ino) return Fail(ERROR_ALREADY_EXISTS);
      leaf = WideToUtf8(newName);  // the same entry under another case of its name
      if (leaf == src.leaf) return TRUE;
      if (::renameat(src.dirFd, src.leaf.c_str(), target->fd.Get(), leaf.c_str()) != 0)
        return FailErrno(target->host + "/" + leaf);
      return TRUE;
    }
    // One step that never replaces an entry created meanwhile.
    if (::renameat2(src.dirFd, src.leaf.c_str(), target->fd.Get(), leaf.c_str(), RENAME_NOREPLACE) != 0)
      return FailErrno(target->host + "/" + leaf);
    return TRUE;
  }

 private:
  // An entry of an open folder, looked at without following it.
  struct Located {
    int dirFd = -1;
    std::string leaf;
    std::string host;
    struct stat st {};
    DWORD stored = 0;
    bool linkToDir = false;
    DWORD Attributes() const { return AttributesOf(st, stored, linkToDir); }
  };

  bool Locate(HANDLE folder, const wchar_t* name, Located* out) {
    FolderState* f = LookupFolder(folder);
    if (!f) return Fail(ERROR_INVALID_HANDLE);
    if (!PlainEntryName(name)) return Fail(ERROR_INVALID_NAME);
    out->dirFd = f->fd.Get();
    out->leaf = NameInFolder(out->dirFd, name);
    out->host = f->host + "/" + out->leaf;
    if (::fstatat(out->dirFd, out->leaf.c_str(), &out->st, AT_SYMLINK_NOFOLLOW) != 0) return FailErrno(out->host);
    bool link = S_ISLNK(out->st.st_mode);
    out->linkToDir = link && LinkToDir(out->dirFd, out->leaf.c_str());
    out->stored = link ? 0 : StoredDosBitsAt(out->dirFd, out->leaf.c_str(), f->host, &out->host);
    return true;
  }

  static HANDLE FailHandle(DWORD code) {
    SetLastErrorCode(code);
    return INVALID_HANDLE_VALUE;
  }

  Search* LookupSearch(HANDLE h) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = searches_.find(reinterpret_cast<Search*>(h));
    return it == searches_.end() ? nullptr : *it;
  }
  OpenFileState* LookupFile(HANDLE h) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = files_.find(reinterpret_cast<OpenFileState*>(h));
    return it == files_.end() ? nullptr : *it;
  }

  // A search over an open folder: its names read now, in NTFS order.
  HANDLE StartSearch(UniqueFd dirFd, const std::string& host, std::wstring_view namePattern, bool driveRoot,
                     FindData* data) {
    auto search = std::make_unique<Search>();
    search->dir = std::move(dirFd);
    search->folder = host;
    search->pattern = TranslatePattern(namePattern);
    const bool literal = !HasWildcards(namePattern);
    UniqueFd listFd(::dup(search->dir.Get()));
    DIR* dir = listFd.Valid() ? ::fdopendir(listFd.Get()) : nullptr;
    if (!dir) return FailHandle(ERROR_NOT_ENOUGH_MEMORY);
    listFd.Release();  // closedir closes it now
    ::rewinddir(dir);
    std::vector<std::pair<std::wstring, std::string>> found;
    while (struct dirent* e = ::readdir(dir)) {
      bool dots = std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0;
      if (dots && driveRoot) continue;  // a drive's root has neither
      std::wstring wide = Utf8ToWide(e->d_name);
      bool match = literal ? EqualsNoCase(wide, namePattern) : MatchTranslated(search->pattern, wide);
      if (match) found.emplace_back(UpperCase(wide), e->d_name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    for (auto& f : found) search->names.push_back(std::move(f.second));
    if (!Next(*search, data)) return FailHandle(ERROR_FILE_NOT_FOUND);
    return Adopt(searches_, std::move(search));
  }

  // The handles this file system hands out are its own state objects,
  // owned by their set from the open to the close.
  template <class T>
  HANDLE Adopt(std::unordered_set<T*>& set, std::unique_ptr<T> state) {
    HANDLE h = reinterpret_cast<HANDLE>(state.get());
    std::lock_guard<std::mutex> g(lock_);
    set.insert(state.release());
    return h;
  }
  template <class T>
  BOOL Drop(std::unordered_set<T*>& set, HANDLE h) {
    std::unique_ptr<T> owned;  // freed after the lock is left
    std::lock_guard<std::mutex> g(lock_);
    auto it = set.find(reinterpret_cast<T*>(h));
    if (it == set.end()) return Fail(ERROR_INVALID_HANDLE);
    owned.reset(*it);
    set.erase(it);
    return TRUE;
  }

  FolderState* LookupFolder(HANDLE h) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = folders_.find(reinterpret_cast<FolderState*>(h));
    return it == folders_.end() ? nullptr : *it;
  }

  // Fills data with the next entry still present.
  static bool Next(Search& s, FindData* data) {
    while (s.next < s.names.size()) {
      const std::string& name = s.names[s.next++];
      struct stat st {};
      if (::fstatat(s.dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
      std::wstring wide = Utf8ToWide(name);
      if (wide.size() >= MAX_PATH) continue;  // Windows cannot hold such a name
      bool link = S_ISLNK(st.st_mode);
      DWORD stored = link ? 0 : StoredDosBitsAt(s.dir.Get(), name.c_str(), s.folder);
      *data = FindData{};
      data->attributes = AttributesOf(st, stored, link && LinkToDir(s.dir.Get(), name.c_str()));
      data->size = S_ISREG(st.st_mode) ? static_cast<ULONGLONG>(st.st_size) : 0;
      data->lastWriteTime = FileTime(st.st_mtim);
      data->reparseTag = link ? static_cast<DWORD>(IO_REPARSE_TAG_SYMLINK) : 0;
      std::wmemcpy(data->name, wide.c_str(), wide.size() + 1);
      return true;
    }
    return false;
  }

  std::mutex lock_;
  std::unordered_set<Search*> searches_;
  std::unordered_set<OpenFileState*> files_;
  std::unordered_set<FolderState*> folders_;
};

namespace {

bool QueryProfileImagePath(const std::wstring& sid, std::wstring* out) {
  Registry& reg = Registry::Default();
  HKEY key = nullptr;
  std::wstring sub = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\" + sid;
  if (reg.OpenKey(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_READ, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0, size = 0;
  bool ok = reg.QueryValue(key, L"ProfileImagePath", &type, nullptr, &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ);
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (ok)
    ok = reg.QueryValue(key, L"ProfileImagePath", nullptr, reinterpret_cast<BYTE*>(value.data()), &size) ==
         ERROR_SUCCESS;
  reg.CloseKey(key);
  if (!ok) return false;
  *out = value.c_str();
  return true;
}

// The environment a process of the machine's user starts with.
std::vector<std::pair<std::wstring, std::wstring>> MachineEnvironment() {
  std::vector<std::pair<std::wstring, std::wstring>> env = {
      {L"SystemDrive", L"C:"},
      {L"SystemRoot", L"C:\\Windows"},
      {L"windir", L"C:\\Windows"},
      {L"ComSpec", L"C:\\Windows\\system32\\cmd.exe"},
      {L"OS", L"Windows_NT"},
      {L"ProgramFiles", L"C:\\Program Files"},
      {L"ProgramFiles(x86)", L"C:\\Program Files (x86)"},
      {L"ProgramW6432", L"C:\\Program Files"},
      {L"CommonProgramFiles", L"C:\\Program Files\\Common Files"},
      {L"ProgramData", L"C:\\ProgramData"},
      {L"ALLUSERSPROFILE", L"C:\\ProgramData"},
      {L"PUBLIC", L"C:\\Users\\Public"},
  };
  const Machine* m = Machine::Current();
  std::wstring profile;
  if (m && !m->Config().user.empty() && QueryProfileImagePath(m->Config().user, &profile)) {
    profile = ExpandReferences(profile, [&](const std::wstring& name, std::wstring* value) {
      for (const auto& [n, v] : env)
        if (EqualsNoCase(n, name)) return *value = v, true;
      return false;
    });
    size_t sep = profile.find_last_of(L'\\');
    env.insert(env.end(), {{L"USERPROFILE", profile},
                           {L"USERNAME", sep == std::wstring::npos ? profile : profile.substr(sep + 1)},
                           {L"HOMEDRIVE", profile.substr(0, 2)},
                           {L"HOMEPATH", profile.size() > 2 ? profile.substr(2) : L"\\"},
                           {L"APPDATA", profile + L"\\AppData\\Roaming"},
                           {L"LOCALAPPDATA", profile + L"\\AppData\\Local"},
                           {L"TEMP", profile + L"\\AppData\\Local\\Temp"},
                           {L"TMP", profile + L"\\AppData\\Local\\Temp"}});
  }
  return env;
}

}  // namespace

DWORD HostFileSystem::ExpandEnvironment(const wchar_t* source, wchar_t* out, DWORD size) {
  if (!source) {
    SetLastErrorCode(ERROR_INVALID_PARAMETER);
    return 0;
  }
  auto env = MachineEnvironment();
  std::wstring text = ExpandReferences(source, [&](const std::wstring& name, std::wstring* value) {
    for (const auto& [n, v] : env)
      if (EqualsNoCase(n, name)) return *value = v, true;
    return false;
  });
  DWORD needed = static_cast<DWORD>(text.size() + 1);
  if (out && needed <= size) std::wmemcpy(out, text.c_str(), needed);
  return needed;
}

class HostKnownFolders : public KnownFolders {
 public:
  HRESULT GetFolderPath(int csidl, wchar_t* path) override {
    if (!path) return E_INVALIDARG;
    path[0] = L'\0';
    const wchar_t* reference = nullptr;
    switch (csidl & ~CSIDL_FLAG_MASK) {
      case CSIDL_PROFILE: reference = L"%USERPROFILE%"; break;
      case CSIDL_LOCAL_APPDATA: reference = L"%LOCALAPPDATA%"; break;
      case CSIDL_APPDATA: reference = L"%APPDATA%"; break;
      case CSIDL_COMMON_APPDATA: reference = L"%ProgramData%"; break;
      case CSIDL_WINDOWS: reference = L"%SystemRoot%"; break;
      case CSIDL_SYSTEM: reference = L"%SystemRoot%\\System32"; break;
      case CSIDL_PROGRAM_FILES: reference = L"%ProgramFiles%"; break;
      default: return E_INVALIDARG;
    }
    FileSystem& fs = FileSystem::Default();
    wchar_t buffer[MAX_PATH];
    DWORD n = fs.ExpandEnvironment(reference, buffer, MAX_PATH);
    if (n == 0 || n > MAX_PATH) return static_cast<HRESULT>(0x800700CEu);  // ERROR_FILENAME_EXCED_RANGE
    if (buffer[0] == L'%') return static_cast<HRESULT>(0x80070002u);       // the machine has no such user
    if (csidl & CSIDL_FLAG_CREATE) {
      std::wstring part;
      for (const wchar_t* p = buffer;; ++p) {
        if (*p == L'\\' || *p == L'\0') {
          if (part.size() > 3) fs.MakeFolder(part.c_str());
          if (*p == L'\0') break;
        }
        part += *p;
      }
    }
    std::wmemcpy(path, buffer, n);
    return S_OK;
  }
};

}  // namespace platform::host

namespace platform {
FileSystem& FileSystem::Default() {
  static host::HostFileSystem fs;
  return fs;
}
KnownFolders& KnownFolders::Default() {
  static host::HostKnownFolders folders;
  return folders;
}
}  // namespace platform
