// IniReader_Read over arbitrary text. The text sits in a block of exactly its
// size, so that any read past it is caught; the first byte picks whether the
// terminator is counted.
#include <cstdint>
#include <cstring>
#include <vector>

#include "velkras2/IniReader.h"
#include "velkras2/RasUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 0x100000) return 0;
  bool terminate = data[0] & 1;
  std::vector<char> text(data + 1, data + size);
  if (terminate) text.push_back('\0');
  char* block = new char[text.size() ? text.size() : 1];
  if (!text.empty()) std::memcpy(block, text.data(), text.size());

  IniReader* reader = IniReader_New(block, static_cast<uint32_t>(text.size()));
  if (reader) {
    static const char* const kLookups[][2] = {{"Key", "Value"}, {"key", "sign"}, {"", ""}, {"a", "="}};
    for (const auto& lookup : kLookups) {
      char* value = nullptr;
      if (IniReader_Read(reader, lookup[0], lookup[1], &value) && value) {
        // The value is a terminated text of its own.
        volatile size_t n = std::strlen(value);
        (void)n;
      }
      RasUtil_Free(value);
    }
    IniReader_Free(reader);
  }
  delete[] block;
  return 0;
}
