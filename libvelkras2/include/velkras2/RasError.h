// Per-thread error record of the support library: every fallible function
// returns a success flag and leaves the cause of a failure here.
#pragma once

#include <cstdint>

#include "platform/WinTypes.h"

struct RasError {
  int32_t code;
  char location[256];  // "<function> at <file> line <n>"
  char message[1024];  // formatted message, then " :" and the system's text
};

// The calling thread's record, created zero-filled on first use; never null
// (a shared fallback record stands in when the thread's cannot be had).
RasError* RasGetLastError();

// Records one failure in the calling thread's record. file is a source path
// whose text after the last backslash is shown; line is one of the kLine
// constants of the calling file: the numbers the records have always carried,
// kept because the log output shows them; a systemError other than 0
// appends " :" and the first line of its system description; a null format
// keeps the previous message.
void RasSetLastError(const char* function, const char* file, unsigned line, int code, DWORD systemError,
                     const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 6, 7)))
#endif
    ;
