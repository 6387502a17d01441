// Firmware tables of the host: the raw SMBIOS data comes from the machine's
// smbios.bin (already in the firmware-table layout), else is composed from
// the kernel's SMBIOS entry point and DMI table, else is missing.
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/FirmwareTables.h"
#include "platform/LastError.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/RawSmbios.h"

namespace platform {

namespace {

class HostFirmwareTables : public FirmwareTables {
 public:
  UINT GetTable(DWORD provider, DWORD tableId, void* buffer, DWORD bufferSize) override {
    std::vector<BYTE> data;
    if (provider != kFirmwareProviderRsmb || tableId != 0 || !Load(&data)) {
      SetLastErrorCode(ERROR_NOT_FOUND);
      return 0;
    }
    if (data.size() > 0xFFFFFFFFu) {
      SetLastErrorCode(ERROR_INVALID_DATA);
      return 0;
    }
    UINT needed = static_cast<UINT>(data.size());
    if (!buffer || bufferSize < needed) {
      if (buffer) SetLastErrorCode(ERROR_INSUFFICIENT_BUFFER);
      return needed;
    }
    if (needed) std::memcpy(buffer, data.data(), needed);
    return needed;
  }

 private:
  static bool Load(std::vector<BYTE>* data) {
    const host::Machine* m = host::Machine::Current();
    if (m) {
      std::error_code ec;
      std::filesystem::path file = m->Root() / "smbios.bin";
      if (std::filesystem::is_regular_file(file, ec)) return host::ReadRawSmbios(file, data);
    }
    return host::ComposeRawSmbios("/sys/firmware/dmi/tables", data);
  }
};

}  // namespace

FirmwareTables& FirmwareTables::Default() {
  static HostFirmwareTables tables;
  return tables;
}

}  // namespace platform
