// The demo machine's users through the runner: the migration, the data
// removal and the updater settings removal, one after another.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "support/Command.h"
#include "Tovrin/PerUserMachine.h"

namespace fs = std::filesystem;

namespace {

using testing::Contains;
using testing::ElementsAre;
using velk_test::Short;

std::string Shell(const std::string& command) { return velk_test::RunCommand(command); }

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

class PerUserEndToEndTest : public ::testing::Test {
 protected:
  PerUserEndToEndTest() {
    root = fs::temp_directory_path() / ("velk-peruser-" + std::to_string(::getpid()));
    machine = Shell("PATH='" + std::string(VELK_BINARY_DIR) + "':\"$PATH\" bash '" + std::string(VELK_SOURCE_DIR) +
                    "/tools/demo/make-machine.sh' '" + (root / "m").string() + "'");
    while (!machine.empty() && machine.back() == '\n') machine.pop_back();
  }
  ~PerUserEndToEndTest() override {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  std::vector<std::string> Run(const std::string& args) {
    return Short(
        SplitLines(Shell(std::string(VELK_BINARY_DIR) + "/tovrin-run --machine '" + machine + "' " + args + " 2>&1")));
  }
  bool Exists(const std::string& rel) const {
    return fs::exists(fs::symlink_status(fs::path(machine) / "drive_c" / rel));
  }
  std::string Read(const std::string& rel) const {
    std::ifstream in(fs::path(machine) / "drive_c" / rel, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  fs::path root;
  std::string machine;
};

const std::string kAliceLocal = "C:\\Users\\alice\\AppData\\Local";
const std::string kBobLocal = "C:\\Users\\bob\\AppData\\Local";

TEST_F(PerUserEndToEndTest, TheThreeActionsOnTheDemoMachine) {
  ASSERT_TRUE(fs::is_directory(machine)) << machine;
  ASSERT_TRUE(Exists("Users/bob/AppData/Local/Pellacor/velk/velk-access/cache/thumbs.db"));

  EXPECT_THAT(Run("ConnectDefMigration"),
              ElementsAre(testing::StartsWith("####### ConnectDefMigration log PID="),
                          "I Found " + kAliceLocal + "\\Pellacor\\velk", "I Found " + kBobLocal + "\\Pellacor\\velk",
                          "I Not Found " + kBobLocal + "\\TESSMAR", "I Success to create " + kBobLocal + "\\TESSMAR",
                          "I Success to migrate " + kBobLocal + "\\TESSMAR\\velk",
                          "I Success to remove " + kBobLocal + "\\Pellacor", "E RegQueryValueEx Error(2)",
                          "I RegEnumKey end", "Result: 0"));
  EXPECT_TRUE(Exists("Users/alice/AppData/Local/Pellacor/velk/velk-access/connections/office.vpn"));
  EXPECT_EQ(Read("Users/bob/AppData/Local/TESSMAR/velk/velk-access/connections/home.vpn"),
            "[home] host=vpn.velk.example\n");
  EXPECT_FALSE(Exists("Users/bob/AppData/Local/Pellacor"));
  EXPECT_TRUE(Exists("Windows/System32/config/systemprofile/AppData/Local/Pellacor/velk"));

  // The ghost entry (no ProfileImagePath, listed last) ends the walk with an
  // error after the other profiles were done; bin stays.
  auto lines = Run("RemoveRakAll 'TovrinData=/bin=\"C:\\Program Files\\TESSMAR\\velk\\bin\\\\\"'");
  const std::string bobData = kBobLocal + "\\TESSMAR\\velk\\velk-access";
  const std::string sysData = "C:\\Windows\\system32\\config\\systemprofile\\AppData\\Local\\TESSMAR\\velk";
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 5, lines.end()),
              ElementsAre("W remove failed - " + sysData +
                              "\\velk-access LE\\ The system cannot find the path specified. (0x80070003)",
                          "W remove failed - " + sysData + "\\ The system cannot find the path specified. (0x80070003)",
                          "W skipped system file thumbs.db",
                          "W remove failed - " + bobData + "\\cache\\ The directory is not empty. (0x80070091)",
                          "W remove failed - " + bobData + "\\ The directory is not empty. (0x80070091)",
                          "I CProfileDirectoryEnumerator<_pde>::Enumerate - leave",
                          "E The system cannot find the file specified. (0x80070002)",
                          "I CTovrinModule::RemoveRakAll - leave", "I RemoveRakAll - leave", "Result: 0"));
  EXPECT_FALSE(Exists("Users/alice/AppData/Local/TESSMAR"));
  EXPECT_TRUE(Exists("Users/alice/AppData/Local/Microsoft/Windows/UsrClass.dat"));
  EXPECT_TRUE(Exists("Users/bob/AppData/Local/TESSMAR/velk/velk-access/cache/thumbs.db"));
  EXPECT_FALSE(Exists("Users/bob/AppData/Local/TESSMAR/velk/velk-access/cache/old.tmp"));
  EXPECT_FALSE(Exists("Users/bob/AppData/Local/TESSMAR/velk/velk-access/connections"));
  EXPECT_FALSE(Exists("Users/bob/AppData/Local/TESSMAR/velk/velk-access LE"));
  EXPECT_FALSE(Exists("Windows/System32/config/systemprofile/AppData/Local/TESSMAR"));
  EXPECT_TRUE(Exists("Program Files/TESSMAR/velk/bin/_installed_01"));

  // The updater settings: alice's live hive, bob's mounted for the step.
  EXPECT_THAT(Run("RemoveSparkleReg"), ElementsAre(testing::StartsWith("####### RemoveSparkleReg log PID="),
                                                   "E RegQueryValueEx Error(2)", "I RegEnumKey end", "Result: 0"));
  std::string alice = Read("Users/alice/NTUSER.DAT");
  EXPECT_EQ(alice.find("TESSMAR"), std::string::npos);
  EXPECT_NE(alice.find("Volatile Environment"), std::string::npos);
  std::string bob = Read("Users/bob/NTUSER.DAT");
  EXPECT_EQ(bob.find("velk-access"), std::string::npos);
  EXPECT_NE(bob.find("[HKEY_CURRENT_USER\\Software\\TESSMAR\\velk-notes]"), std::string::npos);
  // Nothing left behind: a second run finds no keys and unmounts bob's hive again.
  EXPECT_THAT(Run("RemoveSparkleReg"), ElementsAre(testing::_, "E RegOpenKeyEx Error(2)", "E RegOpenKeyEx Error(2)",
                                                   "E RegQueryValueEx Error(2)", "I RegEnumKey end", "Result: 0"));

  // Without the broken entry the bin step runs: the markers go, readme.txt stays.
  std::string hklm = (fs::path(machine) / "registry/HKLM.reg").string();
  Shell("sed -i '/ProfileList\\\\S-1-5-21-1004336348-1177238915-682003330-1003\\]/,/^$/d' '" + hklm + "'");
  lines = Run("RunRemoveRakAllW '/bin=\"C:\\Program Files\\TESSMAR\\velk\\bin\"'");
  EXPECT_THAT(
      lines,
      Contains("W remove failed - C:\\Program Files\\TESSMAR\\velk\\bin\\ The directory is not empty. (0x80070091)"));
  EXPECT_EQ(lines.back(), "HRESULT: 0x00000000");
  EXPECT_FALSE(Exists("Program Files/TESSMAR/velk/bin/_installed_01"));
  EXPECT_FALSE(Exists("Program Files/TESSMAR/velk/bin/_installed_xy"));
  EXPECT_TRUE(Exists("Program Files/TESSMAR/velk/bin/readme.txt"));
}

}  // namespace
