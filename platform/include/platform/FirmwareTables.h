// Firmware table port: GetSystemFirmwareTable with its size rules.
#pragma once

#include "platform/Port.h"
#include "platform/WinTypes.h"

namespace platform {

// Provider signature of the raw SMBIOS data ('RSMB').
constexpr DWORD kFirmwareProviderRsmb = 0x52534D42;

class FirmwareTables {
 public:
  virtual ~FirmwareTables() = default;
  // GetSystemFirmwareTable: with no buffer, or one that is too small, returns
  // the size needed (ERROR_INSUFFICIENT_BUFFER for a given buffer); returns
  // the bytes written on success; 0 when the table is missing (last error set).
  // Raw SMBIOS data: calling method, major, minor, DMI revision, 32-bit
  // little-endian table length, then the structure table.
  virtual UINT GetTable(DWORD provider, DWORD tableId, void* buffer, DWORD bufferSize) = 0;

  VELK_PORT(FirmwareTables);
};

}  // namespace platform
