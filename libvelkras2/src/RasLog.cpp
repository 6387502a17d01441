#include "velkras2/RasLog.h"

#include <cstring>
#include <new>
#include <string>

#include "platform/ByteStreams.h"
#include "platform/Clock.h"
#include "platform/CodePages.h"
#include "platform/Port.h"
#include "velkras2/RasUtil.h"

namespace {

RasLog* g_log = nullptr;

constexpr uint32_t kGenerations = 7;
constexpr uint32_t kSizeLimit = 0x100000;
constexpr size_t kMaxPathChars = sizeof(RasLog::path) - 1;

// Whole days since 1970-01-01 UTC from the low 32 bits of the time value.
uint32_t DayNumber(int64_t seconds) { return static_cast<uint32_t>(static_cast<uint64_t>(seconds)) / 86400u; }

uint32_t Today() { return DayNumber(platform::Use<platform::Clock>().UnixTime()); }

void AddSize(RasLog* log, size_t bytes) {
  uint64_t sum = static_cast<uint64_t>(log->size) + bytes;
  log->size = sum > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(sum);
}

// "<path>.<k>", never cut short: a shortened name could be the current file
// or another generation.
std::string GenerationName(const char* path, uint32_t k) { return std::string(path) + "." + std::to_string(k); }

bool Exists(platform::ByteStreams& streams, const char* path) {
  platform::StreamFileStatus status;
  return streams.Status(path, &status) == 0;
}

// Shifts the files one generation up and opens a fresh current file; false
// leaves the log without a file.
bool Rotate(RasLog* log) {
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  std::fclose(log->file);
  log->file = nullptr;
  log->size = 0;

  uint32_t n = log->generations;
  if (n <= 1) {
    // No generations to keep: the current file starts over.
    if (Exists(streams, log->path) && streams.Remove(log->path) != 0) return false;
  } else {
    std::string oldest = GenerationName(log->path, n - 1);
    if (Exists(streams, oldest.c_str()) && streams.Remove(oldest.c_str()) != 0) return false;
    for (uint32_t k = n - 1; k >= 1; --k) {
      std::string source = k >= 2 ? GenerationName(log->path, k - 1) : std::string(log->path);
      if (Exists(streams, source.c_str()) && streams.Rename(source.c_str(), GenerationName(log->path, k).c_str()) != 0)
        return false;
    }
  }
  log->file = streams.OpenOwn(log->path, "ab");
  return log->file != nullptr;
}

bool IsAscii(const char* text) {
  for (; *text; ++text)
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  return true;
}

// Writes bytes, counting them; an empty part is no failure.
bool Put(RasLog* log, const char* bytes, size_t count) {
  if (count == 0) return true;
  if (std::fwrite(bytes, 1, count, log->file) != count) return false;
  AddSize(log, count);
  return true;
}

// The parts of one line in order, as a single stream write when they fit a
// small block; a failed write drops the rest of the line.
template <size_t N>
bool PutParts(RasLog* log, const char* const (&parts)[N], const size_t (&lengths)[N]) {
  char line[512];
  size_t used = 0;
  for (size_t i = 0; i < N; ++i) {
    if (lengths[i] > sizeof line - used) {
      for (size_t k = 0; k < N; ++k)
        if (!Put(log, parts[k], lengths[k])) return false;
      return true;
    }
    std::memcpy(line + used, parts[i], lengths[i]);
    used += lengths[i];
  }
  size_t done = std::fwrite(line, 1, used, log->file);
  AddSize(log, done);
  return done == used;
}

}  // namespace

RasLog* RasLog_Get() {
  if (!g_log) {
    void* block = RasUtil_Calloc(1, sizeof(RasLog));
    if (block) g_log = new (block) RasLog();
  }
  return g_log;
}

bool RasLog_Open(RasLog* log, const char* path) {
  if (!log || !path) return false;
  std::lock_guard<std::mutex> hold(log->lock);
  // A path the record cannot keep whole would be reopened as another file
  // after a rotation.
  if (std::strlen(path) > kMaxPathChars) return false;
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  if (log->file) {
    std::fclose(log->file);
    log->file = nullptr;
  }

  uint32_t size = 0;
  uint32_t day = 0;
  platform::StreamFileStatus status;
  if (streams.Status(path, &status) == 0) {
    size = status.size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(status.size);
    day = DayNumber(status.modified);
  } else {
    day = Today();
  }
  // Lines go only into a file of the log's own: a link at the name could
  // lead them into req.dat or anywhere else.
  FILE* file = streams.OpenOwn(path, "ab");
  if (!file) return false;

  log->file = file;
  log->size = size;
  log->day = day;
  std::memset(log->path, 0, sizeof log->path);
  std::memcpy(log->path, path, std::strlen(path));
  log->generations = kGenerations;
  log->sizeLimit = kSizeLimit;
  return true;
}

void RasLog_Write(RasLog* log, const char* tag, const char* message) {
  if (!log || !tag || !message) return;
  std::lock_guard<std::mutex> hold(log->lock);
  if (!log->file) return;

  uint32_t today = Today();
  bool newDay = log->generations != 0 && log->day != today;
  bool tooLarge = log->sizeLimit != 0 && log->size > log->sizeLimit;
  if ((newDay || tooLarge) && !Rotate(log)) return;

  SYSTEMTIME now;
  platform::Use<platform::Clock>().GetLocalTime(&now);
  char prefix[64];
  int prefixLength = std::snprintf(prefix, sizeof prefix, "%04d/%02d/%02d %02d:%02d:%02d ", now.wYear, now.wMonth,
                                   now.wDay, now.wHour, now.wMinute, now.wSecond);
  if (prefixLength < 0 || static_cast<size_t>(prefixLength) >= sizeof prefix) return;

  // ASCII is the same in every ANSI code page and in UTF-8: no conversion.
  // Should a conversion fail, the message is kept in its own bytes rather
  // than lost.
  char* utf8 = IsAscii(message) ? nullptr : RasLog_AnsiToUtf8(message);
  const char* text = utf8 ? utf8 : message;
  const char* parts[] = {prefix, tag, " ", text, "\n"};
  size_t lengths[] = {static_cast<size_t>(prefixLength), std::strlen(tag), 1, std::strlen(text), 1};
  bool written = PutParts(log, parts, lengths);
  RasUtil_Free(utf8);
  if (!written) return;
  std::fflush(log->file);
  log->day = today;
}

void RasLog_Close(RasLog* log) {
  if (!log) return;
  if (log == g_log) g_log = nullptr;
  if (log->file) std::fclose(log->file);
  log->~RasLog();
  RasUtil_Free(log);
}

char* RasLog_AnsiToUtf8(const char* text) {
  platform::CodePages& pages = platform::Use<platform::CodePages>();
  int wideChars = pages.MultiByteToWide(CP_ACP, text, -1, nullptr, 0);
  if (wideChars <= 0) return nullptr;
  wchar_t* wide = static_cast<wchar_t*>(RasUtil_Calloc(static_cast<size_t>(wideChars) + 1, sizeof(wchar_t)));
  if (!wide) return nullptr;
  char* utf8 = nullptr;
  if (pages.MultiByteToWide(CP_ACP, text, -1, wide, wideChars) > 0) {
    int bytes = pages.WideToMultiByte(CP_UTF8, wide, wideChars, nullptr, 0, nullptr);
    if (bytes > 0) {
      utf8 = static_cast<char*>(RasUtil_Calloc(static_cast<size_t>(bytes) + 1, 1));
      if (utf8 && pages.WideToMultiByte(CP_UTF8, wide, wideChars, utf8, bytes, nullptr) <= 0) {
        RasUtil_Free(utf8);
        utf8 = nullptr;
      }
    }
  }
  RasUtil_Free(wide);
  return utf8;
}
