#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "PerUserMachine.h"
#include "support/LogFixture.h"

extern "C" UINT ConnectDefMigration(MSIHANDLE install);

namespace fs = std::filesystem;

namespace {

using testing::ElementsAre;
using velk_test::RegString;
using velk_test::Short;

const char kAlice[] = "C:\\Users\\alice\\AppData\\Local";

class ConnectDefMigrationTest : public velk_test::LogFixture {
 protected:
  ConnectDefMigrationTest() {
    machine.Write("registry/HKLM.reg",
                  velk_test::ProfileListReg({{"S-1-5-18", RegString("C:\\Windows\\system32\\config\\systemprofile")},
                                             {"S-1-5-21-9-1001", RegString("C:\\Users\\alice")}}));
    fs::create_directories(Local("alice"));
    velk_test::TempMachine::Reload();
  }
  fs::path Local(const std::string& user) const { return machine.Root() / "drive_c/Users" / user / "AppData/Local"; }
  std::vector<std::string> Run() {
    EXPECT_EQ(ConnectDefMigration(velk_test::FakeInstaller::kSession), 0u);
    return Short(installer.Lines());
  }
  static std::string A(const std::string& rest) { return std::string(kAlice) + rest; }

  velk_test::TempMachine machine;
};

TEST_F(ConnectDefMigrationTest, OnlyTheFormerFolder) {
  machine.Write("drive_c/Users/alice/AppData/Local/Pellacor/velk/velk-access/conn.def", "def");
  EXPECT_THAT(Run(),
              ElementsAre("####### ConnectDefMigration log PID=000001f4 #######", "I Found " + A("\\Pellacor\\velk"),
                          "I Not Found " + A("\\TESSMAR"), "I Success to create " + A("\\TESSMAR"),
                          "I Success to migrate " + A("\\TESSMAR\\velk"), "I Success to remove " + A("\\Pellacor"),
                          "I RegEnumKey end"));
  EXPECT_EQ(machine.Read("drive_c/Users/alice/AppData/Local/TESSMAR/velk/velk-access/conn.def"), "def");
  EXPECT_FALSE(fs::exists(Local("alice") / "Pellacor"));
}

TEST_F(ConnectDefMigrationTest, CurrentMakerFolderAlreadyThere) {
  machine.Write("drive_c/Users/alice/AppData/Local/pellacor/VELK/a", "1");
  machine.Write("drive_c/Users/alice/AppData/Local/TESSMAR/other/b", "2");
  EXPECT_THAT(
      Run(), ElementsAre(testing::_, "I Found " + A("\\Pellacor\\velk"), "I Success to migrate " + A("\\TESSMAR\\velk"),
                         "I Success to remove " + A("\\Pellacor"), "I RegEnumKey end"));
  EXPECT_EQ(machine.Read("drive_c/Users/alice/AppData/Local/TESSMAR/velk/a"), "1");
  EXPECT_EQ(machine.Read("drive_c/Users/alice/AppData/Local/TESSMAR/other/b"), "2");
}

TEST_F(ConnectDefMigrationTest, BothProductFoldersStayAsTheyAre) {
  machine.Write("drive_c/Users/alice/AppData/Local/Pellacor/velk/old", "o");
  machine.Write("drive_c/Users/alice/AppData/Local/TESSMAR/velk/new", "n");
  EXPECT_THAT(Run(), ElementsAre(testing::_, "I Found " + A("\\Pellacor\\velk"), "I RegEnumKey end"));
  EXPECT_EQ(machine.Read("drive_c/Users/alice/AppData/Local/Pellacor/velk/old"), "o");
  EXPECT_EQ(machine.Read("drive_c/Users/alice/AppData/Local/TESSMAR/velk/new"), "n");
  EXPECT_FALSE(fs::exists(Local("alice") / "TESSMAR/velk/old"));
}

TEST_F(ConnectDefMigrationTest, FormerMakerFolderWithOtherItemsStays) {
  machine.Write("drive_c/Users/alice/AppData/Local/Pellacor/velk/a", "1");
  machine.Write("drive_c/Users/alice/AppData/Local/Pellacor/other.txt", "x");
  EXPECT_THAT(Run(), ElementsAre(testing::_, "I Found " + A("\\Pellacor\\velk"), "I Not Found " + A("\\TESSMAR"),
                                 "I Success to create " + A("\\TESSMAR"),
                                 "I Success to migrate " + A("\\TESSMAR\\velk"), "I RegEnumKey end"));
  EXPECT_TRUE(fs::exists(Local("alice") / "Pellacor/other.txt"));
}

TEST_F(ConnectDefMigrationTest, NothingToMoveAndSystemProfilesUnvisited) {
  // The system profile has a former folder but is never visited.
  machine.Write("drive_c/Windows/system32/config/systemprofile/AppData/Local/Pellacor/velk/a", "1");
  machine.Write("drive_c/Users/alice/AppData/Local/Pellacor/readme", "1");
  EXPECT_THAT(Run(), ElementsAre(testing::_, "I RegEnumKey end"));
  EXPECT_TRUE(
      fs::exists(machine.Root() / "drive_c/Windows/system32/config/systemprofile/AppData/Local/Pellacor/velk/a"));
}

TEST_F(ConnectDefMigrationTest, BadEntriesAreSkippedAndAMissingListFails) {
  machine.Write("registry/HKLM.reg", velk_test::ProfileListReg({{"S-1-5-21-9-1000", ""},
                                                                {"S-1-5-21-9-1001", RegString("C:\\Users\\alice")},
                                                                {"S-1-5-21-9-1002", RegString("C:\\Users\\gone")}}));
  velk_test::TempMachine::Reload();
  machine.Write("drive_c/Users/alice/AppData/Local/Pellacor/velk/a", "1");
  auto lines = Run();
  EXPECT_EQ(lines[1], "E RegQueryValueEx Error(2)");
  EXPECT_EQ(lines[2], "I Found " + A("\\Pellacor\\velk"));
  EXPECT_THAT(lines, testing::Contains("W Profile Not Found (S-1-5-21-9-1002)"));
  EXPECT_TRUE(fs::exists(Local("alice") / "TESSMAR/velk/a"));

  installer.messages.clear();
  machine.Write("registry/HKLM.reg", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  velk_test::TempMachine::Reload();
  EXPECT_EQ(ConnectDefMigration(velk_test::FakeInstaller::kSession), 1603u);
  EXPECT_THAT(Short(installer.Lines()), ElementsAre(testing::_, "E RegOpenKeyEx Error(2)"));
}

}  // namespace
