#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstring>

#include "Win32OwnFile.h"
#include "platform/ByteStreams.h"
#include "platform/UniqueHandle.h"

namespace platform {

namespace {

struct ClosedByCloseHandle : InvalidValueInvalid {
  static void Close(HANDLE handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueHandle<ClosedByCloseHandle>;

class Win32ByteStreams : public ByteStreams {
 public:
  FILE* Open(const char* path, const char* mode) override { return _fsopen(path, mode, _SH_DENYNO); }
  FILE* OpenRegular(const char* path) override {
    FILE* f = _fsopen(path, "rb", _SH_DENYNO);
    if (!f) return nullptr;
    // A pipe or a device opens like a file; only a disk file is read.
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != FILE_TYPE_DISK) {
      std::fclose(f);
      SetLastError(ERROR_BAD_FILE_TYPE);
      return nullptr;
    }
    return f;
  }
  FILE* CreateNew(const char* path) override {
    // DeleteFile removes a hard or symbolic link itself, never its target.
    if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) return nullptr;
    KernelHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    if (GetFileType(file.Get()) != FILE_TYPE_DISK) {
      SetLastError(ERROR_BAD_FILE_TYPE);
      return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), _O_WRONLY | _O_BINARY);
    if (fd == -1) {
      SetLastError(ERROR_TOO_MANY_OPEN_FILES);
      return nullptr;
    }
    file.Release();  // the descriptor owns it now
    FILE* f = _fdopen(fd, "wb");
    if (!f) {
      _close(fd);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return f;
  }
  FILE* OpenOwn(const char* path, const char* mode) override {
    bool update = std::strchr(mode, '+') != nullptr;
    DWORD access = update ? GENERIC_READ | GENERIC_WRITE : mode[0] == 'r' ? GENERIC_READ : GENERIC_WRITE;
    DWORD disposition = mode[0] == 'r' ? OPEN_EXISTING : mode[0] == 'a' ? OPEN_ALWAYS : CREATE_ALWAYS;
    KernelHandle file(OpenOwnFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, disposition));
    if (!file) return nullptr;
    int flags = _O_BINARY |
                (update           ? _O_RDWR
                 : mode[0] == 'r' ? _O_RDONLY
                                  : _O_WRONLY) |
                (mode[0] == 'a' ? _O_APPEND : 0);
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), flags);
    if (fd == -1) {
      SetLastError(ERROR_TOO_MANY_OPEN_FILES);
      return nullptr;
    }
    file.Release();  // the descriptor owns it now
    FILE* f = _fdopen(fd, mode);
    if (!f) {
      _close(fd);
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return f;
  }
  int Commit(FILE* stream) override {
    if (std::fflush(stream) != 0) return -1;
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) ? 0 : -1;
  }
  int Status(const char* path, StreamFileStatus* status) override {
    struct _stat64 st;
    if (_stat64(path, &st) != 0) return -1;
    status->size = static_cast<uint64_t>(st.st_size);
    status->modified = static_cast<int64_t>(st.st_mtime);
    return 0;
  }
  int Remove(const char* path) override { return ::remove(path); }
  int Rename(const char* from, const char* to) override { return ::rename(from, to); }
  int Replace(const char* from, const char* to) override {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
  }
};

}  // namespace

ByteStreams& ByteStreams::Default() {
  static Win32ByteStreams streams;
  return streams;
}

}  // namespace platform
