#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/LogFixture.h"
#include "support/TempMachine.h"

extern "C" UINT IsSupportOS(MSIHANDLE install);

namespace {

using testing::ElementsAre;
using testing::EndsWith;
using velk_test::FakeInstaller;

class IsSupportOSTest : public velk_test::LogFixture {
 protected:
  void Version(const std::string& values) {
    machine.Write("registry/HKLM.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n" +
                      values);
    velk_test::TempMachine::Reload();
  }
  bool Flagged() { return installer.properties.count(L"RASXX_NOT_SUPPORTOS") != 0; }

  velk_test::TempMachine machine;
};

TEST_F(IsSupportOSTest, Windows81HasNoMajorVersion) {
  Version("\"CurrentBuild\"=\"9600\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
  EXPECT_THAT(installer.Lines(),
              ElementsAre("####### Tovrin log PID=000001f4 #######", EndsWith(" I IsSupportOS - enter"),
                          "####### Detect windows8.1 #######", EndsWith(" E RegQueryValueEx Error2)"),
                          EndsWith(" I IsSupportOS - leave")));
  EXPECT_EQ(installer.properties[L"RASXX_NOT_SUPPORTOS"], L"1");
}

TEST_F(IsSupportOSTest, Windows10) {
  Version("\"CurrentMajorVersionNumber\"=dword:0000000a\r\n\"CurrentBuild\"=\"19045\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
  EXPECT_THAT(installer.Lines(),
              ElementsAre("####### Tovrin log PID=000001f4 #######", EndsWith(" I IsSupportOS - enter"),
                          "####### IsSupportOS(Major=10) #######", "####### IsSupportOS(Build=19045) #######",
                          "####### Detect windows10 #######", EndsWith(" I IsSupportOS - leave")));
  EXPECT_FALSE(Flagged());
}

TEST_F(IsSupportOSTest, Windows11StartsAtBuild22000) {
  Version("\"CurrentMajorVersionNumber\"=dword:0000000a\r\n\"CurrentBuild\"=\"22000\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
  EXPECT_THAT(installer.Lines()[4], "####### Detect windows11 #######");
  installer.messages.clear();
  Version("\"CurrentMajorVersionNumber\"=dword:0000000a\r\n\"CurrentBuild\"=\"21999\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
  EXPECT_THAT(installer.Lines()[4], "####### Detect windows10 #######");
  EXPECT_FALSE(Flagged());
}

TEST_F(IsSupportOSTest, OldMajorVersionIsFlagged) {
  Version("\"CurrentMajorVersionNumber\"=dword:00000006\r\n\"CurrentBuild\"=\"9600\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
  EXPECT_THAT(installer.Lines(), ElementsAre(testing::_, testing::_, "####### IsSupportOS(Major=6) #######",
                                             EndsWith(" I IsSupportOS - leave")));
  EXPECT_TRUE(Flagged());
}

TEST_F(IsSupportOSTest, MissingKeyFails) {
  Version("");
  machine.Write("registry/HKLM.reg", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  velk_test::TempMachine::Reload();
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 1603u);
  EXPECT_THAT(installer.Lines(), ElementsAre(testing::_, testing::_, EndsWith(" E RegOpenKeyEx Error(2)"),
                                             EndsWith(" I IsSupportOS - leave")));
  EXPECT_TRUE(Flagged());
  EXPECT_TRUE(installer.Errors().empty());
}

TEST_F(IsSupportOSTest, UnreadableBuildFails) {
  Version("\"CurrentMajorVersionNumber\"=dword:0000000a\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 1603u);
  EXPECT_THAT(installer.Lines()[3], EndsWith(" E RegQueryValueEx Error(2)"));
  EXPECT_TRUE(Flagged());

  installer.messages.clear();
  installer.properties.clear();
  Version("\"CurrentMajorVersionNumber\"=dword:0000000a\r\n\"CurrentBuild\"=\"1234567890123456\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 1603u);
  EXPECT_THAT(installer.Lines()[3], EndsWith(" E RegQueryValueEx Error(234)"));
  EXPECT_TRUE(Flagged());
}

TEST_F(IsSupportOSTest, BuildTextIsParsedLikeWcstol) {
  Version("\"CurrentMajorVersionNumber\"=dword:0000000b\r\n\"CurrentBuild\"=\"123456789012345\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
  EXPECT_THAT(installer.Lines()[2], "####### IsSupportOS(Major=11) #######");
  installer.messages.clear();
  Version("\"CurrentMajorVersionNumber\"=dword:0000000a\r\n\"CurrentBuild\"=\"abc\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
  EXPECT_THAT(installer.Lines(), ElementsAre(testing::_, testing::_, testing::_, "####### IsSupportOS(Build=0) #######",
                                             "####### Detect windows10 #######", testing::_));
  installer.messages.clear();
  Version("\"CurrentMajorVersionNumber\"=dword:0000000a\r\n\"CurrentBuild\"=\" +22631.1\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
  EXPECT_THAT(installer.Lines()[3], "####### IsSupportOS(Build=22631) #######");
  EXPECT_FALSE(Flagged());
}

TEST_F(IsSupportOSTest, BuildNumberSaturatesAt32Bits) {
  const struct {
    const char* text;
    const char* line;
  } cases[] = {
      {"99999999999", "####### IsSupportOS(Build=2147483647) #######"},
      {"2147483648", "####### IsSupportOS(Build=2147483647) #######"},
      {"2147483647", "####### IsSupportOS(Build=2147483647) #######"},
      {"-2147483648", "####### IsSupportOS(Build=-2147483648) #######"},
      {"-99999999999", "####### IsSupportOS(Build=-2147483648) #######"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    installer.messages.clear();
    Version(std::string("\"CurrentMajorVersionNumber\"=dword:0000000a\r\n\"CurrentBuild\"=\"") + c.text + "\"\r\n");
    EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
    ASSERT_GE(installer.Lines().size(), 5u);
    EXPECT_EQ(installer.Lines()[3], c.line);
    EXPECT_EQ(installer.Lines()[4],
              c.text[0] == '-' ? "####### Detect windows10 #######" : "####### Detect windows11 #######");
  }
  EXPECT_FALSE(Flagged());
}

TEST_F(IsSupportOSTest, AnEarlierFlagStaysOnASupportedSystem) {
  installer.properties[L"RASXX_NOT_SUPPORTOS"] = L"1";
  Version("\"CurrentMajorVersionNumber\"=dword:0000000a\r\n\"CurrentBuild\"=\"19045\"\r\n");
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 0u);
  EXPECT_EQ(installer.properties[L"RASXX_NOT_SUPPORTOS"], L"1");
  EXPECT_TRUE(installer.propertiesSet.empty());
}

TEST_F(IsSupportOSTest, AMalformedRegistryFailsTheOpen) {
  machine.Write("registry/HKLM.reg", "Windows Registry Editor Version 5.00\r\n\r\n\"orphan\"=\"x\"\r\n");
  velk_test::TempMachine::Reload();
  testing::internal::CaptureStderr();
  EXPECT_EQ(IsSupportOS(FakeInstaller::kSession), 1603u);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_THAT(err, testing::HasSubstr("HKLM.reg:3: value outside a key"));
  EXPECT_THAT(installer.Lines()[2], EndsWith(" E RegOpenKeyEx Error(1009)"));
}

}  // namespace
