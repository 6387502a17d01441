// Raw SMBIOS data for tests: structures, the firmware-table layout, a fake
// firmware port and dmidecode's binary dump format.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "platform/FirmwareTables.h"
#include "platform/LastError.h"

namespace velk_test {

// One structure: type, formatted area after the 4-byte header, strings.
inline std::string SmbiosStructure(unsigned char type, const std::string& fields,
                                   const std::vector<std::string>& strings, unsigned handle) {
  std::string s;
  s += static_cast<char>(type);
  s += static_cast<char>(4 + fields.size());
  s += static_cast<char>(handle & 0xFF);
  s += static_cast<char>(handle >> 8);
  s += fields;
  for (const std::string& text : strings) s += text + std::string(1, '\0');
  s += strings.empty() ? std::string(2, '\0') : std::string(1, '\0');
  return s;
}

// System Information (type 1, SMBIOS 2.4 layout, 27 bytes).
inline std::string SystemInformation(const unsigned char uuid[16], unsigned char manufacturer, unsigned char serial,
                                     const std::vector<std::string>& strings) {
  std::string fields;
  fields += static_cast<char>(manufacturer);
  fields += '\0';  // product name
  fields += '\0';  // version
  fields += static_cast<char>(serial);
  fields.append(reinterpret_cast<const char*>(uuid), 16);
  fields += '\x06';  // wake-up type: power switch
  fields += '\0';    // SKU
  fields += '\0';    // family
  return SmbiosStructure(1, fields, strings, 0x0001);
}

inline std::string BiosInformation() {
  std::string fields = std::string("\x01\x02\x00\xF0\x03\x00", 6) + std::string(8, '\0') + std::string("\x01\x00", 2);
  return SmbiosStructure(0, fields, {"Velk Firmware", "1.0"}, 0x0000);
}

inline std::string EndOfTable() { return SmbiosStructure(127, "", {}, 0x00FF); }

inline std::string Le32(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// The firmware-table layout: method, major, minor, DMI revision, length, table.
inline std::string RawSmbios(unsigned char major, unsigned char minor, const std::string& table) {
  return std::string(1, '\0') + static_cast<char>(major) + static_cast<char>(minor) + '\0' +
         Le32(static_cast<uint32_t>(table.size())) + table;
}

inline unsigned char Checksum(const std::string& bytes, size_t from, size_t count) {
  unsigned sum = 0;
  for (size_t i = from; i < from + count; ++i) sum += static_cast<unsigned char>(bytes[i]);
  return static_cast<unsigned char>(0x100 - (sum & 0xFF));
}

// dmidecode --dump-bin: the entry point at 0, the table at 0x20.
inline std::string DmidecodeDump(unsigned char major, unsigned char minor, const std::string& table,
                                 unsigned structures) {
  std::string ep;
  if (major >= 3) {
    ep = std::string("_SM3_", 5) + '\0' + '\x18' + static_cast<char>(major) + static_cast<char>(minor) + '\0' + '\x01' +
         '\0' + Le32(static_cast<uint32_t>(table.size())) + Le32(0x20) + Le32(0);
    ep[5] = static_cast<char>(Checksum(ep, 0, 0x18));
  } else {
    ep = std::string("_SM_", 4) + '\0' + '\x1F' + static_cast<char>(major) + static_cast<char>(minor) +
         std::string("\x00\x01", 2) + '\0' + std::string(5, '\0') + std::string("_DMI_", 5) + '\0' +
         static_cast<char>(table.size() & 0xFF) + static_cast<char>(table.size() >> 8) + Le32(0x20) +
         static_cast<char>(structures & 0xFF) + static_cast<char>(structures >> 8) +
         static_cast<char>(((major & 0x0F) << 4) | (minor & 0x0F));
    ep[0x15] = static_cast<char>(Checksum(ep, 0x10, 0x0F));
    ep[0x04] = static_cast<char>(Checksum(ep, 0, 0x1F));
  }
  ep.resize(0x20, '\0');
  return ep + table;
}

// Hands out fixed bytes with GetSystemFirmwareTable's size rules.
class FakeFirmware : public platform::FirmwareTables {
 public:
  UINT GetTable(DWORD provider, DWORD tableId, void* buffer, DWORD bufferSize) override {
    ++calls;
    if (missing || provider != platform::kFirmwareProviderRsmb || tableId != 0) {
      platform::SetLastErrorCode(ERROR_NOT_FOUND);
      return 0;
    }
    std::string& bytes = calls > 1 && !grown.empty() ? grown : data;
    if (!buffer || bufferSize < bytes.size()) return static_cast<UINT>(bytes.size());
    std::memcpy(buffer, bytes.data(), bytes.size());
    return static_cast<UINT>(bytes.size());
  }
  std::string data;
  std::string grown;  // what the second call sees, when set
  bool missing = false;
  int calls = 0;
};

}  // namespace velk_test
