#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/ByteStreams.h"

namespace platform {

namespace {

class Win32ByteStreams : public ByteStreams {
 public:
  FILE* Open(const char* path, const char* mode) override { return _fsopen(path, mode, _SH_DENYNO); }
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
