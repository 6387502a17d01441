#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FirmwareTables.h"
#include "platform/LastError.h"
#include "platform/host/machine/RawSmbios.h"
#include "support/TempMachine.h"

namespace {

platform::FirmwareTables& Tables() { return platform::FirmwareTables::Default(); }

TEST(HostFirmwareTablesTest, MachineSmbiosFileFollowsTheSizeRules) {
  velk_test::TempMachine machine;
  std::string raw = std::string("\x00\x03\x00\x00\x04\x00\x00\x00", 8) + std::string("\x7F\x04\xFF\x00\x00\x00", 6);
  machine.Write("smbios.bin", raw);

  UINT size = Tables().GetTable(platform::kFirmwareProviderRsmb, 0, nullptr, 0);
  ASSERT_EQ(size, raw.size());
  std::vector<char> small(4);
  EXPECT_EQ(Tables().GetTable(platform::kFirmwareProviderRsmb, 0, small.data(), 4), raw.size());
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<char> buffer(size);
  ASSERT_EQ(Tables().GetTable(platform::kFirmwareProviderRsmb, 0, buffer.data(), size), size);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), raw);

  // Other providers are missing.
  EXPECT_EQ(Tables().GetTable(0x41435049 /* 'ACPI' */, 0, nullptr, 0), 0u);
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_NOT_FOUND));
}

}  // namespace

namespace {

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

TEST(HostFirmwareTablesTest, RawDataIsComposedFromTheKernelTables) {
  velk_test::TempMachine machine;
  std::filesystem::path folder = machine.Root() / "dmi";
  std::filesystem::create_directories(folder);
  std::string dmi = std::string("\x7F\x04\xFF\x00\x00\x00", 6);
  std::vector<BYTE> raw;

  // SMBIOS 3: "_SM3_", major 7, minor 8, document revision 9.
  std::string ep3 = std::string("_SM3_\x00\x18\x03\x02\x01\x01\x00", 12) + std::string(12, '\0');
  WriteBytes(folder / "smbios_entry_point", ep3);
  WriteBytes(folder / "DMI", dmi);
  ASSERT_TRUE(platform::host::ComposeRawSmbios(folder, &raw));
  EXPECT_EQ(std::string(raw.begin(), raw.end()), std::string("\x00\x03\x02\x01\x06\x00\x00\x00", 8) + dmi);

  // SMBIOS 2.x: "_SM_", major 6, minor 7.
  std::string ep2 = std::string("_SM_\x00\x1F\x02\x08", 8) + std::string(23, '\0');
  WriteBytes(folder / "smbios_entry_point", ep2);
  ASSERT_TRUE(platform::host::ComposeRawSmbios(folder, &raw));
  EXPECT_EQ(std::string(raw.begin(), raw.begin() + 8), std::string("\x00\x02\x08\x00\x06\x00\x00\x00", 8));

  WriteBytes(folder / "smbios_entry_point", "junk");
  EXPECT_FALSE(platform::host::ComposeRawSmbios(folder, &raw));
  std::filesystem::remove(folder / "DMI");
  WriteBytes(folder / "smbios_entry_point", ep3);
  EXPECT_FALSE(platform::host::ComposeRawSmbios(folder, &raw));
}

}  // namespace
