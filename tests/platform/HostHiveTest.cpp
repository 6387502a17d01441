#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "platform/host/adapters/HostRegistry.h"
#include "support/TempMachine.h"

namespace {

using platform::RegKey;

class HostHiveTest : public ::testing::Test {
 protected:
  HostHiveTest()
      : machine("[machine]\nuser=S-1-5-21-9-1001\nlogged_on=S-1-5-21-9-1001\n"), reg(platform::Registry::Default()) {
    machine.Write(
        "registry/HKLM.reg",
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-9-1001]\r\n"
        "\"ProfileImagePath\"=\"C:\\\\Users\\\\alice\"\r\n");
    machine.Write("drive_c/Users/alice/NTUSER.DAT",
                  "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n");
    machine.Write("drive_c/Users/bob/NTUSER.DAT",
                  "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\B]\r\n\"v\"=\"1\"\r\n");
    velk_test::TempMachine::Reload();
  }
  velk_test::TempMachine machine;
  platform::Registry& reg;
};

TEST_F(HostHiveTest, LoadWriteBackAndUnload) {
  RegKey key;
  EXPECT_EQ(reg.OpenKey(HKEY_USERS, L"S-1-5-21-9-1002", KEY_READ, key.Put()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.UnloadHive(HKEY_USERS, L"S-1-5-21-9-1002"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(reg.LoadHive(HKEY_USERS, L"S-1-5-21-9-1002", L"C:\\users\\BOB\\ntuser.dat"), ERROR_SUCCESS);
  EXPECT_EQ(reg.LoadHive(HKEY_USERS, L"S-1-5-21-9-1002", L"C:\\Users\\bob\\NTUSER.DAT"), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(reg.LoadHive(HKEY_USERS, L"other", L"C:\\Users\\bob\\NTUSER.DAT"), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(reg.LoadHive(HKEY_USERS, L"other", L"C:\\Users\\alice\\NTUSER.DAT"), ERROR_SHARING_VIOLATION);
  ASSERT_EQ(reg.OpenKey(HKEY_USERS, L"S-1-5-21-9-1002\\Software\\B", KEY_READ, key.Put()), ERROR_SUCCESS);
  // A key left open inside keeps the hive mounted.
  EXPECT_EQ(reg.UnloadHive(HKEY_USERS, L"S-1-5-21-9-1002"), ERROR_ACCESS_DENIED);
  key.Reset();
  EXPECT_EQ(reg.DeleteKey(HKEY_USERS, L"S-1-5-21-9-1002\\Software\\B", 0), ERROR_SUCCESS);
  EXPECT_EQ(reg.UnloadHive(HKEY_USERS, L"S-1-5-21-9-1002"), ERROR_SUCCESS);
  EXPECT_EQ(reg.OpenKey(HKEY_USERS, L"S-1-5-21-9-1002", KEY_READ, key.Put()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(machine.Read("drive_c/Users/bob/NTUSER.DAT").find("Software\\B"), std::string::npos);
}

TEST_F(HostHiveTest, MissingDamagedAndBadArguments) {
  EXPECT_EQ(reg.LoadHive(HKEY_USERS, L"x", L"C:\\Users\\carol\\NTUSER.DAT"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.LoadHive(HKEY_USERS, L"x", L"C:\\Users"), ERROR_ACCESS_DENIED);
  machine.Write("drive_c/Users/dave/NTUSER.DAT", "garbage");
  testing::internal::CaptureStderr();
  EXPECT_EQ(reg.LoadHive(HKEY_USERS, L"x", L"C:\\Users\\dave\\NTUSER.DAT"), ERROR_BADDB);
  testing::internal::GetCapturedStderr();
  RegKey key;
  EXPECT_EQ(reg.OpenKey(HKEY_USERS, L"x", KEY_READ, key.Put()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.LoadHive(HKEY_LOCAL_MACHINE, L"x", L"C:\\Users\\bob\\NTUSER.DAT"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.LoadHive(HKEY_USERS, L"a\\b", L"C:\\Users\\bob\\NTUSER.DAT"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.LoadHive(HKEY_USERS, L"x", L"relative.dat"), ERROR_PATH_NOT_FOUND);
}

}  // namespace
