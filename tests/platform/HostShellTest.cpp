#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/LastError.h"
#include "platform/Shell.h"
#include "support/TempMachine.h"

namespace {

// PATH holds only a recording xdg-open while the test runs.
class HostShellTest : public ::testing::Test {
 protected:
  HostShellTest() {
    const char* path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    machine.Write("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"${0%/*}/calls\"\n");
    ::chmod((machine.Root() / "bin/xdg-open").c_str(), 0755);
    ::setenv("PATH", (machine.Root() / "bin").c_str(), 1);
    machine.Write("drive_c/doc/help.htm", "<html/>");
  }
  ~HostShellTest() override { ::setenv("PATH", savedPath_.c_str(), 1); }

  DWORD Open(const std::wstring& file) {
    platform::ShellExecuteRequest r;
    r.verb = L"open";
    r.file = file;
    platform::SetLastErrorCode(0);
    return platform::Shell::Default().Execute(r) ? 0 : platform::GetLastErrorCode();
  }
  std::string Calls() { return std::filesystem::exists(machine.Root() / "bin/calls") ? machine.Read("bin/calls") : ""; }

  velk_test::TempMachine machine;

 private:
  std::string savedPath_;
};

TEST_F(HostShellTest, OnlyAddressesAndMachineFilesReachTheHandler) {
  const struct {
    const wchar_t* file;
    DWORD error;
    std::string argument;  // what xdg-open received; empty when not started
  } cases[] = {
      {L"https://help.example/velk?a=1", 0, "https://help.example/velk?a=1"},
      {L"mailto:help@example.com", 0, "mailto:help@example.com"},
      {L"C:\\DOC\\help.htm", 0, "<root>/drive_c/doc/help.htm"},
      {L"--help:x", ERROR_FILE_NOT_FOUND, ""},
      {L"-x:y", ERROR_FILE_NOT_FOUND, ""},
      {L"--manual", ERROR_FILE_NOT_FOUND, ""},
      {L"1http://x", ERROR_FILE_NOT_FOUND, ""},
      {L"C:\\doc\\missing.htm", ERROR_FILE_NOT_FOUND, ""},
      {L"", ERROR_FILE_NOT_FOUND, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file, c.file + std::wcslen(c.file)));
    std::filesystem::remove(machine.Root() / "bin/calls");
    EXPECT_EQ(Open(c.file), c.error);
    std::string expected = c.argument;
    if (expected.rfind("<root>", 0) == 0) expected = machine.Root().string() + expected.substr(6);
    EXPECT_EQ(Calls(), expected.empty() ? "" : expected + "\n");
  }
}

TEST_F(HostShellTest, NoHandlerIsNoAssociation) {
  ::setenv("PATH", (machine.Root() / "nowhere").c_str(), 1);
  EXPECT_EQ(Open(L"https://help.example/"), static_cast<DWORD>(ERROR_NO_ASSOCIATION));
}

}  // namespace
