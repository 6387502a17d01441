#include "platform/host/machine/Machine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/CodePages.h"
#include "platform/Installer.h"
#include "platform/host/adapters/HostInstaller.h"
#include "platform/host/machine/Utf.h"
#include "support/TempMachine.h"

namespace fs = std::filesystem;
using platform::host::Machine;
using platform::host::MachineConfig;

namespace {

TEST(MachineConfig, ReadsSettingsAndDefaults) {
  velk_test::TempMachine m(
      "[machine]\nacp=932  ui_language=1041\nuser=S-1-5-21-1-1001\nlogged_on=S-1-5-21-1-1002,S-1-5-21-1-1003\n");
  const Machine* machine = Machine::Current();
  ASSERT_NE(machine, nullptr);
  EXPECT_EQ(machine->Config().acp, 932u);
  EXPECT_EQ(machine->Config().uiLanguage, 1041u);
  EXPECT_EQ(machine->Config().user, L"S-1-5-21-1-1001");
  EXPECT_THAT(machine->Config().loggedOn, testing::ElementsAre(L"S-1-5-21-1-1002", L"S-1-5-21-1-1003"));

  MachineConfig empty;
  std::string error;
  ASSERT_TRUE(platform::host::LoadMachineConfig(m.Root() / "nowhere", &empty, &error));
  EXPECT_EQ(empty.acp, 1252u);
  EXPECT_EQ(empty.uiLanguage, 1033u);
}

TEST(MachineConfig, ErrorsNameFileAndLine) {
  velk_test::TempMachine m("");
  struct Case {
    const char* ini;
    const char* error;
  } cases[] = {
      {"[machine]\nacp=abc\n", ":2: acp must be a code page number"},
      {"[other]\n", ":1: unknown section [other]"},
      {"acp=1252\n", ":1: setting outside the [machine] section"},
      {"[machine]\n\nfoo=1\n", ":3: unknown setting 'foo'"},
      {"[machine]\nacp\n", ":2: expected name=value, got 'acp'"},
      {"[machine\n", ":1: unterminated section header"},
  };
  for (const auto& c : cases) {
    m.Write("machine.ini", c.ini);
    MachineConfig config;
    std::string error;
    EXPECT_FALSE(platform::host::LoadMachineConfig(m.Root(), &config, &error)) << c.ini;
    EXPECT_EQ(error, (m.Root() / "machine.ini").string() + c.error);
  }
  velk_test::TempMachine::Reload();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Machine::Current(), nullptr);
  EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("unterminated section header"));
}

TEST(MachinePaths, MapsDrivePathsWithoutCase) {
  velk_test::TempMachine m;
  m.Write("drive_c/Users/Alice/AppData/x.txt", "x");
  const Machine* machine = Machine::Current();
  fs::path p;
  ASSERT_TRUE(machine->MapPath(L"c:\\users\\ALICE\\appdata\\X.TXT", &p));
  EXPECT_EQ(p, m.Root() / "drive_c/Users/Alice/AppData/x.txt");
  ASSERT_TRUE(machine->MapPath(L"C:\\Users\\Alice\\New Folder\\f", &p));
  EXPECT_EQ(p, m.Root() / "drive_c/Users/Alice/New Folder/f");
  ASSERT_TRUE(machine->MapPath(L"D:/data", &p));
  EXPECT_EQ(p, m.Root() / "drive_d/data");
  ASSERT_TRUE(machine->MapPath(L"C:\\..\\..\\etc", &p));
  EXPECT_EQ(p, m.Root() / "drive_c/etc");
  EXPECT_FALSE(machine->MapPath(L"\\\\server\\share", &p));
  EXPECT_FALSE(machine->MapPath(L"relative\\path", &p));
  EXPECT_FALSE(machine->MapPath(L"C:relative", &p));
  std::wstring w;
  ASSERT_TRUE(machine->UnmapPath(m.Root() / "drive_c/Program Files/velk/bin/velk-access.exe", &w));
  EXPECT_EQ(w, L"C:\\Program Files\\velk\\bin\\velk-access.exe");
  EXPECT_FALSE(machine->UnmapPath("/usr/bin/true", &w));
}

// Only the letters A to Z name drives; whatever else stands before the colon
// maps nowhere, so ".." can never climb out of a drive folder.
TEST(MachinePaths, MapsOnlyAsciiDriveLetters) {
  velk_test::TempMachine m;
  const Machine* machine = Machine::Current();
  const std::wstring up = L":\\a\\..\\..\\..\\..\\..\\victim";
  for (wchar_t letter : {L'\x022F', L'\x012F', L'\x00E9', L'\x0130', L'\x212A', L'\xFF41', L'0', L'@', L'[', L'`', L'{',
                         L'\x015C', L'\x0100', L'\x0000'}) {
    fs::path p;
    EXPECT_FALSE(machine->MapPath(std::wstring(1, letter) + up, &p)) << std::hex << static_cast<unsigned>(letter);
  }
  for (auto [letter, folder] : {std::pair{L'A', "drive_a"}, {L'z', "drive_z"}, {L'Z', "drive_z"}}) {
    fs::path p;
    ASSERT_TRUE(machine->MapPath(std::wstring(1, letter) + up, &p));
    EXPECT_EQ(p, m.Root() / folder / "victim");
  }
  // The path ends at a null character, as the Windows string does.
  fs::path p;
  ASSERT_TRUE(machine->MapPath(std::wstring_view(L"C:\\a\0\\..\\..\\..", 14), &p));
  EXPECT_EQ(p, m.Root() / "drive_c/a");
}

TEST(CodePages, AnsiFollowsTheMachine) {
  velk_test::TempMachine m;
  EXPECT_EQ(platform::WideToAnsi(L"caf\u00e9 \u20ac"), "caf\xe9 \x80");
  EXPECT_EQ(platform::WideToAnsi(L"\u65e5"), "?");
  EXPECT_EQ(platform::AnsiToWide("caf\xe9"), L"caf\u00e9");
  m.Write("machine.ini", "[machine]\nacp=932\n");
  velk_test::TempMachine::Reload();
  EXPECT_EQ(platform::WideToAnsi(L"\u65e5\u672c"), "\x93\xfa\x96\x7b");
  EXPECT_EQ(platform::AnsiToWide("\x93\xfa\x96\x7b"), L"\u65e5\u672c");
  std::wstring w;
  ASSERT_TRUE(platform::ToWide(CP_UTF8, "\xe6\x97\xa5\xff", &w));
  EXPECT_EQ(w, L"\u65e5\ufffd");
}

TEST(CodePages, SizeQueriesAndShortBuffers) {
  velk_test::TempMachine m;
  auto& cp = platform::CodePages::Default();
  EXPECT_EQ(cp.WideToMultiByte(CP_ACP, L"abc", -1, nullptr, 0, nullptr), 4);
  char small[2];
  EXPECT_EQ(cp.WideToMultiByte(CP_ACP, L"abc", -1, small, 2, nullptr), 0);
  EXPECT_EQ(cp.MultiByteToWide(CP_UTF8, "ab", 2, nullptr, 0), 2);
}

TEST(CodePages, NoLookAlikeStandsInForAnUnmappableCharacter) {
  velk_test::TempMachine m;
  struct Case {
    const char* acp;
    UINT codePage;
    const wchar_t* text;
    const char* narrow;
    BOOL usedDefault;
  } cases[] = {
      {"1252", CP_ACP, L"caf\u00e9", "caf\xe9", FALSE},
      {"1252", CP_ACP, L"\u03a9mega", "?mega", TRUE},  // best fit would give "Omega"
      {"1252", CP_ACP, L"\u0100", "?", TRUE},          // and "A" here
      {"932", CP_ACP, L"\u65e5", "\x93\xfa", FALSE},
      {"932", CP_ACP, L"\u00a5", "?", TRUE},  // iconv's best fit gives '\\'
      {"932", CP_ACP, L"\u203e", "?", TRUE},  // and '~'
      {"1252", CP_UTF8, L"\u03a9", "\xce\xa9", FALSE},
  };
  auto& cp = platform::CodePages::Default();
  for (const Case& c : cases) {
    m.Write("machine.ini", std::string("[machine]\nacp=") + c.acp + "\n");
    velk_test::TempMachine::Reload();
    char out[16] = {};
    BOOL usedDefault = 2;
    int n = cp.WideToMultiByte(c.codePage, c.text, -1, out, sizeof out, &usedDefault);
    EXPECT_EQ(std::string(out, n > 0 ? n - 1 : 0), c.narrow) << c.narrow;
    EXPECT_EQ(usedDefault, c.usedDefault) << c.narrow;
    std::string whole;
    EXPECT_EQ(platform::ToMultiByte(c.codePage, c.text, &whole), !c.usedDefault) << c.narrow;
    // Log text keeps what converts.
    if (c.codePage == CP_ACP) {
      EXPECT_EQ(platform::WideToAnsi(c.text), c.narrow);
    }
  }
}

// Code page 932 as Windows' table has it: single bytes iconv's table lacks
// (0x80, 0xA0, 0xFD to 0xFF) read and write as Windows maps them; the same
// bytes as trail bytes of a pair stay the pair's.
TEST(CodePages, Cp932FollowsWindowsTableForEveryByte) {
  velk_test::TempMachine m;
  const std::pair<const char*, const wchar_t*> cases[] = {
      {"\x80", L"\u0080"},
      {"\xa0", L"\uf8f0"},
      {"\xfd", L"\uf8f1"},
      {"\xfe", L"\uf8f2"},
      {"\xff", L"\uf8f3"},
      {"a\x80\xa0\xfd\xfe\xffz", L"a\u0080\uf8f0\uf8f1\uf8f2\uf8f3z"},
      {"\x81\x80", L"\u00f7"},  // 0x80 as a trail byte
      {"\x93\xfa\xa0", L"\u65e5\uf8f0"},
      {"\xa1", L"\uff61"},  // a half-width katakana, as before
  };
  for (const auto& [narrow, wide] : cases) {
    SCOPED_TRACE(narrow);
    std::wstring w;
    ASSERT_TRUE(platform::ToWide(932, narrow, &w));
    EXPECT_EQ(w, wide);
    std::string back;
    ASSERT_TRUE(platform::ToMultiByte(932, wide, &back));
    EXPECT_EQ(back, narrow);
    size_t bad = 99;
    std::wstring strict;
    EXPECT_TRUE(platform::host::DecodeStrict(932, narrow, &strict, &bad));
    EXPECT_EQ(strict, wide);
  }
  // A lead byte without its trail is still invalid, where it stands.
  std::wstring strict;
  size_t bad = 0;
  EXPECT_FALSE(platform::host::DecodeStrict(932, "ab\x81", &strict, &bad));
  EXPECT_EQ(bad, 2u);
  std::wstring w;
  ASSERT_TRUE(platform::ToWide(932, "\xfd\x81", &w));
  EXPECT_EQ(w, L"\uf8f1\ufffd");
}

TEST(HostInstaller, PropertiesFollowTheInstallersRules) {
  auto& installer = platform::host::HostInstallerInstance();
  MSIHANDLE s = installer.OpenSession({{L"A", L"12345"}}, nullptr);
  wchar_t buf[4];
  DWORD chars = 4;
  EXPECT_EQ(installer.GetProperty(s, L"A", buf, &chars), ERROR_MORE_DATA);
  EXPECT_EQ(chars, 5u);
  EXPECT_STREQ(buf, L"123");
  chars = 4;
  EXPECT_EQ(installer.GetProperty(s, L"a", buf, &chars), ERROR_SUCCESS);  // names are case-sensitive
  EXPECT_EQ(chars, 0u);
  EXPECT_EQ(installer.SetProperty(s, L"B", L"1"), ERROR_SUCCESS);
  EXPECT_EQ(installer.SetProperty(s, L"A", L"x"), ERROR_SUCCESS);
  EXPECT_EQ(installer.SetProperty(s, L"B", L"2"), ERROR_SUCCESS);
  EXPECT_THAT(installer.PropertiesSet(s), testing::ElementsAre(std::pair(std::wstring(L"B"), std::wstring(L"2")),
                                                               std::pair(std::wstring(L"A"), std::wstring(L"x"))));
  EXPECT_EQ(installer.GetProperty(s + 1000, L"A", buf, &chars), static_cast<UINT>(ERROR_INVALID_HANDLE));
  installer.CloseHandle(s);
}

}  // namespace
