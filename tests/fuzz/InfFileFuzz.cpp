// The host's INF reader over arbitrary bytes (UTF-8, UTF-16 with its mark,
// anything else): sections, lines, string substitution and the lookups the
// host's Plug and Play makes.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/host/machine/InfFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x100000) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  platform::host::InfFile inf = platform::host::InfFile::Parse(bytes);
  std::wstring value;
  inf.Value(L"Version", L"Signature", &value);
  inf.Value(L"Version", L"ClassGUID", &value);
  for (const platform::host::InfLine* m : inf.Lines(L"Manufacturer")) {
    if (m->fields.empty()) continue;
    for (const platform::host::InfLine* l : inf.Lines(m->fields[0])) {
      value = inf.Expand(l->key);
      for (const auto& f : l->fields) value = inf.Expand(f);
    }
  }
  return 0;
}
