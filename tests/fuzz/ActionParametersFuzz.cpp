// ParseActionParameters over arbitrary parameter text, taken as UTF-8: it
// must end with S_OK or E_INVALIDARG and never read or write out of bounds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ActionParameters.h"
#include "platform/host/machine/Utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x10000) return 0;
  std::wstring text = platform::host::Utf8ToWide(std::string(reinterpret_cast<const char*>(data), size));
  CActionParameters params;
  HRESULT hr = ParseActionParameters(text, params);
  if (hr != S_OK && hr != E_INVALIDARG) std::abort();
  // Absent names read as empty, present ones as stored.
  if (!params.Has("inf") && !params.Get("inf").empty()) std::abort();
  return 0;
}
