#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/LastError.h"
#include "platform/NamedMutex.h"
#include "platform/Port.h"
#include "support/FakeClock.h"
#include "support/TempMachine.h"

namespace {

using platform::GetLastErrorCode;

constexpr wchar_t kName[] = L"Global\\TESSMAR.Velk.{4B1E9C27-53A0-4D8F-9E26-7C0F3A5D81B4}";

class HostNamedMutexTest : public testing::Test {
 protected:
  // Creates the name and reports whether it existed (the handle is kept).
  bool Existed(const wchar_t* name) {
    HANDLE h = mutexes.Create(name, TRUE);
    EXPECT_NE(h, nullptr);
    bool existed = GetLastErrorCode() == ERROR_ALREADY_EXISTS;
    handles.push_back(h);
    return existed;
  }
  void CloseAll() {
    for (HANDLE h : handles) EXPECT_TRUE(mutexes.Close(h));
    handles.clear();
  }
  ~HostNamedMutexTest() override { CloseAll(); }

  velk_test::TempMachine machine;
  platform::NamedMutex& mutexes = platform::NamedMutex::Default();
  std::vector<HANDLE> handles;
};

TEST_F(HostNamedMutexTest, ExistsWhileAHandleIsOpen) {
  EXPECT_FALSE(Existed(kName));
  EXPECT_TRUE(Existed(kName));
  EXPECT_TRUE(Existed(kName));
  CloseAll();
  EXPECT_FALSE(Existed(kName));
}

TEST_F(HostNamedMutexTest, NamesAreCaseSensitiveAndNamespacesApart) {
  EXPECT_FALSE(Existed(L"Global\\Velk.Test"));
  EXPECT_FALSE(Existed(L"Global\\velk.test"));
  EXPECT_FALSE(Existed(L"Local\\Velk.Test"));
  EXPECT_TRUE(Existed(L"Velk.Test"));  // the session's own namespace
  EXPECT_FALSE(Existed(L"Global\\a/b%2F"));
  EXPECT_FALSE(Existed(L"Global\\a%2Fb/"));
  EXPECT_TRUE(Existed(L"Global\\a/b%2F"));
  EXPECT_FALSE(Existed(L"Global\\.."));
  EXPECT_FALSE(Existed((L"Global\\" + std::wstring(253, L'\u65e5')).c_str()));
  EXPECT_TRUE(Existed((L"Global\\" + std::wstring(253, L'\u65e5')).c_str()));
}

TEST_F(HostNamedMutexTest, BadNamesAndUnnamedMutexes) {
  EXPECT_EQ(mutexes.Create(L"Global\\a\\b", TRUE), nullptr);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(mutexes.Create((L"Global\\" + std::wstring(260, L'x')).c_str(), TRUE), nullptr);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  // Unnamed mutexes are never shared.
  EXPECT_FALSE(Existed(nullptr));
  EXPECT_FALSE(Existed(L""));
}

// Another process of the machine holds the name until it ends, even when
// it is killed.
TEST_F(HostNamedMutexTest, HeldByAnotherProcessUntilItEnds) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HANDLE h = platform::NamedMutex::Default().Create(kName, TRUE);
    char c = h && GetLastErrorCode() == ERROR_SUCCESS ? 'y' : 'n';
    (void)!::write(ready[1], &c, 1);
    ::pause();
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(c, 'y');
  EXPECT_TRUE(Existed(kName));
  CloseAll();
  EXPECT_TRUE(Existed(kName));
  CloseAll();
  ::kill(child, SIGKILL);
  int status;
  ::waitpid(child, &status, 0);
  EXPECT_FALSE(Existed(kName));
}

}  // namespace

// A lock held for good by another process (the machine-wide guard, or a
// name's object held exclusively) ends the create after a bounded wait, with
// the error of a timed-out wait; the clock is the test's, so nothing sleeps.
TEST_F(HostNamedMutexTest, ALockHeldForGoodEndsTheWaitWithATimeout) {
  velk_test::FakeClock clock;
  platform::ScopedPort<platform::Clock> useClock(clock);
  ASSERT_FALSE(Existed(L"Global\\Velk.Held"));  // makes the guard and the object files
  CloseAll();
  const std::filesystem::path objects = machine.Root() / "kernel-objects";
  for (const std::filesystem::path& held : {objects / ".guard", objects / "Global/Velk.Held"}) {
    SCOPED_TRACE(held.string());
    int fd = ::open(held.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // another open file description: as another process holds it
    clock.sleptMilliseconds = 0;
    platform::SetLastErrorCode(0);
    EXPECT_EQ(mutexes.Create(L"Global\\Velk.Held", TRUE), nullptr);
    EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(clock.sleptMilliseconds, 5000u);
    ::close(fd);
    clock.sleptMilliseconds = 0;
    EXPECT_FALSE(Existed(L"Global\\Velk.Held"));  // free again: at once
    EXPECT_EQ(clock.sleptMilliseconds, 0u);
    CloseAll();
  }
}
