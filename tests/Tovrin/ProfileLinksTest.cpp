// A user who owns a profile plants links in it; the actions that run as
// LocalSystem over it must touch nothing outside it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "PerUserMachine.h"
#include "support/LogFixture.h"

extern "C" UINT ConnectDefMigration(MSIHANDLE install);
extern "C" UINT RemoveSparkleReg(MSIHANDLE install);
extern "C" HRESULT RunRemoveRakAllW(HWND window, HINSTANCE instance, LPWSTR commandLine, int show);

namespace fs = std::filesystem;

namespace {

using velk_test::RegString;
using velk_test::Short;

// Every file below a folder, as relative path -> content.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it) {
    std::string rel = fs::relative(it->path(), root).string();
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      out[rel + "/"] = "";
    } else {
      std::ifstream in(it->path());
      out[rel] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return out;
}

class ProfileLinksTest : public velk_test::LogFixture {
 protected:
  ProfileLinksTest() {
    machine.Write("registry/HKLM.reg", velk_test::ProfileListReg({{"S-1-5-21-9-1002", RegString("C:\\Users\\bob")}}));
    machine.Write("drive_c/Users/bob/NTUSER.DAT", "");
    machine.Write("machine.ini", "[machine]\nuser=S-1-5-21-9-1002\n");
    velk_test::TempMachine::Reload();
  }
  fs::path Bob(const std::string& rel) const { return machine.Root() / "drive_c/Users/bob" / rel; }
  fs::path Victim() const { return machine.Root() / "drive_c/ProgramData/Victim"; }
  void File(const fs::path& p, const std::string& text = "x") const {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  // What bob's folders would hold, laid out in the victim folder too, so
  // that a link to it gives the action everything to act on.
  void Plant(const fs::path& where, const fs::path& layout) const {
    File(where / layout / "TESSMAR/velk/velk-access/req.dat", "key");
    File(where / layout / "TESSMAR/velk/velk-access LE/conf.ini", "conf");
    File(where / layout / "Pellacor/velk/velk-access/conn.def", "def");
    File(where / layout / "keep.txt", "keep");
  }
  // Replaces bob's component rel by a link to the same place in the victim.
  void LinkAt(const std::string& rel) const {
    fs::path from = Bob(rel);
    fs::remove_all(from);
    fs::create_directories(from.parent_path());
    fs::create_directory_symlink(Victim() / rel, from);
  }
  std::vector<std::string> RemoveRakAll() {
    std::wstring text;
    EXPECT_EQ(RunRemoveRakAllW(nullptr, nullptr, text.data(), 0), S_OK);
    auto lines = Short(installer.Lines());
    installer.messages.clear();
    return lines;
  }
  std::vector<std::string> Migrate() {
    EXPECT_EQ(ConnectDefMigration(velk_test::FakeInstaller::kSession), 0u);
    auto lines = Short(installer.Lines());
    installer.messages.clear();
    return lines;
  }

  velk_test::TempMachine machine;
};

// Each component the actions reach below the profile folder, as a link.
const char* const kComponents[] = {
    "AppData",
    "AppData/Local",
    "AppData/Local/TESSMAR",
    "AppData/Local/TESSMAR/velk",
    "AppData/Local/TESSMAR/velk/velk-access",
    "AppData/Local/TESSMAR/velk/velk-access LE",
    "AppData/Local/Pellacor",
    "AppData/Local/Pellacor/velk",
};

std::string WindowsPath(const std::string& rel) {
  std::string out = "C:\\Users\\bob\\" + rel;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

TEST_F(ProfileLinksTest, ALinkAtAnyComponentLeavesTheOutsideAlone) {
  for (const char* component : kComponents) {
    SCOPED_TRACE(component);
    fs::remove_all(Bob("AppData"));
    fs::remove_all(Victim());
    Plant(Bob(""), "AppData/Local");
    Plant(Victim(), "AppData/Local");
    LinkAt(component);
    const auto before = Snapshot(Victim());

    auto removal = RemoveRakAll();
    EXPECT_EQ(Snapshot(Victim()), before) << "removal reached outside the profile";
    // The link stays where the user put it.
    EXPECT_TRUE(fs::is_symlink(Bob(component)));
    auto migration = Migrate();
    EXPECT_EQ(Snapshot(Victim()), before) << "migration reached outside the profile";
    EXPECT_TRUE(fs::is_symlink(Bob(component)));

    // A link on either action's way ends that profile's step with one line.
    std::string rel = component;
    bool onRemoval = rel.find("Pellacor") == std::string::npos;
    bool onMigration = rel.find("velk-access") == std::string::npos && rel != "AppData/Local/TESSMAR/velk";
    auto has = [&](const std::vector<std::string>& lines) {
      return std::count(lines.begin(), lines.end(), "W skipped link " + WindowsPath(rel));
    };
    EXPECT_EQ(has(removal), onRemoval ? 1 : 0) << testing::PrintToString(removal);
    EXPECT_EQ(has(migration), onMigration ? 1 : 0) << testing::PrintToString(migration);
  }
}

TEST_F(ProfileLinksTest, ALinkAtTheMoveTargetIsNeverFollowed) {
  File(Bob("AppData/Local/Pellacor/velk/velk-access/conn.def"), "def");
  fs::create_directories(Bob("AppData/Local/TESSMAR"));
  fs::create_directories(Victim());
  fs::create_directory_symlink(Victim(), Bob("AppData/Local/TESSMAR/velk"));
  auto lines = Migrate();
  EXPECT_THAT(lines, testing::ElementsAre(testing::_, "I Found C:\\Users\\bob\\AppData\\Local\\Pellacor\\velk",
                                          "I RegEnumKey end"));
  EXPECT_TRUE(fs::is_empty(Victim()));
  EXPECT_EQ(machine.Read("drive_c/Users/bob/AppData/Local/Pellacor/velk/velk-access/conn.def"), "def");
}

// hex(6) data of a registry link to target, as .reg text holds it.
std::string LinkData(const std::string& target) {
  std::string out = "hex(6):";
  char b[8];
  for (char c : target) {
    std::snprintf(b, sizeof b, "%02x,00,", static_cast<unsigned char>(c));
    out += b;
  }
  out.pop_back();
  return out;
}

// A registry link in bob's hive, at each key on the way to the updater's
// settings, pointing into HKEY_LOCAL_MACHINE where the same keys stand.
TEST_F(ProfileLinksTest, ARegistryLinkAtAnyKeyLeavesTheMachineHiveAlone) {
  const std::vector<std::string> chain = {"SOFTWARE", "TESSMAR", "velk-access", "WinSparkle"};
  machine.Write("machine.ini", "[machine]\n");  // bob is not logged on: his hive is mounted from its file
  for (size_t at = 0; at < chain.size(); ++at) {
    SCOPED_TRACE(chain[at]);
    std::string below, hive, victim;
    for (size_t i = 0; i <= at; ++i) below += "\\" + chain[i];
    for (size_t i = 0; i < at; ++i)
      hive += "[HKEY_CURRENT_USER" + below.substr(0, below.find(chain[i]) + chain[i].size()) + "]\r\n";
    hive += "[HKEY_CURRENT_USER" + below +
            "]\r\n\"SymbolicLinkValue\"=" + LinkData("\\REGISTRY\\MACHINE\\SOFTWARE\\Victim") + "\r\n";
    std::string rest = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Victim";
    victim += rest + "]\r\n\"Keep\"=\"1\"\r\n";
    for (size_t i = at + 1; i < chain.size(); ++i) {
      rest += "\\" + chain[i];
      victim += rest + "]\r\n";
    }
    machine.Write("registry/HKLM.reg",
                  velk_test::ProfileListReg({{"S-1-5-21-9-1002", RegString("C:\\Users\\bob")}}, victim));
    machine.Write("drive_c/Users/bob/NTUSER.DAT", velk_test::HiveReg(hive));
    velk_test::TempMachine::Reload();
    const std::string before = machine.Read("registry/HKLM.reg");
    EXPECT_EQ(RemoveSparkleReg(velk_test::FakeInstaller::kSession), 0u);
    auto lines = Short(installer.Lines());
    installer.messages.clear();
    EXPECT_EQ(machine.Read("registry/HKLM.reg"), before);
    std::string path = "S-1-5-21-9-1002" + below;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "W skipped link " + path), 1) << testing::PrintToString(lines);
    EXPECT_NE(machine.Read("drive_c/Users/bob/NTUSER.DAT").find("SymbolicLinkValue"), std::string::npos);
  }
}

TEST_F(ProfileLinksTest, AHiveFileThatIsALinkIsNotMounted) {
  machine.Write("machine.ini", "[machine]\n");
  machine.Write("elsewhere/NTUSER.DAT",
                velk_test::HiveReg("[HKEY_CURRENT_USER\\SOFTWARE\\TESSMAR\\velk-access\\WinSparkle]\r\n"));
  fs::remove(Bob("NTUSER.DAT"));
  fs::create_symlink(machine.Root() / "elsewhere/NTUSER.DAT", Bob("NTUSER.DAT"));
  velk_test::TempMachine::Reload();
  const std::string before = machine.Read("elsewhere/NTUSER.DAT");
  EXPECT_EQ(RemoveSparkleReg(velk_test::FakeInstaller::kSession), 0u);
  EXPECT_THAT(Short(installer.Lines()), testing::Contains("W skipped link C:\\Users\\bob\\NTUSER.DAT"));
  EXPECT_EQ(machine.Read("elsewhere/NTUSER.DAT"), before);
}

// An attacker thread swaps the maker folder for a link to the victim and
// back while the removal walks a tree of several hundred entries.
TEST_F(ProfileLinksTest, ASwapDuringTheWalkReachesNothingOutside) {
  const fs::path tessmar = Bob("AppData/Local/TESSMAR");
  const fs::path aside = Bob("AppData/Local/TESSMAR.aside");
  // The victim holds what the walk would meet through the link.
  for (int d = 0; d < 3; ++d) File(Victim() / "TESSMAR/velk/velk-access" / ("d" + std::to_string(d)) / "f0", "victim");
  const auto before = Snapshot(Victim());
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    fs::remove_all(Bob("AppData"));
    fs::remove_all(aside);
    for (int d = 0; d < 20; ++d)
      for (int f = 0; f < 15; ++f)
        File(Bob("AppData/Local/TESSMAR/velk/velk-access/d" + std::to_string(d) + "/f" + std::to_string(f)));
    std::atomic<bool> stop{false};
    std::thread attacker([&] {
      std::error_code ec;
      while (!stop) {
        fs::rename(tessmar, aside, ec);
        fs::create_directory_symlink(Victim() / "TESSMAR", tessmar, ec);
        std::this_thread::yield();
        fs::remove(tessmar, ec);
        fs::rename(aside, tessmar, ec);
      }
    });
    RemoveRakAll();
    stop = true;
    attacker.join();
    ASSERT_EQ(Snapshot(Victim()), before);
  }
}

}  // namespace
