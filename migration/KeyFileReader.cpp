#include "KeyFileReader.h"

#include <cstdio>

#include "platform/ByteStreams.h"
#include "platform/LastError.h"
#include "platform/Port.h"
#include "velkras2/Buffer.h"

namespace {

// Closes the stream and keeps the last error the caller reports.
KeyFileRead CloseWith(platform::ByteStreams& streams, FILE* in, KeyFileRead result) {
  DWORD error = platform::GetLastErrorCode();
  streams.Close(in);
  platform::SetLastErrorCode(error);
  return result;
}

}  // namespace

KeyFileRead ReadKeyFile(const char* path, Buffer* into) {
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  FILE* in = streams.OpenRegular(path);
  if (!in)
    return platform::GetLastErrorCode() == ERROR_BAD_FILE_TYPE ? KeyFileRead::kNotRegular : KeyFileRead::kOpenFailed;
  char chunk[1024];
  uint32_t total = 0;
  for (;;) {
    size_t n = streams.Read(chunk, sizeof chunk, in);
    if (n == 0) break;
    if (n > kMaxKeyFileBytes - total) {
      platform::SetLastErrorCode(ERROR_FILE_TOO_LARGE);
      return CloseWith(streams, in, KeyFileRead::kTooLarge);
    }
    total += static_cast<uint32_t>(n);
    if (!Buffer_Append(into, chunk, static_cast<uint32_t>(n))) return CloseWith(streams, in, KeyFileRead::kNoMemory);
  }
  if (streams.Error(in)) return CloseWith(streams, in, KeyFileRead::kReadFailed);
  streams.Close(in);
  return KeyFileRead::kOk;
}
