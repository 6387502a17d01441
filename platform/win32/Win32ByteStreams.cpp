#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/ByteStreams.h"

namespace platform {

namespace {

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
};

}  // namespace

ByteStreams& ByteStreams::Default() {
  static Win32ByteStreams streams;
  return streams;
}

}  // namespace platform
