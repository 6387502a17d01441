// The firmware-table layout of raw SMBIOS data, composed from the kernel's
// SMBIOS entry point and DMI table (both files of one folder, as in
// /sys/firmware/dmi/tables).
#pragma once

#include <filesystem>
#include <vector>

#include "platform/WinTypes.h"

namespace platform::host {

bool ComposeRawSmbios(const std::filesystem::path& folder, std::vector<BYTE>* out);

}  // namespace platform::host
