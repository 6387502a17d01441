// The firmware-table layout of raw SMBIOS data, composed from the kernel's
// SMBIOS entry point and DMI table (both files of one folder, as in
// /sys/firmware/dmi/tables).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace platform::host {

// The bytes of a file already in the firmware-table layout (smbios.bin).
bool ReadRawSmbios(const std::filesystem::path& file, std::vector<BYTE>* out);

bool ComposeRawSmbios(const std::filesystem::path& folder, std::vector<BYTE>* out);

// The firmware-table layout from what a PC gives: the file dmidecode
// --dump-bin writes (entry point, table at the address it names) or the
// blob GetSystemFirmwareTable('RSMB') returns, kept as it is.
bool RawSmbiosFromDump(const std::vector<BYTE>& dump, std::vector<BYTE>* out, std::string* error);

}  // namespace platform::host
