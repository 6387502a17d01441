#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/LastError.h"
#include "platform/Shell.h"
#include "support/LogFixture.h"

extern "C" UINT ShowHelp(MSIHANDLE install);
extern "C" HRESULT RunShowHelpW(HWND, HINSTANCE, LPWSTR, int);

namespace {

using testing::ElementsAre;
using testing::EndsWith;
using velk_test::FakeInstaller;

class FakeShell : public platform::Shell {
 public:
  BOOL Execute(const platform::ShellExecuteRequest& request) override {
    requests.push_back(request);
    platform::SetLastErrorCode(error);
    return error == 0 && !refuse;
  }
  std::vector<platform::ShellExecuteRequest> requests;
  DWORD error = 0;
  bool refuse = false;  // fails with the given error, even with none
};

class ShowHelpTest : public velk_test::LogFixture {
 protected:
  ShowHelpTest() : useShell_(shell) {}
  FakeShell shell;

 private:
  platform::ScopedPort<platform::Shell> useShell_;
};

TEST_F(ShowHelpTest, OpensThePropertysAddress) {
  installer.properties[L"TovrinData"] = L"/HelpUrl=\"https://old.example/\"";
  installer.properties[L"HelpUrl"] = L"https://help.example/velk?a=1&b=%20";
  EXPECT_EQ(ShowHelp(FakeInstaller::kSession), 0u);
  ASSERT_EQ(shell.requests.size(), 1u);
  const auto& r = shell.requests[0];
  EXPECT_EQ(r.mask, static_cast<DWORD>(SEE_MASK_NOASYNC));
  EXPECT_EQ(r.window, nullptr);
  EXPECT_EQ(r.verb, L"open");
  EXPECT_EQ(r.file, L"https://help.example/velk?a=1&b=%20");
  EXPECT_EQ(r.parameters, L"");
  EXPECT_EQ(r.directory, L"");
  EXPECT_EQ(r.show, SW_SHOWNORMAL);
  EXPECT_THAT(installer.Lines(),
              ElementsAre(testing::_, EndsWith(" I ShowHelp - enter"), testing::HasSubstr(" I TovrinData:"),
                          EndsWith(" I CTovrinModule::ShowHelp - enter"),
                          EndsWith(" I CTovrinModule::ShowHelp - leave"), EndsWith(" I ShowHelp - leave")));
}

TEST_F(ShowHelpTest, ARefusalIsInstallerError25000) {
  shell.error = ERROR_NO_ASSOCIATION;
  EXPECT_EQ(ShowHelp(FakeInstaller::kSession), 1603u);
  EXPECT_THAT(installer.Errors(), ElementsAre(std::pair(25000, static_cast<int>(0x80070483))));
  EXPECT_THAT(installer.Lines()[5],
              EndsWith(" E No application is associated with the specified file for this operation. (0x80070483)"));
}

TEST_F(ShowHelpTest, ARefusalWithoutAnErrorIsStillAFailure) {
  shell.refuse = true;
  EXPECT_EQ(ShowHelp(FakeInstaller::kSession), 1603u);
  EXPECT_THAT(installer.Errors(), ElementsAre(std::pair(25000, static_cast<int>(E_FAIL))));
  EXPECT_EQ(RunShowHelpW(nullptr, nullptr, nullptr, 1), E_FAIL);
}

TEST_F(ShowHelpTest, CommandLineFormIgnoresTheWindow) {
  std::wstring line = L"/HelpUrl=\"C:\\doc\\help file.htm\"";
  EXPECT_EQ(RunShowHelpW(reinterpret_cast<HWND>(0x99), nullptr, line.data(), 1), S_OK);
  ASSERT_EQ(shell.requests.size(), 1u);
  EXPECT_EQ(shell.requests[0].window, nullptr);
  EXPECT_EQ(shell.requests[0].file, L"C:\\doc\\help file.htm");
  std::wstring bad = L"/HelpUrl=\"x";
  EXPECT_EQ(RunShowHelpW(nullptr, nullptr, bad.data(), 1), E_INVALIDARG);
  EXPECT_EQ(shell.requests.size(), 1u);
  shell.error = ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(RunShowHelpW(nullptr, nullptr, nullptr, 1), static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(shell.requests.back().file, L"");
}

}  // namespace
