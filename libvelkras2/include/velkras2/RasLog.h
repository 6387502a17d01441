// The process-wide rotating log: UTF-8 lines with a local time prefix and a
// tag, rotated into numbered generations by UTC day and by size.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>

struct RasLog {
  FILE* file;
  char path[260];
  std::mutex lock;
  uint32_t generations;
  uint32_t sizeLimit;
  uint32_t size;
  uint32_t day;
};

// The process's log, created on the first call; null when it cannot be made.
RasLog* RasLog_Get();
// Opens (appends to) the file at path, a narrow path in the ANSI code page.
bool RasLog_Open(RasLog* log, const char* path);
// Appends "<local time> <tag> <message as UTF-8>\n"; message is ANSI text.
void RasLog_Write(RasLog* log, const char* tag, const char* message);
// Closes the file and frees the log; RasLog_Get then makes a new one.
void RasLog_Close(RasLog* log);
// A newly allocated UTF-8 copy of ANSI text (free with RasUtil_Free), or null.
char* RasLog_AnsiToUtf8(const char* text);
