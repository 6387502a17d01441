// The SMBIOS identity read over arbitrary firmware bytes, handed out by a
// firmware port with GetSystemFirmwareTable's size rules.
#include <cstdint>
#include <cstring>

#include "SystemInfoPrivate.h"
#include "platform/FirmwareTables.h"
#include "platform/LastError.h"
#include "platform/Port.h"

namespace {

class FuzzFirmware : public platform::FirmwareTables {
 public:
  UINT GetTable(DWORD, DWORD, void* buffer, DWORD bufferSize) override {
    if (size == 0) {
      platform::SetLastErrorCode(ERROR_NOT_FOUND);
      return 0;
    }
    if (!buffer || bufferSize < size) return static_cast<UINT>(size);
    std::memcpy(buffer, data, size);
    return static_cast<UINT>(size);
  }
  const uint8_t* data = nullptr;
  size_t size = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x100000) return 0;
  static FuzzFirmware firmware;
  static platform::ScopedPort<platform::FirmwareTables> use(firmware);
  firmware.data = data;
  firmware.size = size;

  char text[kSmbiosTextSize];
  if (SystemInfo_ReadSmbiosId(text)) {
    // The identity is a terminated text inside its area.
    if (std::memchr(text, 0, sizeof text) == nullptr) __builtin_trap();
  }
  return 0;
}
