#include "Frame.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Errors.h"
#include "InstallerProperty.h"
#include "support/FakeProcesses.h"
#include "support/LogFixture.h"

namespace {

using testing::ElementsAre;
using testing::EndsWith;
using velk_test::FakeInstaller;

class FrameTest : public velk_test::LogFixture {
 protected:
  FrameTest() : useToken_(token) {}
  // An action that records its parameters and returns a scripted result.
  ActionBody Returning(HRESULT hr) {
    return [this, hr](HWND window, CActionParameters& params) {
      ++calls;
      seenWindow = window;
      seen = params;
      return hr;
    };
  }
  int calls = 0;
  HWND seenWindow = reinterpret_cast<HWND>(1);
  CActionParameters seen;
  velk_test::FakeToken token;

 private:
  platform::ScopedPort<platform::Token> useToken_;
};

TEST_F(FrameTest, ScriptActionsSayWhetherRedirectionGuardIsOn) {
  installer.scriptMode = MSIRUNMODE_COMMIT;
  const std::pair<DWORD, const char*> cases[] = {
      {ERROR_SUCCESS, " I RedirectionGuard on"},
      {ERROR_PROC_NOT_FOUND, " I RedirectionGuard off: SetProcessMitigationPolicy not found"},
      {ERROR_INVALID_PARAMETER, " I RedirectionGuard off: The parameter is incorrect. (0x80070057)"},
  };
  for (const auto& [status, line] : cases) {
    token.redirectionTrust = status;
    installer.messages.clear();
    EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", Returning(S_OK)), 0u);
    ASSERT_GE(installer.Lines().size(), 3u);
    EXPECT_THAT(installer.Lines()[2], EndsWith(line));
  }
  // Immediate actions run as the installing user: nothing to guard.
  installer.scriptMode.reset();
  installer.messages.clear();
  RunInstallerForm(FakeInstaller::kSession, "A", Returning(S_OK));
  for (const auto& l : installer.Lines()) EXPECT_THAT(l, testing::Not(testing::HasSubstr("RedirectionGuard")));
}

TEST_F(FrameTest, SuccessIsZeroAndTheLinesAreInOrder) {
  installer.properties[L"TovrinData"] = L"/inf=\"C:\\x y\\a.inf\"";
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "InstallDevice", Returning(S_OK)), 0u);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seenWindow, nullptr);
  EXPECT_EQ(seen.Get("inf"), L"C:\\x y\\a.inf");
  EXPECT_THAT(installer.Lines(), ElementsAre("####### Tovrin log PID=000001f4 #######",
                                             "2024-05-17 09:03:07.042 00001A2C I InstallDevice - enter",
                                             "2024-05-17 09:03:07.042 00001A2C I TovrinData:/inf=\"C:\\x y\\a.inf\"",
                                             "2024-05-17 09:03:07.042 00001A2C I InstallDevice - leave"));
  EXPECT_TRUE(installer.Errors().empty());
  EXPECT_EQ(installer.openRecords, 0u);
}

TEST_F(FrameTest, HelpUrlPropertyIsAppendedAndWins) {
  installer.properties[L"TovrinData"] = L"/x=1 /HelpUrl=old";
  installer.properties[L"HelpUrl"] = L"C:\\doc\\help.htm";
  RunInstallerForm(FakeInstaller::kSession, "ShowHelp", Returning(S_OK));
  EXPECT_EQ(seen.Get("HelpUrl"), L"C:\\doc\\help.htm");
  EXPECT_THAT(installer.Lines()[2], EndsWith(" I TovrinData:/x=1 /HelpUrl=old /HelpUrl=\"C:\\doc\\help.htm\""));
}

TEST_F(FrameTest, PercentSignsInPropertiesAreNotFormats) {
  installer.properties[L"TovrinData"] = L"/a=%s%n%%";
  installer.properties[L"HelpUrl"] = L"C:\\100%\\%d.htm";
  RunInstallerForm(FakeInstaller::kSession, "ShowHelp", Returning(S_OK));
  EXPECT_THAT(installer.Lines()[2], EndsWith(" I TovrinData:/a=%s%n%% /HelpUrl=\"C:\\100%\\%d.htm\""));
  EXPECT_EQ(seen.Get("a"), L"%s%n%%");
}

TEST_F(FrameTest, EmptyHelpUrlLeavesTheTextAlone) {
  installer.properties[L"TovrinData"] = L"/x=1";
  RunInstallerForm(FakeInstaller::kSession, "ShowHelp", Returning(S_OK));
  EXPECT_THAT(installer.Lines()[2], EndsWith(" I TovrinData:/x=1"));
  EXPECT_FALSE(seen.Has("HelpUrl"));
}

TEST_F(FrameTest, ResultMapping) {
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", Returning(S_FALSE)), 1u);
  EXPECT_TRUE(installer.Errors().empty());
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", Returning(E_ACCESSDENIED)), 1603u);
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", Returning(kAlreadyRunning)), 1603u);
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", Returning(kCertificateWrongUsage)), 1603u);
  EXPECT_THAT(installer.Errors(),
              ElementsAre(std::pair(25000, static_cast<int>(0x80070005)), std::pair(25001, -2147467250),
                          std::pair(25003, static_cast<int>(0x800B0110))));
}

TEST_F(FrameTest, FailureLogsTheErrorTextBeforeTheMessage) {
  RunInstallerForm(FakeInstaller::kSession, "InstallDevice", Returning(E_ACCESSDENIED));
  auto lines = installer.Lines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], "2024-05-17 09:03:07.042 00001A2C E Access is denied. (0x80070005)");
  // The error message comes after the error line and before the leave line.
  ASSERT_EQ(installer.messages.size(), 6u);
  EXPECT_EQ(installer.messages[4].second.type, INSTALLMESSAGE_ERROR);
  EXPECT_EQ(installer.messages[4].first, FakeInstaller::kSession);
}

TEST_F(FrameTest, MalformedTextIs87WithoutErrorLineOrMessage) {
  installer.properties[L"TovrinData"] = L"/a=\"x";
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", Returning(S_OK)), 87u);
  EXPECT_EQ(calls, 0);
  EXPECT_THAT(installer.Lines(), ElementsAre(testing::_, EndsWith(" I A - enter"), EndsWith(" I TovrinData:/a=\"x"),
                                             EndsWith(" I A - leave")));
  EXPECT_TRUE(installer.Errors().empty());
}

TEST_F(FrameTest, FailedHelpUrlReadStopsBeforeTheAction) {
  installer.failGet[L"HelpUrl"] = ERROR_INVALID_HANDLE;
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", Returning(S_OK)), 6u);
  EXPECT_EQ(calls, 0);
  EXPECT_THAT(installer.Lines(),
              ElementsAre(testing::_, EndsWith(" I A - enter"), EndsWith(" E The handle is invalid. (0x80070006)"),
                          EndsWith(" I A - leave")));
  EXPECT_TRUE(installer.Errors().empty());
}

TEST_F(FrameTest, FailedTovrinDataReadIsAnEmptyText) {
  installer.failGet[L"TovrinData"] = ERROR_INVALID_HANDLE;
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", Returning(S_OK)), 0u);
  EXPECT_EQ(calls, 1);
  EXPECT_THAT(installer.Lines()[2], EndsWith(" I TovrinData:"));
}

// Run from the installation script, the session's properties are gone:
// the parameters, a help address included, come from CustomActionData alone.
TEST_F(FrameTest, ScriptActionsReadCustomActionDataOnly) {
  for (MSIRUNMODE mode : {MSIRUNMODE_SCHEDULED, MSIRUNMODE_ROLLBACK, MSIRUNMODE_COMMIT}) {
    SCOPED_TRACE(mode);
    installer.messages.clear();
    installer.scriptMode = mode;
    installer.properties[L"TovrinData"] = L"/stale=1";
    installer.properties[L"HelpUrl"] = L"https://session.example/";
    installer.properties[L"CustomActionData"] = L"/hwid=root\\vnet /HelpUrl=\"https://kit.example/\"";
    EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "UninstallDevice", Returning(S_OK)), 0u);
    EXPECT_EQ(seen.Get("hwid"), L"root\\vnet");
    EXPECT_EQ(seen.Get("HelpUrl"), L"https://kit.example/");
    EXPECT_EQ(seen.Get("stale"), L"");
    EXPECT_THAT(installer.Lines(),
                ElementsAre(testing::_, EndsWith(" I UninstallDevice - enter"),
                            EndsWith(" I RedirectionGuard off: SetProcessMitigationPolicy not found"),
                            EndsWith(" I CustomActionData:/hwid=root\\vnet /HelpUrl=\"https://kit.example/\""),
                            EndsWith(" I UninstallDevice - leave")));
  }
}

TEST_F(FrameTest, FailedCustomActionDataReadStopsBeforeTheAction) {
  installer.scriptMode = MSIRUNMODE_SCHEDULED;
  installer.failGet[L"CustomActionData"] = ERROR_INVALID_HANDLE;
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", Returning(S_OK)), 6u);
  EXPECT_EQ(calls, 0);
  EXPECT_THAT(installer.Lines(),
              ElementsAre(testing::_, EndsWith(" I A - enter"),
                          EndsWith(" I RedirectionGuard off: SetProcessMitigationPolicy not found"),
                          EndsWith(" E The handle is invalid. (0x80070006)"), EndsWith(" I A - leave")));
}

TEST_F(FrameTest, AnEscapingExceptionIsAFailure) {
  ActionBody throwing = [](HWND, CActionParameters&) -> HRESULT { throw std::bad_alloc(); };
  EXPECT_EQ(RunInstallerForm(FakeInstaller::kSession, "A", throwing), 1603u);
  EXPECT_THAT(installer.Errors(), ElementsAre(std::pair(25000, static_cast<int>(E_OUTOFMEMORY))));
  EXPECT_EQ(RunCommandLineForm(nullptr, L"", "RunAW", throwing), E_OUTOFMEMORY);
}

TEST_F(FrameTest, CommandLineFormReturnsTheHresultUnchanged) {
  g_logger.m_hInstall = 7;
  HWND window = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(RunCommandLineForm(window, L"/HelpUrl=\"a b\"", "RunShowHelpW", Returning(kAlreadyRunning)),
            kAlreadyRunning);
  EXPECT_EQ(seenWindow, window);
  EXPECT_EQ(seen.Get("HelpUrl"), L"a b");
  EXPECT_EQ(g_logger.m_hInstall, 7u);  // the form leaves the handle alone
  EXPECT_TRUE(installer.Errors().empty());
  EXPECT_THAT(installer.Lines(), ElementsAre(EndsWith(" I RunShowHelpW - enter"), EndsWith(" I RunShowHelpW - leave")));
  EXPECT_EQ(RunCommandLineForm(nullptr, nullptr, "RunXW", Returning(S_FALSE)), S_FALSE);
}

TEST_F(FrameTest, CommandLineFormLogsAMalformedText) {
  EXPECT_EQ(RunCommandLineForm(nullptr, L"/a", "RunXW", Returning(S_OK)), E_INVALIDARG);
  EXPECT_EQ(calls, 0);
  EXPECT_THAT(installer.Lines(),
              ElementsAre(EndsWith(" I RunXW - enter"), EndsWith(" E The parameter is incorrect. (0x80070057)"),
                          EndsWith(" I RunXW - leave")));
}

class PropertyTest : public velk_test::LogFixture {};

TEST_F(PropertyTest, ReadsAtTheBoundaryOfTheFirstBuffer) {
  std::wstring value;
  installer.properties[L"P"] = std::wstring(1023, L'a');
  EXPECT_EQ(GetInstallerProperty(FakeInstaller::kSession, L"P", value), S_OK);
  EXPECT_EQ(value, installer.properties[L"P"]);
  EXPECT_THAT(installer.getPropertyRooms, ElementsAre(1024u));

  installer.getPropertyRooms.clear();
  installer.properties[L"P"] = std::wstring(1024, L'b');
  EXPECT_EQ(GetInstallerProperty(FakeInstaller::kSession, L"P", value), S_OK);
  EXPECT_EQ(value, installer.properties[L"P"]);
  EXPECT_THAT(installer.getPropertyRooms, ElementsAre(1024u, 1025u));

  installer.properties[L"P"] = std::wstring(100000, L'c') + L"%s";
  EXPECT_EQ(GetInstallerProperty(FakeInstaller::kSession, L"P", value), S_OK);
  EXPECT_EQ(value, installer.properties[L"P"]);
}

TEST_F(PropertyTest, AbsentIsEmptyAndFailuresAreHresults) {
  std::wstring value = L"old";
  EXPECT_EQ(GetInstallerProperty(FakeInstaller::kSession, L"Missing", value), S_OK);
  EXPECT_EQ(value, L"");
  EXPECT_EQ(GetInstallerProperty(99, L"P", value), static_cast<HRESULT>(0x80070006));
}

TEST_F(PropertyTest, ReportInstallerErrorWarnsWhenAFieldCannotBeSet) {
  installer.failSetInteger = 2;
  EXPECT_EQ(ReportInstallerError(FakeInstaller::kSession, INSTALLMESSAGE_ERROR, E_FAIL), 0u);
  EXPECT_THAT(installer.Lines(), ElementsAre(EndsWith(" W MsiRecordSetInteger(2) = 87")));
  EXPECT_THAT(installer.Errors(), ElementsAre(std::pair(25000, -1)));
  EXPECT_EQ(installer.openRecords, 0u);
}

}  // namespace
