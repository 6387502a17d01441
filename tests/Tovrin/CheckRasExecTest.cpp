#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "RunningClient.h"
#include "support/FakeProcesses.h"
#include "support/LogFixture.h"
#include "support/TempMachine.h"

extern "C" UINT CheckRasExec(MSIHANDLE install);

namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using velk_test::FakeInstaller;

constexpr wchar_t kV1[] = L"C:\\Program Files\\TESSMAR\\velk-access V1\\";
constexpr wchar_t kEx[] = L"C:\\Program Files\\TESSMAR\\velk-access EX";
constexpr wchar_t kLe[] = L"C:\\Program Files\\TESSMAR\\velk-access LE\\";
constexpr wchar_t kTarget[] = L"C:\\Program Files\\TESSMAR\\velk-access\\";
constexpr wchar_t kCurrentExe[] = L"C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe";
constexpr wchar_t kEnglish[] = L"velk-access app is running. Exit the velk-access app and select OK.";

const std::string kBanner = "####### Tovrin log PID=000001f4 #######";

class CheckRasExecTest : public velk_test::LogFixture {
 protected:
  CheckRasExecTest() : useProcesses_(processes), useToken_(token), useDialog_(dialog) {
    installer.properties[L"RASV1_INSTALLED"] = kV1;
    installer.properties[L"RASEX_INSTALLED"] = kEx;
    installer.properties[L"RASLE_INSTALLED"] = kLe;
    installer.properties[L"TARGETDIR"] = kTarget;
    processes.Add(4, L"C:\\Windows\\System32\\smss.exe");
    processes.Add(612, L"C:\\Windows\\explorer.exe");
  }
  ~CheckRasExecTest() override {
    EXPECT_EQ(processes.openHandles, 0);
    EXPECT_EQ(processes.openSnapshots, 0);
    EXPECT_EQ(token.openTokens, 0);
  }

  // Log lines as "<level letter> <message>"; banners whole.
  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    for (const std::string& line : installer.Lines())
      out.push_back(line.rfind("#######", 0) == 0 ? line : line.substr(33));
    return out;
  }
  bool Flagged() const { return installer.properties.count(L"RASXX_RUNNING") != 0; }

  velk_test::TempMachine machine;
  velk_test::FakeProcesses processes;
  velk_test::FakeToken token;
  velk_test::FakeUserDialog dialog;

 private:
  platform::ScopedPort<platform::Processes> useProcesses_;
  platform::ScopedPort<platform::Token> useToken_;
  platform::ScopedPort<platform::UserDialog> useDialog_;
};

TEST_F(CheckRasExecTest, NoClientRunning) {
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  EXPECT_THAT(Lines(),
              ElementsAre(kBanner, "I CheckRasExec - enter", kBanner, "I IsRasExec - enter",
                          "I rasV1InstalledPath = C:\\Program Files\\TESSMAR\\velk-access V1\\bin\\velk-access.exe",
                          "I rasExInstalledPath = C:\\Program Files\\TESSMAR\\velk-access EX\\bin\\velk-access-ex.exe",
                          "I rasLeInstalledPath = C:\\Program Files\\TESSMAR\\velk-access LE\\bin\\velk-access-LE.exe",
                          "I rasTmInstalledPath = C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe",
                          "I IsRasExec - leave", "I CheckRasExec - leave"));
  EXPECT_THAT(dialog.shown, IsEmpty());
  EXPECT_FALSE(Flagged());
  EXPECT_THAT(installer.Errors(), IsEmpty());
  // The privilege that opens other users' processes, asked for once.
  EXPECT_THAT(token.openAccess, ElementsAre(TOKEN_ADJUST_PRIVILEGES));
  EXPECT_THAT(token.lookedUp, ElementsAre(L"SeDebugPrivilege"));
  EXPECT_THAT(token.adjusted, ElementsAre(std::make_pair(20u, static_cast<DWORD>(SE_PRIVILEGE_ENABLED))));
  EXPECT_THAT(processes.opened, ElementsAre(4u, 612u));
  EXPECT_THAT(processes.accessRequested, ElementsAre(0x0410u, 0x0410u));
}

TEST_F(CheckRasExecTest, ClientStillRunningAfterTheMessageIsFlagged) {
  processes.Add(700, kCurrentExe);
  processes.Add(701, L"C:\\Program Files\\TESSMAR\\velk-access EX\\bin\\velk-access-ex.exe");
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  ASSERT_EQ(dialog.shown.size(), 1u);
  EXPECT_EQ(dialog.shown[0].owner, nullptr);
  EXPECT_EQ(dialog.shown[0].text, kEnglish);
  EXPECT_EQ(dialog.shown[0].caption, L"velk-access");
  EXPECT_EQ(dialog.shown[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(installer.properties[L"RASXX_RUNNING"], L"1");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 21u);
  // The walk stops at the first match: 701 is never opened.
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 8, lines.begin() + 11),
              ElementsAre("I module = C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe",
                          "I bRasTmRunning = TRUE", "I IsRasExec - leave"));
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 17, lines.end()),
              ElementsAre("I module = C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe",
                          "I bRasTmRunning = TRUE", "I IsRasExec - leave", "I CheckRasExec - leave"));
  EXPECT_THAT(processes.opened, ElementsAre(4u, 612u, 700u, 4u, 612u, 700u));
  EXPECT_THAT(installer.propertiesSet, ElementsAre(L"RASXX_RUNNING"));
}

TEST_F(CheckRasExecTest, ClientExitingBeforeOkLeavesNoFlag) {
  processes.Add(700, kCurrentExe);
  dialog.whileShown = [&] { processes.Exit(700); };
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  EXPECT_EQ(dialog.shown.size(), 1u);
  EXPECT_FALSE(Flagged());
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "I bRasTmRunning = TRUE"), 1);
  EXPECT_EQ(lines.back(), "I CheckRasExec - leave");
}

TEST_F(CheckRasExecTest, ASecondCheckThatCannotListProcessesFails) {
  processes.Add(700, kCurrentExe);
  dialog.whileShown = [&] {
    processes.sessionListError = ERROR_ACCESS_DENIED;
    processes.snapshotError = ERROR_ACCESS_DENIED;
  };
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 1603u);
  EXPECT_FALSE(Flagged());
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines[lines.size() - 3], "E CreateToolhelp32Snapshot() = Access is denied. (0x80070005)");
}

TEST_F(CheckRasExecTest, TheMessageFollowsTheUserInterfaceLanguage) {
  machine.Write("machine.ini", "[machine]\nacp=932 ui_language=1041\n");
  velk_test::TempMachine::Reload();
  processes.Add(700, kCurrentExe);
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  ASSERT_EQ(dialog.shown.size(), 1u);
  EXPECT_EQ(dialog.shown[0].text,
            L"velk-access\u30a2\u30d7\u30ea\u306e\u5b9f\u884c\u3092\u691c\u51fa\u3057\u307e\u3057\u305f\u3002"
            L"velk-access\u30a2\u30d7\u30ea\u3092\u7d42\u4e86\u3057\u3066OK\u30dc\u30bf\u30f3\u3092\u62bc\u3057"
            L"\u3066\u304f\u3060\u3055\u3044\u3002");
  EXPECT_EQ(dialog.shown[0].caption, L"velk-access");
}

TEST_F(CheckRasExecTest, AMissingMessageStillAsks) {
  velk_test::FakeStringTable strings;
  platform::ScopedPort<platform::StringTable> use(strings);
  processes.Add(700, kCurrentExe);
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  EXPECT_THAT(strings.loaded, ElementsAre(103u));
  ASSERT_EQ(dialog.shown.size(), 1u);
  EXPECT_EQ(dialog.shown[0].text, L"");
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines[11], "W LoadString() = The specified resource name cannot be found in the image file. (0x80070716)");
  EXPECT_TRUE(Flagged());
}

TEST_F(CheckRasExecTest, OnlyTheClientBeingInstalledWhenOtherFoldersAreEmpty) {
  installer.properties.erase(L"RASV1_INSTALLED");
  installer.properties[L"RASEX_INSTALLED"] = L"";
  installer.properties.erase(L"RASLE_INSTALLED");
  processes.Add(650, L"C:\\bin\\velk-access.exe");  // relative candidates never match
  processes.Add(651, L"C:\\Program Files\\Other\\bin\\velk-access.exe");
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), S_OK);
  EXPECT_THAT(
      Lines(),
      ElementsAre(kBanner, "I IsRasExec - enter", "I rasV1InstalledPath = bin\\velk-access.exe",
                  "I rasExInstalledPath = bin\\velk-access-ex.exe", "I rasLeInstalledPath = bin\\velk-access-LE.exe",
                  "I rasTmInstalledPath = C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe",
                  "I IsRasExec - leave"));
  installer.messages.clear();
  processes.Add(700, kCurrentExe);
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), E_ABORT);
  EXPECT_EQ(Lines()[7], "I bRasTmRunning = TRUE");
}

TEST_F(CheckRasExecTest, OlderEditionsMatchInTheirOrderWithoutTheCurrentLine) {
  // The old edition's folder is the current one: the V1 row is compared first.
  installer.properties[L"RASV1_INSTALLED"] = kTarget;
  processes.Add(700, kCurrentExe);
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), E_ABORT);
  std::vector<std::string> lines = Lines();
  EXPECT_THAT(
      std::vector<std::string>(lines.begin() + 6, lines.end()),
      ElementsAre("I module = C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe", "I IsRasExec - leave"));

  installer.messages.clear();
  processes.Exit(700);
  processes.Add(800, L"C:\\Program Files\\TESSMAR\\velk-access LE\\bin\\velk-access-LE.exe");
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), E_ABORT);
  lines = Lines();
  EXPECT_EQ(lines[6], "I module = C:\\Program Files\\TESSMAR\\velk-access LE\\bin\\velk-access-LE.exe");
  EXPECT_EQ(lines[7], "I IsRasExec - leave");
}

TEST_F(CheckRasExecTest, PathsMatchWholeAndWithoutRegardToCase) {
  processes.Add(700, L"C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe.bak");
  processes.Add(701, L"D:\\Copy\\bin\\velk-access.exe");
  processes.Add(702, L"C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.ex");
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), S_OK);
  installer.messages.clear();
  processes.Add(703, L"c:\\PROGRAM FILES\\tessmar\\VELK-ACCESS\\BIN\\Velk-Access.EXE");
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), E_ABORT);
  EXPECT_EQ(Lines()[6], "I module = c:\\PROGRAM FILES\\tessmar\\VELK-ACCESS\\BIN\\Velk-Access.EXE");
}

TEST_F(CheckRasExecTest, ProcessesThatCannotBeReadOrEndDuringTheWalkAreSkipped) {
  processes.Add(100, kCurrentExe).openError = ERROR_ACCESS_DENIED;
  processes.Add(101, kCurrentExe).pathError = ERROR_PARTIAL_COPY;
  processes.Add(102, kCurrentExe);
  processes.Add(103, L"C:\\Windows\\notepad.exe");
  // 102 ends after the list was taken: it cannot be opened any more.
  processes.onOpen = [&](DWORD id) {
    if (id == 4) processes.Exit(102);
  };
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), S_OK);
  EXPECT_THAT(processes.opened, ElementsAre(4u, 612u, 100u, 101u, 102u, 103u));
  EXPECT_EQ(Lines().size(), 7u);
}

TEST_F(CheckRasExecTest, SnapshotWhenTheSessionListIsUnavailable) {
  processes.sessionListError = ERROR_ACCESS_DENIED;
  processes.Add(700, kCurrentExe);
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  std::vector<std::string> lines = Lines();
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 8, lines.begin() + 10),
              ElementsAre("I module = C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe",
                          "I bRasV2Running = TRUE"));
  EXPECT_EQ(processes.snapshots, 2);
  EXPECT_TRUE(Flagged());
  for (const std::string& line : lines) EXPECT_NE(line[0], 'E') << line;
}

TEST_F(CheckRasExecTest, NoProcessListAtAllFails) {
  processes.sessionListError = ERROR_ACCESS_DENIED;
  processes.snapshotError = ERROR_NOT_ENOUGH_MEMORY;
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), static_cast<HRESULT>(0x80070008));
  EXPECT_EQ(Lines()[6],
            "E CreateToolhelp32Snapshot() = Not enough memory resources are available to process this command. "
            "(0x80070008)");
  installer.messages.clear();
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 1603u);
  EXPECT_THAT(installer.Errors(), IsEmpty());

  installer.messages.clear();
  processes.snapshotError.reset();
  processes.firstEntryError = ERROR_NO_MORE_FILES;
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), static_cast<HRESULT>(0x80070012));
  EXPECT_EQ(Lines()[6], "E Process32First() = There are no more files. (0x80070012)");
  EXPECT_EQ(Lines()[7], "I IsRasExec - leave");
}

TEST_F(CheckRasExecTest, ATokenThatCannotBeOpenedSkipsTheCheck) {
  token.openError = ERROR_ACCESS_DENIED;
  processes.Add(700, kCurrentExe);
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  EXPECT_THAT(Lines(),
              ElementsAre(kBanner, "I CheckRasExec - enter", "E OpenProcessToken Error", "I CheckRasExec - leave"));
  EXPECT_EQ(processes.sessionLists, 0);
  EXPECT_FALSE(Flagged());
}

TEST_F(CheckRasExecTest, WithoutThePrivilegeTheCheckGoesOn) {
  token.lookupError = ERROR_NO_SUCH_PRIVILEGE;
  processes.Add(700, kCurrentExe);
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  EXPECT_EQ(Lines()[2], "E LookupPrivilegeValue Error");
  EXPECT_TRUE(Flagged());

  installer.messages.clear();
  token.lookupError = 0;
  token.adjustError = ERROR_ACCESS_DENIED;
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  EXPECT_EQ(Lines()[2], "E AdjustTokenPrivileges Error");
  EXPECT_EQ(processes.sessionLists, 4);
}

TEST_F(CheckRasExecTest, AFailingPropertyWriteFailsTheAction) {
  installer.failSet[L"RASXX_RUNNING"] = ERROR_INVALID_HANDLE;
  processes.Add(700, kCurrentExe);
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 1603u);
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines[lines.size() - 2], "E MsiSetPropertyW() = The handle is invalid. (0x80070006)");
}

TEST_F(CheckRasExecTest, PropertyReadFailures) {
  // An old edition's folder that cannot be read is simply not looked for.
  installer.failGet[L"RASV1_INSTALLED"] = ERROR_INVALID_HANDLE;
  processes.Add(700, L"C:\\Program Files\\TESSMAR\\velk-access V1\\bin\\velk-access.exe");
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), S_OK);
  EXPECT_EQ(Lines()[2], "I rasExInstalledPath = C:\\Program Files\\TESSMAR\\velk-access EX\\bin\\velk-access-ex.exe");

  // TARGETDIR unreadable: 1603 from the check, which the action takes as success.
  installer.messages.clear();
  installer.failGet[L"TARGETDIR"] = ERROR_INVALID_HANDLE;
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), 1603);
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);

  // Nothing to look for: no process list is taken.
  installer.failGet[L"RASEX_INSTALLED"] = ERROR_INVALID_HANDLE;
  installer.failGet[L"RASLE_INSTALLED"] = ERROR_INVALID_HANDLE;
  installer.messages.clear();
  int lists = processes.sessionLists;
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), 1603);
  EXPECT_EQ(processes.sessionLists, lists);
  EXPECT_THAT(Lines(), ElementsAre(kBanner, "I IsRasExec - enter", "I IsRasExec - leave"));
}

TEST_F(CheckRasExecTest, FoldersTooLongForAPathAreNotLookedFor) {
  // 259 characters with the executable fit; one more does not.
  std::wstring fits = L"C:\\" + std::wstring(236, L'a') + L"\\";
  ASSERT_EQ(fits.size() + 19, 259u);
  installer.properties[L"TARGETDIR"] = fits;
  installer.properties[L"RASV1_INSTALLED"] = L"C:\\" + std::wstring(5000, L'b');
  processes.Add(700, fits + L"bin\\velk-access.exe");
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), E_ABORT);
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines[2], "W PathAppendW(RASV1_INSTALLED) = The filename or extension is too long. (0x800700ce)");
  EXPECT_EQ(lines[3].rfind("I rasExInstalledPath = ", 0), 0u);
  EXPECT_EQ(lines[7], "I bRasTmRunning = TRUE");

  installer.messages.clear();
  installer.properties[L"TARGETDIR"] = fits + L"x";
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), S_OK);
  EXPECT_EQ(Lines()[5], "W PathAppendW(TARGETDIR) = The filename or extension is too long. (0x800700ce)");
}

// A box only at full or reduced UI, where someone sees it: at basic UI, at
// none, in session 0 or without a visible station the client is checked once
// and flagged. Flags above the level (0x20 hide cancel, 0x40 progress only,
// 0x80 end dialog, 0x100 source resolution only) do not change the level.
TEST_F(CheckRasExecTest, OnlyFullOrReducedUiShowsTheBox) {
  struct Case {
    const wchar_t* uiLevel;
    DWORD session;
    bool sessionKnown;
    bool visibleStation;
    const char* reason;  // null: the box is shown
  };
  const char* kNone = "UILevel is 2 (no user interface)";
  const char* kBasic = "UILevel is 3 (basic user interface)";
  const char* kSession0 = "the process runs in session 0, which no user sees";
  const char* kStation = "no visible window station";
  const Case cases[] = {
      {L"2", 1, true, true, kNone},
      {L"130", 1, true, true, kNone},
      {L"34", 1, true, true, kNone},
      {L"3", 1, true, true, kBasic},
      {L"67", 1, true, true, kBasic},
      {L"35", 1, true, true, kBasic},
      {L"131", 1, true, true, kBasic},
      {L"1", 1, true, true, "UILevel is 1 (neither full nor reduced user interface)"},
      {L"4", 1, true, true, nullptr},
      {L"132", 1, true, true, nullptr},
      {L"36", 1, true, true, nullptr},
      {L"5", 1, true, true, nullptr},
      {L"133", 1, true, true, nullptr},
      {L"261", 1, true, true, nullptr},
      {L"5", 0, true, true, kSession0},
      {L"4", 0, true, true, kSession0},
      {L"", 0, true, true, kSession0},
      {L"3", 0, true, true, kBasic},
      {L"5", 0, false, true, nullptr},
      {L"5", 1, true, false, kStation},
      {L"5", 0, false, false, kStation},
      {L"", 1, true, false, kStation},
      {L"", 1, true, true, nullptr},
      {L"2x", 1, true, true, nullptr},
  };
  processes.Add(700, kCurrentExe);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.uiLevel)) + " session " + std::to_string(c.session) +
                 (c.sessionKnown ? "" : " unknown") + (c.visibleStation ? " visible" : " hidden"));
    installer.properties[L"UILevel"] = c.uiLevel;
    installer.properties.erase(L"RASXX_RUNNING");
    installer.messages.clear();
    dialog.shown.clear();
    dialog.visibleStation = c.visibleStation;
    processes.session = c.session;
    processes.sessionError = c.sessionKnown ? std::nullopt : std::optional<DWORD>(ERROR_ACCESS_DENIED);
    processes.opened.clear();
    processes.sessionsAsked.clear();
    EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
    EXPECT_EQ(installer.properties[L"RASXX_RUNNING"], L"1");
    std::vector<std::string> lines = Lines();
    if (c.reason) {
      EXPECT_THAT(dialog.shown, IsEmpty());
      EXPECT_THAT(processes.opened, ElementsAre(4u, 612u, 700u));
      ASSERT_EQ(lines.size(), 13u);
      EXPECT_EQ(lines[11],
                std::string("W No message box: ") + c.reason + "; the running client is flagged without asking");
      EXPECT_EQ(lines[12], "I CheckRasExec - leave");
    } else {
      EXPECT_EQ(dialog.shown.size(), 1u);
      EXPECT_EQ(lines.size(), 21u);
      // The session asked for is this process's own.
      EXPECT_THAT(processes.sessionsAsked, ElementsAre(0x1F4u));
    }
  }
}

TEST_F(CheckRasExecTest, AnInstallFolderThatIsNotAbsoluteIsWarnedOf) {
  const std::pair<const wchar_t*, const char*> cases[] = {
      {L"", "W TARGETDIR is empty: the client being installed is not looked for"},
      {L"TESSMAR\\velk-access\\",
       "W TARGETDIR = TESSMAR\\velk-access\\ is not an absolute path: the client being installed is not found there"},
      {L"\\velk-access\\",
       "W TARGETDIR = \\velk-access\\ is not an absolute path: the client being installed is not found there"},
      {L"C:velk-access\\",
       "W TARGETDIR = C:velk-access\\ is not an absolute path: the client being installed is not found there"},
      {L"d:\\velk-access\\", nullptr},
      {L"\\\\server\\share\\velk-access\\", nullptr},
  };
  for (const auto& [folder, warning] : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(folder)));
    installer.properties[L"TARGETDIR"] = folder;
    installer.messages.clear();
    EXPECT_EQ(IsRasExec(FakeInstaller::kSession), S_OK);
    std::vector<std::string> lines = Lines();
    if (warning) {
      ASSERT_EQ(lines.size(), 8u);
      EXPECT_EQ(lines[5], warning);
      EXPECT_EQ(lines[6].rfind("I rasTmInstalledPath = ", 0), 0u);
    } else {
      EXPECT_EQ(lines.size(), 7u);
    }
  }
}

TEST_F(CheckRasExecTest, AnInternalFailureIsReportedAndTakenAsSuccess) {
  processes.throwOnList = true;
  EXPECT_EQ(IsRasExec(FakeInstaller::kSession), 1603);
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines[lines.size() - 2],
            "E Not enough memory resources are available to complete this operation. (0x8007000e)");
  EXPECT_EQ(lines.back(), "I IsRasExec - leave");
  EXPECT_THAT(installer.Errors(), ElementsAre(std::make_pair(25000, static_cast<int>(E_OUTOFMEMORY))));

  installer.messages.clear();
  EXPECT_EQ(CheckRasExec(FakeInstaller::kSession), 0u);
  EXPECT_FALSE(Flagged());
}

}  // namespace
