// The checks end to end on the host: tovrin-run loads the library in a
// process of its own, as msiexec would.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Command.h"
#include "support/FakeInstaller.h"
#include "support/LogFixture.h"
#include "support/TempMachine.h"

extern "C" UINT CheckMultiExec(MSIHANDLE install);

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

struct Output {
  std::string out;
  std::string err;
};

// Runs tovrin-run with stdin from /dev/null (the message box does not wait).
Output TovrinRun(const fs::path& machine, const std::string& args) {
  fs::path err = machine / "stderr.txt";
  std::string command = std::string(VELK_BINARY_DIR) + "/tovrin-run --machine '" + machine.string() + "' " + args +
                        " </dev/null 2>'" + err.string() + "'";
  Output o;
  o.out = velk_test::RunCommand(command);
  char buffer[4096];
  size_t n;
  FILE* e = std::fopen(err.c_str(), "r");
  while (e && (n = std::fread(buffer, 1, sizeof buffer, e)) > 0) o.err.append(buffer, n);
  if (e) std::fclose(e);
  return o;
}

class Client {
 public:
  explicit Client(const fs::path& exe) {
    fs::create_directories(exe.parent_path());
    fs::copy_file("/bin/sleep", exe, fs::copy_options::overwrite_existing);
    std::string path = exe.string();
    char* argv[] = {path.data(), const_cast<char*>("60"), nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ), 0);
  }
  ~Client() {
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_ = -1;
};

TEST(RunningChecks, CheckRasExecFindsARunningClient) {
  velk_test::TempMachine machine;
  Client client(machine.Root() / "drive_c/Program Files/TESSMAR/velk-access/bin/velk-access.exe");
  // A copy of the same program in another folder is not the client.
  Client copy(machine.Root() / "drive_c/Other/bin/velk-access.exe");
  Output o = TovrinRun(machine.Root(),
                       "CheckRasExec 'TARGETDIR=C:\\PROGRAM FILES\\tessmar\\velk-access\\' 'RASV1_INSTALLED=C:\\Old'");
  EXPECT_THAT(o.out, HasSubstr(" I rasTmInstalledPath = C:\\PROGRAM FILES\\tessmar\\velk-access\\bin\\velk-access.exe\n"
                               "2"));
  EXPECT_THAT(o.out, HasSubstr(" I module = C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe\n"));
  EXPECT_THAT(o.out, HasSubstr(" I bRasTmRunning = TRUE\n"));
  EXPECT_THAT(o.out, Not(HasSubstr("C:\\Other")));
  EXPECT_THAT(o.out, HasSubstr("Property: RASXX_RUNNING=1\nResult: 0\n"));
  EXPECT_EQ(o.err, "[velk-access] velk-access app is running. Exit the velk-access app and select OK.\n");
}

// msiexec /qn: nobody could press OK, so no box and no second look.
TEST(RunningChecks, UnattendedInstallFlagsARunningClientWithoutABox) {
  velk_test::TempMachine machine;
  Client client(machine.Root() / "drive_c/velk/bin/velk-access.exe");
  Output o = TovrinRun(machine.Root(), "CheckRasExec 'TARGETDIR=C:\\velk\\' UILevel=2");
  EXPECT_THAT(o.out, HasSubstr(" W No message box: UILevel is 2 (no user interface); the running client is flagged "
                               "without asking\n"));
  EXPECT_THAT(o.out, HasSubstr("Property: RASXX_RUNNING=1\nResult: 0\n"));
  EXPECT_EQ(o.err, "");
}

TEST(RunningChecks, NoClientNoMessage) {
  velk_test::TempMachine machine;
  // The candidate is a folder, not a program.
  fs::create_directories(machine.Root() / "drive_c/velk/bin/velk-access.exe");
  Client copy(machine.Root() / "drive_c/Other/bin/velk-access.exe");
  Output o = TovrinRun(machine.Root(), "CheckRasExec 'TARGETDIR=C:\\velk'");
  EXPECT_THAT(o.out, Not(HasSubstr("module =")));
  EXPECT_THAT(o.out, Not(HasSubstr("Property:")));
  EXPECT_THAT(o.out, HasSubstr("Result: 0\n"));
  EXPECT_EQ(o.err, "");
}

class TwoInstallers : public velk_test::LogFixture {};

// This process holds the single-instance mutex; an installer in another
// process of the same machine is refused.
TEST_F(TwoInstallers, TheSecondGets25001) {
  velk_test::TempMachine machine;
  ASSERT_EQ(CheckMultiExec(velk_test::FakeInstaller::kSession), 0u);
  Output o = TovrinRun(machine.Root(), "CheckMultiExec");
  EXPECT_THAT(o.out, HasSubstr(" E (0x8000400e)\nError 25001: -2147467250\n"));
  EXPECT_THAT(o.out, HasSubstr("Result: 1603\n"));
  o = TovrinRun(machine.Root(), "RunCheckMultiExecW");
  EXPECT_EQ(o.out, "HRESULT: 0x8000400e\n");

  // Another machine is another PC.
  velk_test::TempMachine other;
  o = TovrinRun(other.Root(), "CheckMultiExec");
  EXPECT_THAT(o.out, HasSubstr("Result: 0\n"));
}

}  // namespace
