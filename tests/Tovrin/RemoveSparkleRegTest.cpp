#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "PerUserMachine.h"
#include "platform/Token.h"
#include "platform/host/adapters/HostRegistry.h"
#include "support/ForwardingRegistry.h"
#include "support/LogFixture.h"

extern "C" UINT RemoveSparkleReg(MSIHANDLE install);

namespace {

using testing::ElementsAre;
using velk_test::HiveReg;
using velk_test::RegString;
using velk_test::Short;

const char kAlice[] = "S-1-5-21-9-1001";  // logged on
const char kBob[] = "S-1-5-21-9-1002";    // logged off

// The host registry with hive calls recorded and failures injected.
class RecordingRegistry : public velk_test::ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;
  LSTATUS DeleteKey(HKEY p, const wchar_t* s, REGSAM v) override {
    calls.push_back(L"delete " + std::wstring(s));
    return failDelete ? failDelete : in.DeleteKey(p, s, v);
  }
  // Keys held open are deleted through their handles: the path each
  // handle names is kept for the record.
  LSTATUS OpenKey(HKEY p, const wchar_t* s, REGSAM a, HKEY* r) override {
    LSTATUS status = in.OpenKey(p, s, a, r);
    if (status == ERROR_SUCCESS && p == HKEY_USERS) paths[*r] = s;
    return status;
  }
  LSTATUS OpenLinkKey(HKEY p, const wchar_t* s, REGSAM a, HKEY* r) override {
    LSTATUS status = in.OpenLinkKey(p, s, a, r);
    if (status == ERROR_SUCCESS) paths[*r] = paths[p] + L"\\" + s;
    return status;
  }
  LSTATUS DeleteOpenKey(HKEY k) override {
    calls.push_back(L"delete " + paths[k]);
    return failDelete ? failDelete : in.DeleteOpenKey(k);
  }
  LSTATUS QueryInfoKey(HKEY k, DWORD* s, DWORD* m, DWORD* v) override {
    return failQueryInfo ? failQueryInfo : in.QueryInfoKey(k, s, m, v);
  }
  LSTATUS LoadHive(HKEY r, const wchar_t* n, const wchar_t* f) override {
    calls.push_back(L"load " + std::wstring(n) + L" " + f);
    return failLoad ? failLoad : in.LoadHive(r, n, f);
  }
  LSTATUS UnloadHive(HKEY r, const wchar_t* n) override {
    calls.push_back(L"unload " + std::wstring(n));
    LSTATUS s = in.UnloadHive(r, n);
    return failUnload ? failUnload : s;
  }

  std::vector<std::wstring> calls;
  std::map<HKEY, std::wstring> paths;
  LSTATUS failDelete = 0, failQueryInfo = 0, failLoad = 0, failUnload = 0;
};

class RecordingToken : public platform::Token {
 public:
  BOOL OpenProcessToken(DWORD access, HANDLE* token) override {
    openedFor = access;
    if (failOpen) return FALSE;
    *token = this;
    return TRUE;
  }
  BOOL LookupPrivilege(const wchar_t* name, LUID* luid) override {
    names.push_back(name);
    luid->LowPart = static_cast<DWORD>(names.size());
    luid->HighPart = 0;
    return TRUE;
  }
  BOOL AdjustTokenPrivileges(HANDLE token, const LUID& luid, DWORD attributes) override {
    if (attributes != SE_PRIVILEGE_ENABLED) return FALSE;
    enabled.push_back(names[luid.LowPart - 1]);
    return TRUE;
  }
  BOOL CloseToken(HANDLE token) override {
    ++closed;
    return TRUE;
  }
  bool failOpen = false;
  DWORD openedFor = 0;
  int closed = 0;
  std::vector<std::wstring> names, enabled;
};

const char kFullChain[] =
    "[HKEY_CURRENT_USER\\SOFTWARE\\TESSMAR]\r\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\TESSMAR\\velk-access]\r\n\"InstallDir\"=\"C:\\\\velk\"\r\n"
    "[HKEY_CURRENT_USER\\SOFTWARE\\TESSMAR\\velk-access\\WinSparkle]\r\n\"CheckForUpdates\"=\"1\"\r\n";

class RemoveSparkleRegTest : public velk_test::LogFixture {
 protected:
  RemoveSparkleRegTest()
      : machine(std::string("[machine]\nuser=") + kAlice + "\nlogged_on=" + kAlice + "\n"),
        registry(platform::Registry::Default()),
        useRegistry_(registry),
        useToken_(token) {
    Profiles({{"S-1-5-18", RegString("C:\\Windows\\system32\\config\\systemprofile")},
              {kAlice, RegString("C:\\Users\\alice")},
              {kBob, RegString("C:\\Users\\bob")}});
    machine.Write("drive_c/Windows/system32/config/systemprofile/NTUSER.DAT", HiveReg(kFullChain));
  }
  void Profiles(const std::vector<velk_test::ProfileEntry>& entries) {
    machine.Write("registry/HKLM.reg", velk_test::ProfileListReg(entries));
    velk_test::TempMachine::Reload();
  }
  void Hive(const std::string& user, const std::string& body) {
    machine.Write("drive_c/Users/" + user + "/NTUSER.DAT", HiveReg(body));
    velk_test::TempMachine::Reload();
  }
  std::string HiveText(const std::string& user) { return machine.Read("drive_c/Users/" + user + "/NTUSER.DAT"); }
  std::vector<std::string> Run(UINT expected = 0) {
    EXPECT_EQ(RemoveSparkleReg(velk_test::FakeInstaller::kSession), expected);
    auto lines = Short(installer.Lines());
    installer.messages.clear();
    return lines;
  }
  bool Mounted(const char* sid) {
    return static_cast<platform::host::HostRegistry&>(platform::Registry::Default())
        .IsUserHiveMounted(std::wstring(sid, sid + std::strlen(sid)));
  }

  velk_test::TempMachine machine;
  RecordingRegistry registry;
  RecordingToken token;

 private:
  platform::ScopedPort<platform::Registry> useRegistry_;
  platform::ScopedPort<platform::Token> useToken_;
};

TEST_F(RemoveSparkleRegTest, LoggedOnAndLoggedOffUsers) {
  Hive("alice", kFullChain);
  Hive("bob", kFullChain);
  EXPECT_THAT(Run(), ElementsAre("####### RemoveSparkleReg log PID=000001f4 #######", "I RegEnumKey end"));
  EXPECT_EQ(token.openedFor, static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES));
  EXPECT_THAT(token.enabled, ElementsAre(L"SeBackupPrivilege", L"SeRestorePrivilege"));
  EXPECT_EQ(token.closed, 1);
  EXPECT_THAT(registry.calls, ElementsAre(L"delete S-1-5-21-9-1001\\SOFTWARE\\TESSMAR\\velk-access\\WinSparkle",
                                          L"delete S-1-5-21-9-1001\\SOFTWARE\\TESSMAR\\velk-access",
                                          L"delete S-1-5-21-9-1001\\SOFTWARE\\TESSMAR",
                                          L"load S-1-5-21-9-1002 C:\\Users\\bob\\NTUSER.DAT",
                                          L"delete S-1-5-21-9-1002\\SOFTWARE\\TESSMAR\\velk-access\\WinSparkle",
                                          L"delete S-1-5-21-9-1002\\SOFTWARE\\TESSMAR\\velk-access",
                                          L"delete S-1-5-21-9-1002\\SOFTWARE\\TESSMAR", L"unload S-1-5-21-9-1002"));
  EXPECT_EQ(HiveText("alice").find("TESSMAR"), std::string::npos);
  EXPECT_EQ(HiveText("bob").find("TESSMAR"), std::string::npos);
  EXPECT_TRUE(Mounted(kAlice));
  EXPECT_FALSE(Mounted(kBob));
  // The system profile was never visited.
  EXPECT_NE(machine.Read("drive_c/Windows/system32/config/systemprofile/NTUSER.DAT").find("WinSparkle"),
            std::string::npos);
}

TEST_F(RemoveSparkleRegTest, ALinkPlantedAtAHiveLockWritesNothingOutside) {
  Hive("alice", kFullChain);
  Hive("bob", kFullChain);
  velk_test::TempMachine outside("");
  ::setenv("VELK_MACHINE", machine.Root().c_str(), 1);
  velk_test::TempMachine::Reload();
  std::filesystem::create_symlink(outside.Root() / "planted", machine.Root() / "drive_c/Users/bob/NTUSER.DAT.lock");
  testing::internal::CaptureStderr();
  std::vector<std::string> lines = Run();
  EXPECT_THAT(testing::internal::GetCapturedStderr(),
              testing::HasSubstr("drive_c/Users/bob/NTUSER.DAT.lock: a link stands at this name; refused"));
  EXPECT_THAT(lines, ElementsAre("####### RemoveSparkleReg log PID=000001f4 #######", "E RegDeleteKey Error(1013)",
                                 "I RegEnumKey end"));
  EXPECT_TRUE(std::filesystem::is_empty(outside.Root()));
  EXPECT_EQ(HiveText("alice").find("TESSMAR"), std::string::npos);
  EXPECT_EQ(HiveText("bob"), HiveReg(kFullChain));
  EXPECT_FALSE(Mounted(kBob));
}

TEST_F(RemoveSparkleRegTest, TheChainStopsAtKeysWithSubkeys) {
  // alice: the client key has another subkey; bob: only values are left.
  Hive("alice", std::string(kFullChain) + "[HKEY_CURRENT_USER\\SOFTWARE\\TESSMAR\\velk-access\\Profiles]\r\n");
  Hive("bob", std::string(kFullChain) + "[HKEY_CURRENT_USER\\SOFTWARE\\TESSMAR\\other]\r\n");
  EXPECT_THAT(Run(), ElementsAre(testing::_, "I RegEnumKey end"));
  std::string alice = HiveText("alice");
  EXPECT_EQ(alice.find("WinSparkle"), std::string::npos);
  EXPECT_NE(alice.find("\"InstallDir\"=\"C:\\\\velk\""), std::string::npos);
  EXPECT_NE(alice.find("velk-access\\Profiles]"), std::string::npos);
  std::string bob = HiveText("bob");
  EXPECT_EQ(bob.find("velk-access"), std::string::npos);
  EXPECT_NE(bob.find("[HKEY_CURRENT_USER\\SOFTWARE\\TESSMAR\\other]"), std::string::npos);

  // An updater key with a subkey of its own: nothing goes.
  Hive("alice", std::string(kFullChain) + "[HKEY_CURRENT_USER\\SOFTWARE\\TESSMAR\\velk-access\\WinSparkle\\x]\r\n");
  std::string before = HiveText("alice");
  EXPECT_THAT(Run(), ElementsAre(testing::_, "E RegOpenKeyEx Error(2)", "I RegEnumKey end"));  // bob's is gone
  EXPECT_EQ(HiveText("alice"), before);
}

TEST_F(RemoveSparkleRegTest, NoKeysAtAllStillUnmounts) {
  Hive("alice", "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\r\n");
  Hive("bob", "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\r\n");
  EXPECT_THAT(Run(), ElementsAre(testing::_, "E RegOpenKeyEx Error(2)", "E RegOpenKeyEx Error(2)", "I RegEnumKey end"));
  EXPECT_EQ(registry.calls.back(), L"unload S-1-5-21-9-1002");
  EXPECT_FALSE(Mounted(kBob));
}

TEST_F(RemoveSparkleRegTest, ProfilesWhoseHiveCannotBeMounted) {
  // Expanded home text, a missing hive file, a damaged one.
  Profiles({{"S-1-5-21-9-1003", velk_test::ExpandSzData("%SystemDrive%\\Users\\carol")},
            {"S-1-5-21-9-1004", RegString("C:\\Users\\dave")},
            {"S-1-5-21-9-1005", RegString("C:\\Users\\erin")}});
  Hive("carol", kFullChain);
  machine.Write("drive_c/Users/dave/desktop.ini", "");
  machine.Write("drive_c/Users/erin/NTUSER.DAT", "not a hive");
  testing::internal::CaptureStderr();
  EXPECT_THAT(Run(),
              ElementsAre(testing::_, "W Profile Not Found (S-1-5-21-9-1003)", "W Profile Not Found (S-1-5-21-9-1004)",
                          "E RegLoadKey Error(1009)", "I RegEnumKey end"));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count_if(registry.calls.begin(), registry.calls.end(),
                          [](const std::wstring& c) { return c.starts_with(L"unload"); }),
            0);
  EXPECT_NE(HiveText("carol").find("WinSparkle"), std::string::npos);
}

TEST_F(RemoveSparkleRegTest, InjectedFailures) {
  Hive("alice", kFullChain);
  Hive("bob", kFullChain);
  registry.failLoad = ERROR_SHARING_VIOLATION;
  registry.failQueryInfo = ERROR_ACCESS_DENIED;
  EXPECT_THAT(Run(), ElementsAre(testing::_,
                                 "E RegQueryInfoKey (S-1-5-21-9-1001\\SOFTWARE\\TESSMAR\\velk-access\\WinSparkle : 5)",
                                 "E RegLoadKey Error(32)", "I RegEnumKey end"));

  registry.failLoad = registry.failQueryInfo = 0;
  registry.failDelete = ERROR_ACCESS_DENIED;
  registry.failUnload = ERROR_ACCESS_DENIED;
  EXPECT_THAT(Run(), ElementsAre(testing::_, "E RegDeleteKey Error(5)", "E RegDeleteKey Error(5)",
                                 "E RegUnLoadKey Error(5)", "I RegEnumKey end"));
  EXPECT_NE(HiveText("bob").find("WinSparkle"), std::string::npos);

  token.failOpen = true;
  EXPECT_THAT(Run(1603), ElementsAre(testing::_, "E OpenProcessToken Error"));
}

TEST_F(RemoveSparkleRegTest, AMissingProfileListChangesNothingElse) {
  machine.Write("registry/HKLM.reg", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  velk_test::TempMachine::Reload();
  EXPECT_THAT(Run(0), ElementsAre(testing::_, "E RegOpenKeyEx Error(2)"));
}

}  // namespace
