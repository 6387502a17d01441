// The per-thread error record. The name is the one the library has always
// had; the file builds for both platforms, the system texts come through the
// platform port.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/Port.h"
#include "platform/SystemMessages.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"

namespace {

const char kFile[] = "RasError_win32.cpp";

// Each thread's record, freed when the thread ends (nothing of a thread
// outlives it that could still read its record).
struct ThreadSlot {
  RasError* record = nullptr;
  ~ThreadSlot() { RasUtil_Free(record); }
};
thread_local ThreadSlot t_slot;
RasError g_fallback;

RasError* ThreadRecord() {
  if (!t_slot.record) t_slot.record = static_cast<RasError*>(RasUtil_Calloc(1, sizeof(RasError)));
  return t_slot.record;
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '\\');
  return slash ? slash + 1 : path;
}

void FormatLocation(RasError* record, const char* function, const char* file, unsigned line) {
  std::snprintf(record->location, 255, "%s at %s line %u", function ? function : "", file ? BaseName(file) : "", line);
}

// Appends text to message without passing 1023 characters.
void AppendMessage(RasError* record, const char* text) {
  size_t used = std::strlen(record->message);
  size_t room = sizeof record->message - 1 - used;
  size_t n = std::strlen(text);
  if (n > room) n = room;
  std::memcpy(record->message + used, text, n);
  record->message[used + n] = '\0';
}

}  // namespace

RasError* RasGetLastError() {
  if (RasError* record = ThreadRecord()) return record;
  std::memset(&g_fallback, 0, sizeof g_fallback);
  g_fallback.code = 255;
  std::snprintf(g_fallback.message, sizeof g_fallback.message, "returns null pointer");
  FormatLocation(&g_fallback, "RasGetLastError", kFile, 52);
  return &g_fallback;
}

void RasSetLastError(const char* function, const char* file, unsigned line, int code, DWORD systemError,
                     const char* format, ...) {
  RasError* record = ThreadRecord();
  if (!record) return;
  record->code = 0;
  if (format) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(record->message, 1023, format, args);
    va_end(args);
  }
  record->code = code;
  FormatLocation(record, function, file, line);
  if (systemError != 0) {
    char description[1024] = {};
    platform::Use<platform::SystemMessages>().Format(FORMAT_MESSAGE_FROM_SYSTEM, platform::MessageModule::None,
                                                     systemError, 0, description, sizeof description);
    description[sizeof description - 1] = '\0';
    description[std::strcspn(description, "\r\n")] = '\0';
    AppendMessage(record, " :");
    AppendMessage(record, description);
  }
}
