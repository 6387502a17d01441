#include "platform/FirmwareTables.h"

namespace platform {

namespace {

class Win32FirmwareTables : public FirmwareTables {
 public:
  UINT GetTable(DWORD provider, DWORD tableId, void* buffer, DWORD bufferSize) override {
    return GetSystemFirmwareTable(provider, tableId, buffer, bufferSize);
  }
};

}  // namespace

FirmwareTables& FirmwareTables::Default() {
  static Win32FirmwareTables tables;
  return tables;
}

}  // namespace platform
