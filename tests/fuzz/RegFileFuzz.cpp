// The host's .reg reader over arbitrary bytes in every form it takes
// (UTF-16LE, UTF-8, REGEDIT4 in a single- and a double-byte code page), and
// the writer over whatever the reader accepted: what is written must read
// back to the same text (REGEDIT4 text the code page cannot hold is
// written as UTF-16LE).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/host/machine/RegFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x100000) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (UINT acp : {1252u, 932u}) {
    platform::host::RegNode root;
    platform::host::RegFileForm form;
    std::string error;
    if (!platform::host::ParseRegFileBytes(bytes, L"HKEY_LOCAL_MACHINE", "f", acp, &root, &form, &error)) continue;
    std::string written = platform::host::FormatRegFileBytes(root, L"HKEY_LOCAL_MACHINE", form);
    platform::host::RegNode again;
    if (!platform::host::ParseRegFileBytes(written, L"HKEY_LOCAL_MACHINE", "f", acp, &again, &form, &error)) abort();
    if (platform::host::FormatRegFileBytes(again, L"HKEY_LOCAL_MACHINE", form) != written) abort();
  }
  return 0;
}
