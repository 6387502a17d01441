#include "ProfileList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PerUserMachine.h"
#include "support/ForwardingRegistry.h"
#include "support/LogFixture.h"

namespace {

using testing::ElementsAre;
using velk_test::ExpandSzData;
using velk_test::ProfileListReg;
using velk_test::RegString;
using velk_test::Short;

TEST(IsSystemProfileTest, SidTable) {
  struct Case {
    const wchar_t* sid;
    bool system;
  } cases[] = {
      {L"S-1-5-18", true},
      {L"S-1-5-19", true},
      {L"S-1-5-20", true},
      {L"S-1-5-21-1-2-3-1001", false},
      {L"S-1-5-80-12-34", false},
      {L"S-1-5-16", false},
      {L"S-1-5-100-5", true},
      {L"S-1-5-9", true},
      {L"S-1-5-0", true},
      {L"S-1-12-1-2-3", false},
      {L"S-1-5-", false},
      {L"S-1-5-x", false},
      {L"", false},
      {L"S-1-5", false},
      {L"s-1-5-18", false},
      {L"S-1-5-21", false},
      {L"S-1-5-2", true},
      {L"S-1-5-1-9", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsSystemProfile(c.sid), c.system) << testing::PrintToString(std::wstring(c.sid));
}

struct Collector : CProfileDirectoryEnumerator<Collector> {
  static constexpr const char* kHandlerName = "Collector";
  void OnProfileDirectory(std::wstring home) { homes.push_back(home); }
  std::vector<std::wstring> homes;
};

class ProfileListTest : public velk_test::LogFixture {
 protected:
  void Profiles(const std::vector<velk_test::ProfileEntry>& entries) {
    machine.Write("registry/HKLM.reg", ProfileListReg(entries));
    velk_test::TempMachine::Reload();
  }
  std::vector<std::pair<std::wstring, std::wstring>> Walk(const wchar_t* suffix, bool* listed = nullptr) {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    bool ok = ForEachProfileSid(
        [&](HKEY list, const wchar_t* sid) { out.emplace_back(sid, LookupProfilePath(list, sid, suffix)); });
    if (listed) *listed = ok;
    return out;
  }
  HRESULT Enumerate(Collector& c) {
    try {
      return c.Enumerate();
    } catch (const HresultException& e) {
      return e.hr;
    }
  }

  velk_test::TempMachine machine;
};

TEST_F(ProfileListTest, WalkSkipsSystemProfilesAndUsesTheStoredText) {
  machine.Write("drive_c/Users/alice/NTUSER.DAT", "");
  machine.Write("drive_c/Users/bob/NTUSER.DAT", "");
  machine.Write("drive_c/Windows/ServiceProfiles/LocalService/NTUSER.DAT", "");
  Profiles({{"S-1-5-18", RegString("C:\\Windows\\ServiceProfiles\\LocalService")},
            {"S-1-5-21-9-1001", RegString("C:\\Users\\alice")},
            {"S-1-5-21-9-1002", ExpandSzData("%SystemDrive%\\Users\\bob")}});
  EXPECT_THAT(Walk(L"\\NTUSER.DAT"),
              ElementsAre(std::pair<std::wstring, std::wstring>(L"S-1-5-21-9-1001", L"C:\\Users\\alice\\NTUSER.DAT"),
                          std::pair<std::wstring, std::wstring>(L"S-1-5-21-9-1002", L"")));
  EXPECT_THAT(Short(installer.Lines()), ElementsAre("W Profile Not Found (S-1-5-21-9-1002)", "I RegEnumKey end"));

  // The enumerator visits all three, expanded.
  installer.messages.clear();
  Collector c;
  EXPECT_EQ(Enumerate(c), S_OK);
  EXPECT_THAT(c.homes,
              ElementsAre(L"C:\\Windows\\ServiceProfiles\\LocalService", L"C:\\Users\\alice", L"C:\\Users\\bob"));
  EXPECT_THAT(Short(installer.Lines()), ElementsAre("I CProfileDirectoryEnumerator<Collector>::Enumerate - enter",
                                                    "I CProfileDirectoryEnumerator<Collector>::Enumerate - leave"));
}

TEST_F(ProfileListTest, AMissingImagePathStopsTheEnumeratorButNotTheWalk) {
  machine.Write("drive_c/Users/bob/x", "");
  Profiles({{"S-1-5-21-9-1000", ""}, {"S-1-5-21-9-1002", RegString("C:\\Users\\bob")}});
  EXPECT_THAT(Walk(L"\\x"),
              ElementsAre(std::pair<std::wstring, std::wstring>(L"S-1-5-21-9-1000", L""),
                          std::pair<std::wstring, std::wstring>(L"S-1-5-21-9-1002", L"C:\\Users\\bob\\x")));
  EXPECT_THAT(Short(installer.Lines()), ElementsAre("E RegQueryValueEx Error(2)", "I RegEnumKey end"));
  installer.messages.clear();
  Collector c;
  EXPECT_EQ(Enumerate(c), static_cast<HRESULT>(0x80070002u));
  EXPECT_TRUE(c.homes.empty());
  EXPECT_THAT(Short(installer.Lines()), ElementsAre(testing::EndsWith("- enter"), testing::EndsWith("- leave")));
}

// Fails RegEnumKeyExW from one index on, counting the calls.
class FailingEnumRegistry : public velk_test::ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;
  LSTATUS EnumKey(HKEY k, DWORD i, wchar_t* n, DWORD* c) override {
    ++enumCalls;
    return i >= failFrom ? failure : in.EnumKey(k, i, n, c);
  }
  DWORD failFrom = 0;
  LSTATUS failure = ERROR_ACCESS_DENIED;
  int enumCalls = 0;
};

TEST_F(ProfileListTest, AFailedEnumerationEndsTheWalkOnce) {
  machine.Write("drive_c/Users/alice/x", "");
  Profiles({{"S-1-5-21-9-1001", RegString("C:\\Users\\alice")}, {"S-1-5-21-9-1002", RegString("C:\\Users\\bob")}});
  FailingEnumRegistry failing(platform::Registry::Default());
  failing.failFrom = 1;
  platform::ScopedPort<platform::Registry> use(failing);
  bool listed = false;
  EXPECT_THAT(Walk(L"\\x", &listed),
              ElementsAre(std::pair<std::wstring, std::wstring>(L"S-1-5-21-9-1001", L"C:\\Users\\alice\\x")));
  EXPECT_TRUE(listed);
  EXPECT_EQ(failing.enumCalls, 2);
  EXPECT_THAT(Short(installer.Lines()), ElementsAre("E RegEnumKey Error(5)"));
}

TEST_F(ProfileListTest, ValueTypesAndLengths) {
  // 259 characters fit the walk's 260-character read, 260 do not.
  std::string dir259 = "C:\\" + std::string(128, 'a') + "\\" + std::string(127, 'a');
  std::string dir260 = "C:\\" + std::string(128, 'b') + "\\" + std::string(128, 'b');
  ASSERT_EQ(dir259.size(), 259u);
  ASSERT_EQ(dir260.size(), 260u);
  machine.Write("drive_c/" + std::string(128, 'a') + "/" + std::string(127, 'a') + "/f", "");
  Profiles({{"S-1-5-21-9-1001", RegString(dir259)},
            {"S-1-5-21-9-1002", RegString(dir260)},
            {"S-1-5-21-9-1003", "dword:00000001"},
            {"S-1-5-21-9-1004", "hex(7):43,00,3a,00,5c,00,6d,00,00,00,43,00,3a,00,5c,00,6e,00,00,00,00,00"}});
  auto walked = Walk(L"\\f");
  ASSERT_EQ(walked.size(), 4u);
  EXPECT_EQ(walked[0].second, std::wstring(dir259.begin(), dir259.end()) + L"\\f");
  EXPECT_EQ(walked[1].second, L"");
  EXPECT_THAT(Short(installer.Lines()),
              ElementsAre("E RegQueryValueEx Error(234)", "W Profile Not Found (S-1-5-21-9-1003)",
                          "W Profile Not Found (S-1-5-21-9-1004)", "I RegEnumKey end"));

  // The enumerator expands into 260 characters: 259 fit, 260 are E_INVALIDARG.
  Collector c;
  EXPECT_EQ(Enumerate(c), E_INVALIDARG);
  EXPECT_THAT(c.homes, ElementsAre(std::wstring(dir259.begin(), dir259.end())));

  Profiles({{"S-1-5-21-9-1004", "hex(7):43,00,3a,00,5c,00,6d,00,00,00,43,00,3a,00,5c,00,6e,00,00,00,00,00"},
            {"S-1-5-21-9-1005", "dword:00000001"}});
  Collector d;
  EXPECT_EQ(Enumerate(d), static_cast<HRESULT>(0x8007065Du));
  EXPECT_THAT(d.homes, ElementsAre(L"C:\\m"));  // only the first string of a multi-string
}

TEST_F(ProfileListTest, AValueStoredWithoutTerminatorEndsWhereItsDataEnds) {
  Profiles({{"S-1-5-21-9-1001", "hex(2):43,00,3a,00,5c,00,70,00"},  // "C:\\p", no null
            {"S-1-5-21-9-1002", RegString("C:\\q")}});
  Collector c;
  EXPECT_EQ(Enumerate(c), S_OK);
  EXPECT_THAT(c.homes, ElementsAre(L"C:\\p", L"C:\\q"));
}

TEST_F(ProfileListTest, EmptyAndMissingLists) {
  Profiles({});
  bool listed = false;
  EXPECT_TRUE(Walk(L"", &listed).empty());
  EXPECT_TRUE(listed);
  EXPECT_THAT(Short(installer.Lines()), ElementsAre("I RegEnumKey end"));
  Collector c;
  EXPECT_EQ(Enumerate(c), S_OK);
  EXPECT_TRUE(c.homes.empty());

  machine.Write("registry/HKLM.reg", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  velk_test::TempMachine::Reload();
  installer.messages.clear();
  EXPECT_TRUE(Walk(L"", &listed).empty());
  EXPECT_FALSE(listed);
  EXPECT_THAT(Short(installer.Lines()), ElementsAre("E RegOpenKeyEx Error(2)"));
  EXPECT_EQ(Enumerate(c), static_cast<HRESULT>(0x80070002u));
}

}  // namespace
