// Byte-stream files of the host. A drive-absolute Windows path ("C:\...")
// is converted from the ANSI code page and mapped into the machine folder;
// any other path is a host path and used as it is (tests, tools).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/ByteStreams.h"
#include "platform/CodePages.h"
#include "platform/LastError.h"
#include "platform/host/machine/FileNames.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/posix/UniqueFd.h"

namespace platform {

namespace {

// A path in Windows form: a drive (whatever stands before the colon) or a
// backslash anywhere. Such a path is mapped into the machine or refused;
// only plain host paths (tests, tools) are used as they are.
bool IsWindowsPath(const char* path) {
  const char* sep = std::strpbrk(path, ":\\/");
  return (sep && *sep != '/') || std::strchr(path, '\\');
}

DWORD Win32FromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOSPC: return ERROR_DISK_FULL;
    case EBUSY: return ERROR_SHARING_VIOLATION;
    case ENXIO: return ERROR_BAD_FILE_TYPE;  // a pipe nobody reads
    default: return ERROR_INVALID_FUNCTION;
  }
}

// Windows tells a missing folder (3) from a missing file (2).
DWORD MissingCode(const std::string& hostPath) {
  std::string::size_type slash = hostPath.rfind('/');
  if (slash == std::string::npos || slash == 0) return ERROR_FILE_NOT_FOUND;
  struct stat st;
  return ::stat(hostPath.substr(0, slash).c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                                    : ERROR_PATH_NOT_FOUND;
}

void SetFromErrno(int error, const std::string& hostPath) {
  SetLastErrorCode(error == ENOENT ? MissingCode(hostPath) : Win32FromErrno(error));
}

// Host path for a narrow path; false when a Windows path cannot be mapped.
bool HostPath(const char* path, std::string* out) {
  if (!path || !*path) {
    SetLastErrorCode(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (!IsWindowsPath(path)) {
    *out = path;
    return true;
  }
  const host::Machine* m = host::Machine::Current();
  std::wstring wide;
  std::filesystem::path mapped;
  if (!m || !ToWide(CP_ACP, path, &wide) || !m->MapPath(wide, &mapped)) {
    SetLastErrorCode(ERROR_PATH_NOT_FOUND);
    return false;
  }
  *out = mapped.string();
  return true;
}

// open(2) flags of an fopen mode ("r", "wb", "a+b", ...).
int OpenFlags(const char* mode) {
  int access = std::strchr(mode, '+') ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
  switch (mode[0]) {
    case 'w': return access | O_CREAT | O_TRUNC;
    case 'a': return access | O_CREAT | O_APPEND;
    default: return access;
  }
}

// A stream over fd once it is a regular file, which then is back to
// blocking; fd is closed otherwise (the last error then says why).
FILE* RegularStream(host::UniqueFd& fd, const char* mode) {
  struct stat st;
  DWORD refused = ::fstat(fd.Get(), &st) != 0 ? Win32FromErrno(errno)
                  : S_ISDIR(st.st_mode)       ? ERROR_ACCESS_DENIED
                  : !S_ISREG(st.st_mode)      ? ERROR_BAD_FILE_TYPE
                                              : ERROR_SUCCESS;
  FILE* f = nullptr;
  if (refused == ERROR_SUCCESS) {
    int flags = ::fcntl(fd.Get(), F_GETFL);
    if (flags >= 0 && ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) == 0) f = ::fdopen(fd.Get(), mode);
    if (f) {
      fd.Release();
      return f;
    }
    refused = Win32FromErrno(errno);
  }
  SetLastErrorCode(refused);
  return nullptr;
}

int Checked(int result) {
  if (result != 0) SetLastErrorCode(Win32FromErrno(errno));
  return result;
}

class HostByteStreams : public ByteStreams {
 public:
  FILE* Open(const char* path, const char* mode) override {
    std::string host;
    if (!HostPath(path, &host)) return nullptr;
    struct stat st;
    if (::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      SetLastErrorCode(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    // The runtime refuses to write a file marked read-only.
    bool writes = std::strpbrk(mode, "wa+") != nullptr;
    if (writes && (host::StoredDosAttributes(host.c_str()) & FILE_ATTRIBUTE_READONLY)) {
      SetLastErrorCode(ERROR_ACCESS_DENIED);
      errno = EACCES;
      return nullptr;
    }
    // Without O_NONBLOCK the open of a pipe waits for its other end; only
    // regular files are streams here.
    host::UniqueFd fd(::open(host.c_str(), OpenFlags(mode) | O_NONBLOCK | O_CLOEXEC, 0666));
    if (fd.Get() < 0) {
      SetFromErrno(errno, host);
      return nullptr;
    }
    return RegularStream(fd, mode);
  }
  FILE* OpenRegular(const char* path) override {
    std::string host;
    if (!HostPath(path, &host)) return nullptr;
    host::UniqueFd fd(::open(host.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
      SetFromErrno(errno, host);
      return nullptr;
    }
    return RegularStream(fd, "rb");
  }
  FILE* CreateNew(const char* path) override {
    std::string host;
    if (!HostPath(path, &host)) return nullptr;
    // DeleteFile first: it removes a link itself, never its target, and
    // refuses a folder or a file marked read-only.
    struct stat st;
    if (::lstat(host.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode) ||
          (S_ISREG(st.st_mode) && (host::StoredDosAttributes(host.c_str()) & FILE_ATTRIBUTE_READONLY))) {
        SetLastErrorCode(ERROR_ACCESS_DENIED);
        return nullptr;
      }
      if (::unlink(host.c_str()) != 0 && errno != ENOENT) {
        SetFromErrno(errno, host);
        return nullptr;
      }
    }
    // Whatever appears at the name in between is not written through.
    host::UniqueFd fd(::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.Get() < 0) {
      if (errno == EEXIST)
        SetLastErrorCode(ERROR_FILE_EXISTS);
      else
        SetFromErrno(errno, host);
      return nullptr;
    }
    return RegularStream(fd, "wb");
  }
  FILE* OpenOwn(const char* path, const char* mode) override {
    std::string host;
    if (!HostPath(path, &host)) return nullptr;
    bool writes = std::strpbrk(mode, "wa+") != nullptr;
    if (writes && (host::StoredDosAttributes(host.c_str()) & FILE_ATTRIBUTE_READONLY)) {
      SetLastErrorCode(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    // Truncation waits until the file is known to be this name's alone.
    host::UniqueFd fd(::open(host.c_str(), (OpenFlags(mode) & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
    if (fd.Get() < 0) {
      if (errno == ELOOP || errno == ENXIO)
        SetLastErrorCode(ERROR_ACCESS_DENIED);  // a symbolic link or a pipe at the name
      else
        SetFromErrno(errno, host);
      return nullptr;
    }
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0) {
      SetFromErrno(errno, host);
      return nullptr;
    }
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
      SetLastErrorCode(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    if (mode[0] == 'w' && ::ftruncate(fd.Get(), 0) != 0) {
      SetLastErrorCode(Win32FromErrno(errno));
      return nullptr;
    }
    return RegularStream(fd, mode);
  }
  // The stream calls of the base, with errno turned into the last error as
  // the Windows runtime leaves it.
  size_t Read(void* buffer, size_t bytes, FILE* stream) override {
    errno = 0;
    size_t n = std::fread(buffer, 1, bytes, stream);
    if (n < bytes && std::ferror(stream)) SetLastErrorCode(Win32FromErrno(errno));
    return n;
  }
  size_t Write(const void* buffer, size_t bytes, FILE* stream) override {
    size_t n = std::fwrite(buffer, 1, bytes, stream);
    if (n < bytes) SetLastErrorCode(Win32FromErrno(errno));
    return n;
  }
  int Close(FILE* stream) override { return Checked(std::fclose(stream)); }
  int Commit(FILE* stream) override {
    return Checked(std::fflush(stream) != 0 || ::fsync(::fileno(stream)) != 0 ? -1 : 0);
  }
  int Status(const char* path, StreamFileStatus* status) override {
    std::string host;
    if (!HostPath(path, &host)) return -1;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) {
      SetFromErrno(errno, host);
      return -1;
    }
    status->size = static_cast<uint64_t>(st.st_size);
    status->modified = static_cast<int64_t>(st.st_mtime);
    return 0;
  }
  int Remove(const char* path) override {
    std::string host;
    if (!HostPath(path, &host)) return -1;
    // remove() of the Windows runtime deletes files only.
    struct stat st;
    if (::lstat(host.c_str(), &st) == 0 &&
        (S_ISDIR(st.st_mode) || (host::StoredDosAttributes(host.c_str()) & FILE_ATTRIBUTE_READONLY))) {
      SetLastErrorCode(ERROR_ACCESS_DENIED);
      errno = EACCES;
      return -1;
    }
    if (::unlink(host.c_str()) != 0) {
      SetFromErrno(errno, host);
      return -1;
    }
    return 0;
  }
  int Replace(const char* from, const char* to) override {
    std::string hostFrom, hostTo;
    if (!HostPath(from, &hostFrom) || !HostPath(to, &hostTo)) return -1;
    struct stat st;
    if (::lstat(hostTo.c_str(), &st) == 0 &&
        (S_ISDIR(st.st_mode) || (host::StoredDosAttributes(hostTo.c_str()) & FILE_ATTRIBUTE_READONLY))) {
      SetLastErrorCode(ERROR_ACCESS_DENIED);
      return -1;
    }
    if (::rename(hostFrom.c_str(), hostTo.c_str()) != 0) {
      SetFromErrno(errno, hostFrom);
      return -1;
    }
    return 0;
  }
  int Rename(const char* from, const char* to) override {
    std::string hostFrom, hostTo;
    if (!HostPath(from, &hostFrom) || !HostPath(to, &hostTo)) return -1;
    // Like MoveFile, rename() of the Windows runtime refuses an existing target.
    struct stat st;
    if (::lstat(hostTo.c_str(), &st) == 0) {
      SetLastErrorCode(ERROR_ALREADY_EXISTS);
      errno = EEXIST;
      return -1;
    }
    if (::rename(hostFrom.c_str(), hostTo.c_str()) != 0) {
      SetFromErrno(errno, hostFrom);
      return -1;
    }
    return 0;
  }
};

}  // namespace

ByteStreams& ByteStreams::Default() {
  static HostByteStreams streams;
  return streams;
}

}  // namespace platform
