// velk-msilog's reader on any bytes: read whole and in pieces (the first
// byte sets their size), it gives the same summary, and the summary holds
// no zero byte and stays within its bounds.
#include <cstdint>
#include <string>

#include "MsiLogSummary.h"

namespace {

std::string Summary(const uint8_t* data, size_t size, size_t piece) {
  msilog::LogReader reader;
  for (size_t at = 0; at < size; at += piece) {
    reader.Feed(reinterpret_cast<const char*>(data) + at, size - at < piece ? size - at : piece);
  }
  return msilog::Format(reader.Finish());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  const std::string whole = Summary(data + 1, size - 1, size);
  if (Summary(data + 1, size - 1, piece) != whole) __builtin_trap();
  if (whole.find('\0') != std::string::npos) __builtin_trap();
  // 64 actions of 16 runs and 4 lists of 32 lines of at most 1 KiB each.
  if (whole.size() > 64 * (16 * 3 + 4 * 33) * 1100) __builtin_trap();
  return 0;
}
