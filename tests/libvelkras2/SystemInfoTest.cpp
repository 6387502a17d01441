#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>
#include <vector>

#include "Smbios.h"
#include "SystemInfoPrivate.h"
#include "TempFolder.h"
#include "support/Command.h"
#include "platform/Port.h"
#include "support/FakeClock.h"
#include "support/TempMachine.h"
#include "velkras2/RasError.h"
#include "velkras2/RasLog.h"
#include "velkras2/RasUtil.h"
#include "velkras2/SystemInfo.h"

namespace {

using testing::ElementsAre;
using velk_test::FakeFirmware;
using velk_test::RawSmbios;
using velk_test::SystemInformation;

const char kSalt[] = "Qm7rTx2LwPz9HkV4nYc0aJ+eSd6UgR3o";
const unsigned char kUuid[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
const unsigned char kAllFF[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                  0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const unsigned char kAll00[16] = {};
const char kFallBack[] = "[info] It gets old one as fall back because of failure to get unique ID.";

std::string Sha256(const std::string& bytes) {
  unsigned char out[32];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), out, &n, EVP_sha256(), nullptr);
  return std::string(reinterpret_cast<char*>(out), n);
}

std::string KeyOf(const std::string& identity) { return Sha256(identity + kSalt); }

class SystemInfoTest : public ::testing::Test {
 protected:
  SystemInfoTest() : useClock_(clock), useFirmware_(firmware) {
    log_ = folder.Path("test.log").string();
    RasLog_Open(RasLog_Get(), log_.c_str());
    SetProductId("\"ProductId\"=\"00330-80000-00000-AA123\"\r\n");
  }
  ~SystemInfoTest() override { RasLog_Close(RasLog_Get()); }

  void SetProductId(const std::string& values) {
    machine.Write("registry/HKLM.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n" +
                      values);
    velk_test::TempMachine::Reload();
  }
  // The log's lines without their time prefix.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    std::string all = velk_test::ReadFile(log_);
    for (size_t pos = 0; pos < all.size();) {
      size_t end = all.find('\n', pos);
      lines.push_back(all.substr(pos + 20, end - pos - 20));
      pos = end + 1;
    }
    return lines;
  }
  bool ReadId(std::string* text) {
    char area[kSmbiosTextSize];
    std::memset(area, 'x', sizeof area);
    bool ok = SystemInfo_ReadSmbiosId(area);
    if (ok) *text = area;
    return ok;
  }
  std::string NewKey(bool expectOk = true) {
    unsigned char key[32];
    EXPECT_EQ(SystemInfo_GetUniqueId(key), expectOk);
    return std::string(reinterpret_cast<char*>(key), 32);
  }
  void SetSystem(unsigned char major, unsigned char minor, const unsigned char uuid[16], unsigned char manufacturer,
                 unsigned char serial, const std::vector<std::string>& strings) {
    firmware.data = RawSmbios(major, minor,
                              velk_test::BiosInformation() + SystemInformation(uuid, manufacturer, serial, strings) +
                                  velk_test::EndOfTable());
  }

  velk_test::TempMachine machine;
  velk_test::TempFolder folder;
  velk_test::FakeClock clock;
  FakeFirmware firmware;
  const std::string oldKey = KeyOf(std::string("00330-80000-00000-AA123", 24));

 private:
  std::string log_;
  platform::ScopedPort<platform::Clock> useClock_;
  platform::ScopedPort<platform::FirmwareTables> useFirmware_;
};

TEST_F(SystemInfoTest, UuidByteOrderFollowsTheVersion) {
  std::string text;
  SetSystem(3, 0, kUuid, 1, 2, {"ACME", "123"});
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, "33221100-5544-7766-8899-AABBCCDDEEFF");
  EXPECT_EQ(NewKey(), KeyOf("33221100-5544-7766-8899-AABBCCDDEEFF"));

  SetSystem(2, 5, kUuid, 1, 2, {"ACME", "123"});
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, "00112233-4455-6677-8899-AABBCCDDEEFF");
  SetSystem(2, 6, kUuid, 1, 2, {"ACME", "123"});
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, "33221100-5544-7766-8899-AABBCCDDEEFF");
  EXPECT_THAT(LogLines(), ElementsAre());
}

TEST_F(SystemInfoTest, UuidTextEqualsWhatDmidecodePrints) {
  if (!velk_test::HaveCommand("dmidecode")) GTEST_SKIP() << "dmidecode is not installed";
  const unsigned char uuid[16] = {0x4C, 0x4C, 0x45, 0x44, 0x00, 0x37, 0x52, 0x10,
                                  0x80, 0x31, 0xB3, 0xC0, 0x4F, 0x53, 0x38, 0x32};
  for (auto [major, minor] : {std::pair{2, 5}, std::pair{3, 0}}) {
    std::string table =
        velk_test::BiosInformation() + SystemInformation(uuid, 1, 2, {"ACME", "SN-9"}) + velk_test::EndOfTable();
    firmware.data = RawSmbios(static_cast<unsigned char>(major), static_cast<unsigned char>(minor), table);
    std::string ours;
    ASSERT_TRUE(ReadId(&ours));

    std::string dump = folder.Path("dmi.bin").string();
    velk_test::WriteFile(
        dump, velk_test::DmidecodeDump(static_cast<unsigned char>(major), static_cast<unsigned char>(minor), table, 3));
    std::string theirs = velk_test::RunCommand("dmidecode --from-dump '" + dump + "' -s system-uuid 2>/dev/null");
    while (!theirs.empty() && (theirs.back() == '\n' || theirs.back() == '\r')) theirs.pop_back();
    EXPECT_TRUE(strcasecmp(ours.c_str(), theirs.c_str()) == 0)
        << major << "." << minor << ": ours " << ours << ", dmidecode " << theirs;
  }
}

TEST_F(SystemInfoTest, ManufacturerAndSerialStandInForAnAbsentUuid) {
  std::string text;
  SetSystem(3, 0, kAllFF, 1, 2, {"ACME", "123"});
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, "ACME123");
  EXPECT_EQ(NewKey(), KeyOf("ACME123"));

  SetSystem(3, 0, kAll00, 2, 1, {"456 ", " Maker"});  // blanks are kept, the order is by number
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, " Maker456 ");
  EXPECT_THAT(LogLines(),
              ElementsAre("[info] UUID is not present", "[info] UUID is not present", "[info] UUID is not settable"));
}

TEST_F(SystemInfoTest, StringLimits) {
  std::string text;
  std::string s65(65, 'm'), s66(66, 'm'), s63(63, 'a'), s64(64, 'b');
  SetSystem(3, 0, kAllFF, 1, 2, {s65, "1"});
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, s65 + "1");

  SetSystem(3, 0, kAllFF, 1, 2, {s66, "1"});
  EXPECT_EQ(NewKey(), oldKey);

  SetSystem(3, 0, kAll00, 1, 2, {s64, s64});
  EXPECT_EQ(NewKey(), oldKey);

  SetSystem(3, 0, kAll00, 1, 2, {s63, s64});
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, s63 + s64);
  EXPECT_EQ(text.size(), 127u);

  EXPECT_THAT(LogLines(), ElementsAre("[info] UUID is not present", "[info] UUID is not present",
                                      "[info] String is execeeded over limit", "[info] Failed to get manufacture",
                                      kFallBack, "[info] UUID is not settable", "[info] failed to copy string : 122",
                                      "[info] Failed to get serial", kFallBack, "[info] UUID is not settable"));
}

TEST_F(SystemInfoTest, MissingStringsAreLogged) {
  std::string text;
  SetSystem(3, 0, kAllFF, 0, 2, {"ACME", "123"});
  EXPECT_FALSE(ReadId(&text));
  SetSystem(3, 0, kAllFF, 1, 0, {"ACME", "123"});
  EXPECT_FALSE(ReadId(&text));
  SetSystem(3, 0, kAllFF, 1, 3, {"ACME", "123"});
  EXPECT_FALSE(ReadId(&text));
  SetSystem(3, 0, kAllFF, 1, 2, {});
  EXPECT_FALSE(ReadId(&text));
  EXPECT_THAT(LogLines(), ElementsAre("[info] UUID is not present", "[info] Manufacture is not found",  //
                                      "[info] UUID is not present", "[info] Serial is not found",       //
                                      "[info] UUID is not present", "[info] String is not found",
                                      "[info] Failed to get serial", "[info] UUID is not present",
                                      "[info] String is not found", "[info] Failed to get manufacture"));

  const BYTE set[] = {1, 4, 0, 0, 'x', 0, 0};
  SmbiosStructure s{set, set + 4, set + sizeof set};
  char out[8];
  EXPECT_FALSE(SystemInfo_GetSmbiosString(&s, 0, out, sizeof out));
  EXPECT_EQ(LogLines().back(), "[info] specified invalid  string indext");
}

TEST_F(SystemInfoTest, FirmwareWithoutIdentityFallsBackToTheProductId) {
  firmware.missing = true;
  EXPECT_EQ(NewKey(), oldKey);
  firmware.missing = false;
  firmware.data = RawSmbios(3, 0, velk_test::BiosInformation() + velk_test::EndOfTable());
  EXPECT_EQ(NewKey(), oldKey);
  EXPECT_THAT(LogLines(),
              ElementsAre("[info] GetSystemFirmwareTable failed", kFallBack, "[info] UUID is not found", kFallBack));

  // Without the fall-back either, the key stays zero.
  SetProductId("");
  firmware.missing = true;
  EXPECT_EQ(NewKey(false), std::string(32, '\0'));
  EXPECT_STREQ(RasGetLastError()->location, "SystemInfo_GetOldUniqueId at SystemInfo_win32.cpp line 291");
}

TEST_F(SystemInfoTest, ProductIdIsHashedWithItsTerminator) {
  unsigned char key[32];
  ASSERT_TRUE(SystemInfo_GetOldUniqueId(key));
  std::string hashed = std::string("00330-80000-00000-AA123", 24) + kSalt;
  EXPECT_EQ(hashed.size(), 56u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 32), Sha256(hashed));

  SetProductId("\"ProductId\"=\"\"\r\n");
  ASSERT_TRUE(SystemInfo_GetOldUniqueId(key));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 32), KeyOf(std::string(1, '\0')));

  std::string p31(31, '7');
  SetProductId("\"ProductId\"=\"" + p31 + "\"\r\n");
  ASSERT_TRUE(SystemInfo_GetOldUniqueId(key));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 32), KeyOf(p31 + std::string(1, '\0')));
}

TEST_F(SystemInfoTest, ProductIdFailuresAreRecordedAndLeaveTheKeyAlone) {
  unsigned char key[32];
  std::memset(key, 0xAB, sizeof key);
  SetProductId("\"ProductId\"=\"" + std::string(32, '7') + "\"\r\n");
  EXPECT_FALSE(SystemInfo_GetOldUniqueId(key));
  EXPECT_EQ(RasGetLastError()->code, 255);
  EXPECT_STREQ(RasGetLastError()->location, "SystemInfo_GetOldUniqueId at SystemInfo_win32.cpp line 291");
  EXPECT_STREQ(RasGetLastError()->message, "RegQueryValueEx failed :More data is available.");

  SetProductId("\"Other\"=\"1\"\r\n");
  EXPECT_FALSE(SystemInfo_GetOldUniqueId(key));
  EXPECT_STREQ(RasGetLastError()->message, "RegQueryValueEx failed :The system cannot find the file specified.");

  machine.Write("registry/HKLM.reg", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  velk_test::TempMachine::Reload();
  EXPECT_FALSE(SystemInfo_GetOldUniqueId(key));
  EXPECT_STREQ(RasGetLastError()->location, "SystemInfo_GetOldUniqueId at SystemInfo_win32.cpp line 284");
  EXPECT_STREQ(RasGetLastError()->message, "RegOpenKeyEx failed :The system cannot find the file specified.");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 32), std::string(32, '\xAB'));
}

TEST_F(SystemInfoTest, ProductIdIsReadInTheAnsiCodePage) {
  // e acute is one byte in code page 1252, as RegQueryValueExA returns it.
  SetProductId("\"ProductId\"=\"caf\xC3\xA9\"\r\n");
  unsigned char key[32];
  ASSERT_TRUE(SystemInfo_GetOldUniqueId(key));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 32), KeyOf(std::string("caf\xE9", 5)));
}

TEST_F(SystemInfoTest, MalformedTablesNeverYieldAnIdentity) {
  std::string good = SystemInformation(kUuid, 1, 2, {"ACME", "123"});
  std::string text;
  struct Case {
    const char* what;
    std::string raw;
  } cases[] = {
      {"shorter than its header", std::string("\0\x03\x00\x00", 4)},
      {"empty table", RawSmbios(3, 0, "")},
      {"structure cut inside the UUID", RawSmbios(3, 0, good.substr(0, 20))},
      {"formatted length below the header", RawSmbios(3, 0, std::string("\x01\x02\x01\x00", 4) + good)},
      {"formatted length past the table", RawSmbios(3, 0, std::string("\x00\xF0\x00\x00", 4) + good)},
      {"unterminated strings before the system", RawSmbios(3, 0,
                                                           std::string("\x00\x04\x00\x00"
                                                                       "abc",
                                                                       7) +
                                                               good)},
  };
  for (const Case& c : cases) {
    firmware.data = c.raw;
    EXPECT_FALSE(ReadId(&text)) << c.what;
  }
  // A table length beyond the data is cut to the data.
  firmware.data = RawSmbios(3, 0, good);
  firmware.data[4] = '\x7F';
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, "33221100-5544-7766-8899-AABBCCDDEEFF");
}

TEST_F(SystemInfoTest, StringsNeverRunPastTheData) {
  std::string text;
  // The serial's string lacks its terminator at the end of the data.
  std::string system = SystemInformation(kAllFF, 1, 2, {"ACME", "123"});
  firmware.data = RawSmbios(3, 0, system.substr(0, system.size() - 2));
  EXPECT_FALSE(ReadId(&text));
  // The same structure with its set ended properly works.
  firmware.data = RawSmbios(3, 0, system);
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, "ACME123");
  // SMBIOS 2.0 structures (8 bytes) hold no UUID.
  std::string old = velk_test::SmbiosStructure(1, std::string("\x01\x00\x00\x02", 4), {"OLD", "77"}, 1);
  firmware.data = RawSmbios(2, 0, old);
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, "OLD77");
}

TEST_F(SystemInfoTest, ShortSystemStructureHasItsUuidReadAtBytes8To23) {
  // SMBIOS 2.0: a type-1 area of 8 bytes; bytes 8 to 23 are its strings and
  // the structures behind it, printed in stored order.
  std::string old = velk_test::SmbiosStructure(1, std::string("\x01\x00\x00\x02", 4), {"OLD", "77"}, 1);
  firmware.data = RawSmbios(2, 0, old + velk_test::EndOfTable() + velk_test::EndOfTable());
  std::string text;
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, "4F4C4400-3737-0000-7F04-FF0000007F04");
  EXPECT_EQ(NewKey(), KeyOf(text));
  // One byte short of the UUID's end: the manufacturer and serial stand in.
  firmware.data = RawSmbios(2, 0, old + std::string("\x7F\x04\xFF\x00\x00\x00\x7F", 7));
  ASSERT_TRUE(ReadId(&text));
  EXPECT_EQ(text, "OLD77");
  EXPECT_THAT(LogLines(), ElementsAre("[info] UUID lies past the end of the firmware table"));
}

TEST_F(SystemInfoTest, TableThatGrowsBetweenTheCallsIsNotRead) {
  SetSystem(3, 0, kUuid, 1, 2, {"ACME", "123"});
  firmware.grown = firmware.data + std::string(64, '\0');
  std::string text;
  EXPECT_FALSE(ReadId(&text));
  EXPECT_THAT(LogLines(), ElementsAre("[info] GetSystemFirmwareTable failed"));
}

TEST_F(SystemInfoTest, AreaThatCannotBeAllocatedIsLoggedAsAnError) {
  SetSystem(3, 0, kUuid, 1, 2, {"ACME", "123"});
  std::string text;
  RasUtil_FailAllocationsAfter(0);
  EXPECT_FALSE(ReadId(&text));
  RasUtil_FailAllocationsAfter(-1);
  EXPECT_THAT(LogLines(), ElementsAre("[error] malloc failed"));
}

}  // namespace
