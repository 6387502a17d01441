// The runtime library's byte-stream files, opened by narrow paths in the
// ANSI code page (fopen, _stat, remove, rename). Reads and writes go through
// the stream calls below, so that tests can make them fail; a fake that
// keeps the defaults gets the runtime's own calls. Failures set the thread's
// last error as the Windows runtime does (2 for a missing file, 3 for a
// missing folder, ...).
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

  // fopen "rb" of a regular file only: a pipe, device or folder is refused
  // with ERROR_BAD_FILE_TYPE (ERROR_ACCESS_DENIED for a folder) without
  // waiting for a writer. The default is the build's adapter.
  virtual FILE* OpenRegular(const char* path);
  // A new regular file opened "wb": whatever stands at path (a file, a hard
  // or symbolic link, a pipe) is deleted first, then the file is created
  // exclusively (CREATE_NEW), so the bytes written never reach another
  // file. Null with the last error when either step fails (a folder there
  // gives ERROR_ACCESS_DENIED). The default is the build's adapter.
  virtual FILE* CreateNew(const char* path);
  // fopen (mode "rb", "ab", "wb", with or without '+') of a file that only
  // this name leads to: a symbolic link or junction at the name is never
  // opened through, and anything but a regular file with one link (a link,
  // a second hard link, a folder, a pipe) is refused with
  // ERROR_ACCESS_DENIED before a byte is read or written ("wb" truncates
  // only after that check); a missing file is created for "ab" and "wb".
  // CreateFileA with FILE_FLAG_OPEN_REPARSE_POINT and
  // GetFileInformationByHandle; O_NOFOLLOW and fstat on the host. The
  // default is the build's adapter.
  virtual FILE* OpenOwn(const char* path, const char* mode);
  // Moves from over an existing to in one step (MoveFileExA with
  // MOVEFILE_REPLACE_EXISTING and MOVEFILE_WRITE_THROUGH; rename(2) on the
  // host): to is at every instant its old file or the new one. A folder or a
  // read-only file at to gives ERROR_ACCESS_DENIED; 0 on success, -1 with
  // the last error. The default is the build's adapter.
  virtual int Replace(const char* from, const char* to);
  // fread, fwrite, ferror, fclose.
  virtual size_t Read(void* buffer, size_t bytes, FILE* stream);
  virtual size_t Write(const void* buffer, size_t bytes, FILE* stream);
  virtual int Error(FILE* stream);
  virtual int Close(FILE* stream);
  // fflush, then fsync / FlushFileBuffers: 0 once the written bytes are on the disk,
  // -1 with the last error otherwise. The default is the build's adapter.
  virtual int Commit(FILE* stream);

  VELK_PORT(ByteStreams);
};

}  // namespace platform
