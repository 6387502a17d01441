// tovrin-run on a temporary machine, as a packager would use it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/Command.h"
#include "support/TempMachine.h"

namespace {

struct RunnerOutput {
  std::string out;
  int status;
};

RunnerOutput RunRunner(const std::string& machine, const std::string& args, const std::string& env = "") {
  std::string cmd =
      env + " " + std::string(VELK_BINARY_DIR) + "/tovrin-run --machine '" + machine + "' " + args + " 2>&1";
  RunnerOutput r;
  r.out = velk_test::RunCommand(cmd, &r.status);
  return r;
}

using testing::ContainsRegex;
using testing::HasSubstr;

class RunnerTest : public ::testing::Test {
 protected:
  velk_test::TempMachine machine;
};

TEST_F(RunnerTest, InstallerFormPrintsLinesPropertiesAndResult) {
  machine.Write(
      "registry/HKLM.reg",
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\r\n\"CurrentBuild\"=\"9600\"\r\n");
  RunnerOutput r = RunRunner(machine.Root().string(), "IsSupportOS");
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.out, ContainsRegex("^####### Tovrin log PID=[0-9a-f]{8} #######\n"
                                   "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]{12} [0-9A-F]{8} I IsSupportOS - enter\n"
                                   "####### Detect windows8.1 #######\n"
                                   ".* E RegQueryValueEx Error2\\)\n"
                                   ".* I IsSupportOS - leave\n"
                                   "Property: RASXX_NOT_SUPPORTOS=1\n"
                                   "Result: 0\n$"));
}

TEST_F(RunnerTest, ErrorsAndMalformedTexts) {
  RunnerOutput r = RunRunner(machine.Root().string(), "ShowHelp 'HelpUrl=C:\\missing\\help.htm' 'TovrinData=/a=1'");
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.out, HasSubstr(" I TovrinData:/a=1 /HelpUrl=\"C:\\missing\\help.htm\"\n"));
  EXPECT_THAT(r.out,
              HasSubstr(" E The system cannot find the file specified. (0x80070002)\nError 25000: -2147024894\n"));
  EXPECT_THAT(r.out, HasSubstr("Result: 1603\n"));

  r = RunRunner(machine.Root().string(), "ShowHelp 'TovrinData=/a'");
  EXPECT_THAT(r.out, HasSubstr("Result: 87\n"));
  EXPECT_THAT(r.out, testing::Not(HasSubstr("Error ")));

  r = RunRunner(machine.Root().string(), "RunShowHelpW '/HelpUrl=\"x'");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.out, HasSubstr(" E The parameter is incorrect. (0x80070057)\n"));
  EXPECT_THAT(r.out, HasSubstr("HRESULT: 0x80070057\n"));
}

TEST_F(RunnerTest, CommandLineFormOpensAMachineFile) {
  machine.Write("drive_c/doc/help.htm", "<html></html>");
  std::string fake = (machine.Root() / "bin").string();
  machine.Write("bin/xdg-open", "#!/bin/sh\necho \"opened $1\" > \"$(dirname \"$0\")/opened\"\n");
  std::filesystem::permissions(machine.Root() / "bin/xdg-open", std::filesystem::perms::owner_all);
  RunnerOutput r = RunRunner(machine.Root().string(), "RunShowHelpW '/HelpUrl=\"C:\\DOC\\Help.htm\"'",
                             "PATH=/nonexistent");  // no handler
  EXPECT_THAT(r.out, HasSubstr("HRESULT: 0x80070483\n"));
  std::string withPath = "PATH='" + fake + "':\"$PATH\" ";
  std::string cmd = withPath + std::string(VELK_BINARY_DIR) + "/tovrin-run --machine '" + machine.Root().string() +
                    "' RunShowHelpW '/HelpUrl=\"C:\\DOC\\Help.htm\"' >/dev/null 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  EXPECT_EQ(machine.Read("bin/opened"), "opened " + (machine.Root() / "drive_c/doc/help.htm").string() + "\n");
}

TEST_F(RunnerTest, UsageErrors) {
  EXPECT_EQ(RunRunner(machine.Root().string(), "").status, 2);
  EXPECT_EQ(RunRunner(machine.Root().string(), "NoSuchExport").status, 2);
  RunnerOutput r = RunRunner(machine.Root().string(), "IsSupportOS notaproperty");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out, HasSubstr("expected NAME=VALUE"));
  r = RunRunner((machine.Root() / "absent").string(), "IsSupportOS");
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.out, HasSubstr("does not exist"));
}

}  // namespace
