// The key file against runs that end at any moment and runs that start
// together.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "MigrationMachine.h"
#include "platform/ByteStreams.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/NamedMutex.h"
#include "platform/Token.h"
#include "support/FakeProcesses.h"

namespace velk_test {
namespace {

namespace fs = std::filesystem;

constexpr int kKilled = 77;
// The run lock of the machine's user (S-1-5-21-100-1001).
constexpr wchar_t kAliceRunLock[] = L"Local\\TESSMAR.Velk.Migration.S-1-5-21-100-1001";
const std::string kValue = "VK-0123456789-abcdefghijklmnopqrstuvwxyz";

// Counts the file operations of a run and ends the process before the one
// numbered at. A write is first cut in the middle: half its bytes reach the
// file, as when the process is killed during it.
struct KillSwitch {
  int at = -1;
  int count = 0;
  void Point(const std::function<void()>& partial = {}) {
    if (count++ != at) return;
    if (partial) partial();
    ::_exit(kKilled);
  }
};

class KillingStreams : public platform::ByteStreams {
 public:
  explicit KillingStreams(KillSwitch& k) : k_(k) {}
  FILE* Open(const char* p, const char* m) override { return k_.Point(), real().Open(p, m); }
  FILE* CreateNew(const char* p) override { return k_.Point(), real().CreateNew(p); }
  FILE* OpenRegular(const char* p) override { return k_.Point(), real().OpenRegular(p); }
  int Status(const char* p, platform::StreamFileStatus* s) override { return k_.Point(), real().Status(p, s); }
  int Remove(const char* p) override { return k_.Point(), real().Remove(p); }
  int Rename(const char* f, const char* t) override { return k_.Point(), real().Rename(f, t); }
  size_t Read(void* b, size_t n, FILE* f) override { return k_.Point(), real().Read(b, n, f); }
  size_t Write(const void* b, size_t n, FILE* f) override {
    k_.Point([&] {
      real().Write(b, n / 2, f);
      std::fflush(f);
    });
    return real().Write(b, n, f);
  }
  int Commit(FILE* f) override { return k_.Point(), real().Commit(f); }
  int Close(FILE* f) override { return k_.Point(), real().Close(f); }

 private:
  static platform::ByteStreams& real() { return platform::ByteStreams::Default(); }
  KillSwitch& k_;
};

class KillingFiles : public platform::FileSystem {
 public:
  explicit KillingFiles(KillSwitch& k) : k_(k) {}
  HANDLE FindFirst(const wchar_t* p, platform::FindData* d) override { return k_.Point(), real().FindFirst(p, d); }
  BOOL FindNext(HANDLE h, platform::FindData* d) override { return real().FindNext(h, d); }
  BOOL CloseFind(HANDLE h) override { return real().CloseFind(h); }
  DWORD GetAttributes(const wchar_t* p) override { return k_.Point(), real().GetAttributes(p); }
  BOOL SetAttributes(const wchar_t* p, DWORD a) override { return k_.Point(), real().SetAttributes(p, a); }
  BOOL RemoveFile(const wchar_t* p) override { return k_.Point(), real().RemoveFile(p); }
  BOOL RemoveFolder(const wchar_t* p) override { return k_.Point(), real().RemoveFolder(p); }
  BOOL MakeFolder(const wchar_t* p) override { return k_.Point(), real().MakeFolder(p); }
  BOOL MoveEntry(const wchar_t* f, const wchar_t* t) override { return k_.Point(), real().MoveEntry(f, t); }
  BOOL CopyEntry(const wchar_t* f, const wchar_t* t, BOOL x) override { return k_.Point(), real().CopyEntry(f, t, x); }
  BOOL ReplaceEntry(const wchar_t* f, const wchar_t* t) override { return k_.Point(), real().ReplaceEntry(f, t); }
  BOOL PathExists(const wchar_t* p) override { return k_.Point(), real().PathExists(p); }
  BOOL IsDirectory(const wchar_t* p) override { return k_.Point(), real().IsDirectory(p); }
  BOOL IsSystemFolder(const wchar_t* p, DWORD a) override { return real().IsSystemFolder(p, a); }
  DWORD ExpandEnvironment(const wchar_t* s, wchar_t* o, DWORD n) override { return real().ExpandEnvironment(s, o, n); }
  HANDLE OpenFile(const wchar_t* p, DWORD a, DWORD d) override { return k_.Point(), real().OpenFile(p, a, d); }
  BOOL ReadBytes(HANDLE f, void* b, DWORD n, DWORD* d) override { return k_.Point(), real().ReadBytes(f, b, n, d); }
  BOOL WriteBytes(HANDLE f, const void* b, DWORD n, DWORD* d) override {
    k_.Point([&] {
      DWORD half = 0;
      real().WriteBytes(f, b, n / 2, &half);
    });
    return real().WriteBytes(f, b, n, d);
  }
  BOOL Seek(HANDLE f, LONGLONG d, DWORD m, ULONGLONG* p) override { return real().Seek(f, d, m, p); }
  BOOL FileSize(HANDLE f, ULONGLONG* s) override { return real().FileSize(f, s); }
  BOOL CloseFile(HANDLE f) override { return k_.Point(), real().CloseFile(f); }

 private:
  static platform::FileSystem& real() { return platform::FileSystem::Default(); }
  KillSwitch& k_;
};

// Whether bytes are a whole key file of either binding holding the value.
std::string Binding(const std::string& bytes) {
  for (const auto& [name, key] : {std::pair<const char*, std::string>{"old", OldKey()}, {"new", NewKey()}}) {
    bool padded = false;
    std::string plain = Decrypt(key, bytes, &padded);
    if (padded && bytes.size() % 16 == 0 && plain.find("Value=" + kValue + "\r\n") != std::string::npos) return name;
  }
  return "none";
}

// A run in a child process that ends at file operation at; the child's
// exit code (kKilled when it was ended there).
int RunKilledAt(MigrationMachine& m, int at) {
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child == 0) {
    KillSwitch k{at};
    KillingStreams streams(k);
    KillingFiles files(k);
    platform::ScopedPort<platform::ByteStreams> useStreams(streams);
    platform::ScopedPort<platform::FileSystem> useFiles(files);
    m.Run();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KeyFileCrash, AtEveryFileOperationTheKeyFileIsWholeAndTheNextRunFinishesTheJob) {
  MigrationMachine m;
  m.MakeDataDirectory();
  const fs::path data = m.machine.Root() / kDataDir;
  int points = 0;
  for (;; ++points) {
    fs::remove_all(data);
    fs::create_directories(data);
    m.WriteData("req.dat", Encrypt(OldKey(), ConvertedPlaintext(OldKey(), kValue)));
    int code = RunKilledAt(m, points);
    ASSERT_TRUE(code == kKilled || code == 0) << points;
    EXPECT_NE(Binding(m.ReadData("req.dat")), "none") << "after the kill at " << points;
    if (code == 0) break;
    EXPECT_EQ(m.Run(), 0);
    EXPECT_EQ(Binding(m.ReadData("req.dat")), "new") << "after the run that followed the kill at " << points;
    EXPECT_EQ(m.ReadData("_completed_mig"), "3") << points;
  }
  // The run's file operations, counted so that a change in their number is seen.
  std::printf("kill points tried: %d\n", points);
  EXPECT_GT(points, 20);
  EXPECT_EQ(Binding(m.ReadData("req.dat")), "new");
}

TEST(KeyFileCrash, ASecondRunWhileOneWorksEndsAtOnceAndTouchesNothing) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.WriteData("req.dat", Encrypt(OldKey(), ConvertedPlaintext(OldKey(), kValue)));
  const std::string before = m.ReadData("req.dat");
  platform::NamedMutex& mutexes = platform::Use<platform::NamedMutex>();
  HANDLE working = mutexes.Create(kAliceRunLock, TRUE);
  ASSERT_NE(working, nullptr);
  EXPECT_EQ(m.Run(), 0);
  EXPECT_FALSE(m.DataExists("velk-access-migration.log"));
  EXPECT_FALSE(m.DataExists("_completed_mig"));
  EXPECT_EQ(m.ReadData("req.dat"), before);
  mutexes.Close(working);
  EXPECT_EQ(m.Run(), 0);
  EXPECT_EQ(Binding(m.ReadData("req.dat")), "new");
}

TEST(KeyFileCrash, OnlyTheSameUsersRunLockStopsARun) {
  platform::NamedMutex& mutexes = platform::Use<platform::NamedMutex>();
  for (const wchar_t* held : {L"Local\\TESSMAR.Velk.Migration", L"Local\\TESSMAR.Velk.Migration.S-1-5-21-100-1002"}) {
    MigrationMachine m;
    m.MakeDataDirectory();
    m.WriteData("req.dat", Encrypt(OldKey(), ConvertedPlaintext(OldKey(), kValue)));
    HANDLE other = mutexes.Create(held, TRUE);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(m.Run(), 0);
    EXPECT_EQ(Binding(m.ReadData("req.dat")), "new") << "held by another user's run";
    mutexes.Close(other);
  }
}

// A token whose user cannot be read.
class NoUserToken : public FakeToken {
 public:
  BOOL CurrentUserSid(std::wstring*) override {
    platform::SetLastErrorCode(ERROR_ACCESS_DENIED);
    return FALSE;
  }
};

TEST(KeyFileCrash, ARunThatCannotTakeItsLockWorksUnlockedAndSaysSo) {
  struct Case {
    DWORD createError;
    bool userKnown;
    const char* line;
  };
  const Case cases[] = {
      {ERROR_ACCESS_DENIED, true, "[error] CreateMutexW() = 5: the run goes on without its lock"},
      {ERROR_INVALID_HANDLE, true, "[error] CreateMutexW() = 6: the run goes on without its lock"},
      {0, false, "[error] GetTokenInformation() = 5: the run goes on without its lock"},
  };
  for (const Case& c : cases) {
    MigrationMachine m;
    m.MakeDataDirectory();
    m.WriteData("req.dat", Encrypt(OldKey(), ConvertedPlaintext(OldKey(), kValue)));
    FakeNamedMutex mutexes;
    mutexes.createError = c.createError;
    NoUserToken token;
    platform::ScopedPort<platform::NamedMutex> useMutexes(mutexes);
    std::optional<platform::ScopedPort<platform::Token>> useToken;
    if (!c.userKnown) useToken.emplace(token);
    EXPECT_EQ(m.Run(), 0);
    EXPECT_EQ(Binding(m.ReadData("req.dat")), "new") << c.line;
    EXPECT_THAT(m.LogLines(), ::testing::ElementsAre(c.line, "[info] InitialStatus : 1", "[info] Start converting",
                                                     "[info] Finish converting"));
    EXPECT_EQ(m.ReadData("_completed_mig"), "3");
  }
}

TEST(KeyFileCrash, TheRunLockIsNamedAfterTheUser) {
  MigrationMachine m;
  m.MakeDataDirectory();
  FakeNamedMutex mutexes;
  platform::ScopedPort<platform::NamedMutex> use(mutexes);
  EXPECT_EQ(m.Run(), 0);
  ASSERT_EQ(mutexes.created.size(), 1u);
  EXPECT_EQ(mutexes.created[0].first, kAliceRunLock);
  EXPECT_EQ(mutexes.created[0].second, TRUE);
  EXPECT_EQ(mutexes.closed, 1);
}

TEST(KeyFileCrash, RunsStartedTogetherConvertOnce) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.WriteData("req.dat", Encrypt(OldKey(), ConvertedPlaintext(OldKey(), kValue)));
  std::vector<std::thread> runs;
  std::vector<int> codes(6, -1);
  for (size_t i = 0; i < codes.size(); ++i)
    runs.emplace_back([&codes, i] {
      RunCommand(std::string(VELK_BINARY_DIR) + "/velk-access-migration 2>&1 </dev/null", &codes[i]);
    });
  for (std::thread& t : runs) t.join();
  for (int code : codes) EXPECT_EQ(code, 0);
  EXPECT_EQ(Binding(m.ReadData("req.dat")), "new");
  EXPECT_FALSE(m.DataExists("req.dat.new"));
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
  std::vector<std::string> lines = m.LogLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[info] Start converting"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[error] failed ReqDatConverter"), 0);
}

}  // namespace
}  // namespace velk_test
