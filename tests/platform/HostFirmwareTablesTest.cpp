#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FirmwareTables.h"
#include "platform/LastError.h"
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
