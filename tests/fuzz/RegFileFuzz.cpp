// The host registry's reader over the bytes of a .reg file a user drops
// into a machine folder. A file that reads is written back as the machine
// writes its hives; that text must read again to the same text, or a
// write-back would change the registry.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/host/RegFile.h"

namespace {

const std::filesystem::path& Scratch() {
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("velk-regfile-fuzz-" + std::to_string(::getpid()) + ".reg");
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x40000) return 0;
  {
    std::ofstream out(Scratch(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::wstring root = L"HKEY_LOCAL_MACHINE";
  platform::host::RegNode node;
  std::string error;
  if (!platform::host::ReadRegFile(Scratch(), root, &node, &error)) return 0;
  std::string text = platform::host::FormatRegText(node, root);
  platform::host::RegNode again;
  if (!platform::host::ParseRegText(text, root, "again.reg", &again, &error)) std::abort();
  if (platform::host::FormatRegText(again, root) != text) std::abort();
  return 0;
}
