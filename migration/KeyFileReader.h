// Reads a whole PC environment key file through the byte-stream port. Only
// a regular file is read, and at most kMaxKeyFileBytes of it: a key file is
// one short text, so anything larger is not one (an endless device, a
// stray log), and a pipe would keep the reader waiting.
#pragma once

#include <cstdint>

struct Buffer;

constexpr uint32_t kMaxKeyFileBytes = 1u << 20;

enum class KeyFileRead {
  kOk,
  kOpenFailed,  // with the open's last error
  kNotRegular,  // a pipe, device or other special file (ERROR_BAD_FILE_TYPE)
  kReadFailed,  // with the read's last error
  kTooLarge,    // more than kMaxKeyFileBytes (ERROR_FILE_TOO_LARGE)
  kNoMemory,    // Buffer_Append failed and recorded it; the buffer is only fit to be freed
};

// Appends the file's bytes to into; path is narrow, in the ANSI code page.
// The thread's last error is the cause's when the result is not kOk.
KeyFileRead ReadKeyFile(const char* path, Buffer* into);
