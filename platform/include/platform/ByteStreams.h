// The runtime library's byte-stream files, opened by narrow paths in the
// ANSI code page (fopen, _stat, remove, rename). Reads and writes use the
// returned FILE* directly. Failures set the thread's last error as the
// Windows runtime does (2 for a missing file, 3 for a missing folder, ...).
//
// Which port for what: this one only where the system reads and writes
// through the runtime library with narrow paths (req.dat and req.dat.new,
// the rotating log); every other file and folder operation, and every wide
// path, goes through the file-system port (FileSystem.h).
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/Port.h"
#include "platform/WinTypes.h"

namespace platform {

struct StreamFileStatus {
  uint64_t size = 0;
  int64_t modified = 0;  // seconds since 1970-01-01 UTC
};

class ByteStreams {
 public:
  virtual ~ByteStreams() = default;
  // fopen with read and write sharing for other processes; null on failure.
  virtual FILE* Open(const char* path, const char* mode) = 0;
  // _stat: 0 on success, -1 when the file cannot be queried.
  virtual int Status(const char* path, StreamFileStatus* status) = 0;
  // remove and rename: 0 on success, -1 on failure.
  virtual int Remove(const char* path) = 0;
  virtual int Rename(const char* from, const char* to) = 0;

  VELK_PORT(ByteStreams);
};

}  // namespace platform
