// The host's Windows path mapping over any text: a path that maps must
// land inside one drive folder (drive_a to drive_z) of the machine, with no
// component that climbs. Input: the first byte picks the form, UTF-8 text
// or raw 16-bit units (lone surrogates and any value a caller could pass).
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/host/machine/Machine.h"
#include "platform/host/machine/Utf.h"

namespace fs = std::filesystem;

namespace {

// A small machine with a few folders, so that case-insensitive matching of
// existing names is exercised too.
const platform::host::Machine& TheMachine() {
  static const platform::host::Machine* machine = [] {
    // The locale the module runs in: a UTF-8 one, where the wide character
    // class functions know letters beyond ASCII.
    std::setlocale(LC_ALL, "C.UTF-8");
    char pattern[] = "/tmp/velk-fuzz-machine-XXXXXX";
    if (!::mkdtemp(pattern)) abort();
    fs::path root = pattern;
    fs::create_directories(root / "drive_c/Users/Alice/AppData");
    fs::create_directories(root / "drive_c/Windows/INF");
    fs::create_directories(root / "victim");
    platform::host::MachineConfig config;
    config.root = root;
    return new platform::host::Machine(config);
  }();
  return *machine;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 0x1000) return 0;
  std::wstring path;
  if (data[0] & 1) {
    for (size_t i = 1; i + 1 < size; i += 2) path += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  } else {
    path = platform::host::Utf8ToWide(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  }
  const platform::host::Machine& machine = TheMachine();
  fs::path mapped;
  if (!machine.MapPath(path, &mapped)) return 0;
  fs::path rel = mapped.lexically_relative(machine.Root());
  auto it = rel.begin();
  if (it == rel.end()) abort();
  std::string drive = it->string();
  if (drive.size() != 7 || drive.compare(0, 6, "drive_") != 0 || drive[6] < 'a' || drive[6] > 'z') abort();
  for (++it; it != rel.end(); ++it) {
    std::string part = it->string();
    if (part == ".." || part == "." || part.find('\0') != std::string::npos) abort();
  }
  // The text handed to the system must be the same path.
  if (mapped.string().find('\0') != std::string::npos) abort();
  if (mapped.lexically_normal() != mapped && mapped.lexically_normal() != mapped.parent_path() / "") abort();
  return 0;
}
