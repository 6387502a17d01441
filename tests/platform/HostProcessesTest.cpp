#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/LastError.h"
#include "platform/Processes.h"
#include "platform/TextCompare.h"
#include "support/TempMachine.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using platform::GetLastErrorCode;

// A copy of sleep started from a folder of the machine.
class Sleeper {
 public:
  explicit Sleeper(const fs::path& exe) {
    fs::create_directories(exe.parent_path());
    fs::copy_file("/bin/sleep", exe, fs::copy_options::overwrite_existing);
    std::string path = exe.string();
    char* argv[] = {path.data(), const_cast<char*>("30"), nullptr};
    EXPECT_EQ(::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, environ), 0);
  }
  ~Sleeper() { Stop(); }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  DWORD Id() const { return static_cast<DWORD>(pid_); }

 private:
  pid_t pid_ = -1;
};

class HostProcessesTest : public testing::Test {
 protected:
  std::wstring PathOf(DWORD id, DWORD chars = MAX_PATH) {
    HANDLE h = processes.Open(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    EXPECT_NE(h, nullptr);
    if (!h) return L"<no open>";
    std::vector<wchar_t> buffer(chars + 1, L'#');
    DWORD n = processes.MainModulePath(h, buffer.data(), chars);
    DWORD error = GetLastErrorCode();
    processes.Close(h);
    if (n == 0) return L"<error " + std::to_wstring(error) + L">";
    EXPECT_EQ(buffer[n], L'\0');
    return std::wstring(buffer.data(), n);
  }

  velk_test::TempMachine machine;
  platform::Processes& processes = platform::Processes::Default();
};

TEST_F(HostProcessesTest, AProgramOfTheMachineHasItsWindowsPath) {
  Sleeper client(machine.Root() / "drive_c/Program Files/TESSMAR/velk-access/bin/velk-access.exe");
  std::vector<DWORD> ids;
  ASSERT_TRUE(processes.ListSessionProcesses(&ids));
  EXPECT_NE(std::find(ids.begin(), ids.end(), client.Id()), ids.end());
  EXPECT_NE(std::find(ids.begin(), ids.end(), static_cast<DWORD>(::getpid())), ids.end());
  EXPECT_EQ(PathOf(client.Id()), L"C:\\Program Files\\TESSMAR\\velk-access\\bin\\velk-access.exe");
  EXPECT_EQ(PathOf(client.Id(), 12), L"C:\\Program ");
  // Programs outside the machine have no path on it.
  EXPECT_EQ(PathOf(static_cast<DWORD>(::getpid())), L"<error 299>");
}

TEST_F(HostProcessesTest, TheSnapshotListsTheSameProcesses) {
  Sleeper client(machine.Root() / "drive_c/velk/bin/velk-access.exe");
  HANDLE snapshot = processes.CreateSnapshot();
  ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
  std::vector<DWORD> ids;
  DWORD id;
  for (BOOL ok = processes.FirstInSnapshot(snapshot, &id); ok; ok = processes.NextInSnapshot(snapshot, &id))
    ids.push_back(id);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(processes.CloseSnapshot(snapshot));
  EXPECT_NE(std::find(ids.begin(), ids.end(), client.Id()), ids.end());
  EXPECT_EQ(PathOf(client.Id()), L"C:\\velk\\bin\\velk-access.exe");
}

TEST_F(HostProcessesTest, AProcessThatEndsWhileOpenReadsNothing) {
  Sleeper client(machine.Root() / "drive_c/velk/bin/velk-access.exe");
  HANDLE h = processes.Open(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, client.Id());
  ASSERT_NE(h, nullptr);
  DWORD id = client.Id();
  client.Stop();
  wchar_t path[MAX_PATH];
  EXPECT_EQ(processes.MainModulePath(h, path, MAX_PATH), 0u);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_PARTIAL_COPY));
  EXPECT_TRUE(processes.Close(h));
  EXPECT_EQ(processes.Open(PROCESS_QUERY_INFORMATION, FALSE, id), nullptr);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(processes.Open(PROCESS_QUERY_INFORMATION, FALSE, 0), nullptr);
}

TEST(TextCompare, WholeTextWithoutRegardToCase) {
  EXPECT_TRUE(platform::EqualsIgnoreCase(L"C:\\Program Files\\A.EXE", L"c:\\program files\\a.exe"));
  EXPECT_FALSE(platform::EqualsIgnoreCase(L"C:\\a.exe", L"C:\\a.exe "));
  EXPECT_FALSE(platform::EqualsIgnoreCase(L"C:\\a.exe", L"C:\\b.exe"));
  EXPECT_TRUE(platform::EqualsIgnoreCase(L"", L""));
}

}  // namespace
