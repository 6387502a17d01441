// The legacy clean-up: hidden interpreters, registry keys, state.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "LegacyData.h"
#include "MigrationMachine.h"
#include "platform/LastError.h"
#include "platform/NamedMutex.h"
#include "platform/Registry.h"
#include "platform/host/adapters/StartedProcesses.h"

namespace velk_test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::wstring kLocal = L"C:\\Users\\alice\\AppData\\Local";

std::vector<std::wstring> CommandLines(const RecordedStarts& s) {
  std::vector<std::wstring> lines;
  for (const auto& r : s.starts) lines.push_back(r.commandLine);
  return lines;
}

bool KeyExists(const wchar_t* path) {
  platform::RegKey key;
  return platform::Use<platform::Registry>().OpenKey(HKEY_CURRENT_USER, path, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

TEST(LegacyCleanup, StartsFourHiddenInterpretersFromTheSystemFolder) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.WriteData("_completed_mig", "2");
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(CommandLines(m.starts),
              ElementsAre(L"cmd.exe /c rmdir /S /Q \"" + std::wstring(kDataDirW) + L"\\keydata\"",
                          L"cmd.exe /c rmdir /S /Q \"" + std::wstring(kDataDirW) + L"\\keydata_EX\"",
                          L"cmd.exe /c rmdir /S /Q \"" + std::wstring(kDataDirW) + L"\\mig\"",
                          L"cmd.exe /c rmdir /S /Q \"" + kLocal + L"\\Pellacor\\velk\\velk-access LE\""));
  for (const auto& r : m.starts.starts) {
    EXPECT_EQ(r.application, L"C:\\Windows\\system32\\cmd.exe");
    EXPECT_TRUE(r.inherit);
    EXPECT_EQ(r.flags, 0x08000020u);
    EXPECT_EQ(r.startup.flags, 0x101u);
    EXPECT_EQ(r.startup.showWindow, 0);
    EXPECT_EQ(r.startup.input, nullptr);
    EXPECT_EQ(r.startup.output, nullptr);
    EXPECT_EQ(r.startup.error, nullptr);
  }
  // Both handles of every process are closed at once, the thread's first.
  EXPECT_THAT(m.starts.closed, ElementsAre("thread 1", "process 1", "thread 2", "process 2", "thread 3", "process 3",
                                           "thread 4", "process 4"));
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
}

TEST(LegacyCleanup, ThreeInterpretersWhenTheLocalFolderCannotBeResolved) {
  MigrationMachine m;
  m.machine.Write("machine.ini", "[machine]\nacp=1252 ui_language=1033\nuser=S-1-5-21-100-4040\n");
  TempMachine::Reload();
  EXPECT_EQ(StartLegacyFolderRemoval(L"D:\\data"), 3);
  EXPECT_THAT(CommandLines(m.starts), ElementsAre(L"cmd.exe /c rmdir /S /Q \"D:\\data\\keydata\"",
                                                  L"cmd.exe /c rmdir /S /Q \"D:\\data\\keydata_EX\"",
                                                  L"cmd.exe /c rmdir /S /Q \"D:\\data\\mig\""));
}

TEST(LegacyCleanup, FailuresToStartPassSilentlyAndTheStateStillAdvances) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.WriteData("_completed_mig", "2");
  m.starts.result = FALSE;
  EXPECT_EQ(m.Run(), 0);
  EXPECT_EQ(m.starts.starts.size(), 4u);
  EXPECT_THAT(m.starts.closed, IsEmpty());
  EXPECT_THAT(m.boxes.shown, IsEmpty());
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
  EXPECT_THAT(m.LogLines(), ElementsAre("[info] InitialStatus : 2"));
}

TEST(LegacyCleanup, CommandsLongerThanTheLimitAreNotStarted) {
  MigrationMachine m;
  // With 255 characters every command fits; command 2 has 291.
  std::wstring dir255 = L"D:\\" + std::wstring(252, L'd');
  StartLegacyFolderRemoval(dir255.c_str());
  ASSERT_EQ(m.starts.starts.size(), 4u);
  EXPECT_EQ(m.starts.starts[1].commandLine.size(), 291u);
  // From 256 characters on, command 2 would be cut and name another folder
  // ("...\keydata_E"); from 259 on, command 1 too.
  m.starts.starts.clear();
  std::wstring dir256 = dir255 + L"d";
  StartLegacyFolderRemoval(dir256.c_str());
  EXPECT_THAT(CommandLines(m.starts),
              ElementsAre(L"cmd.exe /c rmdir /S /Q \"" + dir256 + L"\\keydata\"",
                          L"cmd.exe /c rmdir /S /Q \"" + dir256 + L"\\mig\"",
                          L"cmd.exe /c rmdir /S /Q \"" + kLocal + L"\\Pellacor\\velk\\velk-access LE\""));
  m.starts.starts.clear();
  std::wstring dir259 = dir256 + L"ddd";
  StartLegacyFolderRemoval(dir259.c_str());
  EXPECT_THAT(CommandLines(m.starts),
              ElementsAre(L"cmd.exe /c rmdir /S /Q \"" + dir259 + L"\\mig\"",
                          L"cmd.exe /c rmdir /S /Q \"" + kLocal + L"\\Pellacor\\velk\\velk-access LE\""));
  for (const auto& r : m.starts.starts) EXPECT_LE(r.commandLine.size(), kMaxCommandLine);
}

TEST(LegacyCleanup, DeletesTheTwoSubkeysAndKeepsTheKey) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.WriteData("_completed_mig", "3");
  ASSERT_TRUE(KeyExists(L"Software\\Pellacor\\velk\\access"));
  EXPECT_EQ(m.Run(), 0);
  EXPECT_FALSE(KeyExists(L"Software\\Pellacor\\velk\\access"));
  EXPECT_FALSE(KeyExists(L"Software\\Pellacor\\velk\\accessEX"));
  EXPECT_TRUE(KeyExists(L"Software\\Pellacor\\velk"));
  EXPECT_TRUE(KeyExists(L"Software\\Pellacor\\velk\\other"));
  EXPECT_EQ(m.ReadData("_completed_mig"), "3") << "a state of 3 is left alone";
  // The hive on disk holds the change.
  EXPECT_EQ(m.machine.Read("drive_c/Users/alice/NTUSER.DAT").find("velk\\access]"), std::string::npos);
}

TEST(LegacyCleanup, ASubkeyWithSubkeysOfItsOwnStays) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.machine.Write("drive_c/Users/alice/NTUSER.DAT",
                  "Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Pellacor\\velk\\access]\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Pellacor\\velk\\accessEX\\inner]\n");
  TempMachine::Reload();
  EXPECT_EQ(m.Run(), 0);
  EXPECT_FALSE(KeyExists(L"Software\\Pellacor\\velk\\access"));
  EXPECT_TRUE(KeyExists(L"Software\\Pellacor\\velk\\accessEX\\inner"));
  EXPECT_THAT(m.boxes.shown, IsEmpty());
}

TEST(LegacyCleanup, NoKeysAtAllIsNoFailure) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.machine.Write("drive_c/Users/alice/NTUSER.DAT",
                  "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n");
  TempMachine::Reload();
  m.WriteData("_completed_mig", "");
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.boxes.shown, IsEmpty());
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
}

// The host adapter: the interpreter is a real process that removes the
// folder in the machine.
class HostRemoval : public ::testing::Test {
 protected:
  HostRemoval() { fs::create_directories(root() / kDataDir); }
  fs::path root() const { return machine.Root(); }
  void Run(const std::wstring& command, const wchar_t* application = nullptr, bool started = true) {
    std::wstring line = command;
    platform::StartedProcess p;
    platform::StartupRequest s;
    BOOL ok = platform::ProcessStart::Default().Start(application, line.data(), TRUE, 0x08000020, s, &p);
    EXPECT_EQ(ok != FALSE, started) << "start of the command";
    if (ok) {
      EXPECT_TRUE(platform::ProcessStart::Default().CloseProcessHandle(p.thread));
      EXPECT_TRUE(platform::ProcessStart::Default().CloseProcessHandle(p.process));
    } else {
      EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    }
    platform::host::WaitForStartedProcesses();
  }
  TempMachine machine;
};

TEST_F(HostRemoval, RemovesTheFolderTreeNamedWithoutRegardToCase) {
  machine.Write(std::string(kDataDir) + "/keydata/a/b/c.txt", "x");
  machine.Write(std::string(kDataDir) + "/keydata_EX/keep.txt", "y");
  ::chmod((root() / kDataDir / "keydata/a").c_str(), 0555);  // read-only content goes too
  Run(L"cmd.exe /c rmdir /S /Q \"C:\\USERS\\alice\\appdata\\Local\\TESSMAR\\velk\\velk-access\\KEYDATA\"");
  ::chmod((root() / kDataDir / "keydata/a").c_str(), 0755);
  EXPECT_FALSE(fs::exists(root() / kDataDir / "keydata"));
  EXPECT_TRUE(fs::exists(root() / kDataDir / "keydata_EX/keep.txt"));
}

TEST_F(HostRemoval, TheProgramsOwnCommandRemovesTheLegacyFolders) {
  machine.Write(std::string(kDataDir) + "/mig/old.ini", "x");
  machine.Write(std::string(kDataDir) + "/req.dat", "keep");
  RunHiddenCommand(RemoveFolderCommand(std::wstring(kDataDirW) + L"\\mig").c_str());
  platform::host::WaitForStartedProcesses();
  EXPECT_FALSE(fs::exists(root() / kDataDir / "mig"));
  EXPECT_EQ(machine.Read(std::string(kDataDir) + "/req.dat"), "keep");
}

TEST_F(HostRemoval, NeverRemovesAnythingOutsideTheMachine) {
  fs::path outside = root().parent_path() / (root().filename().string() + "-outside");
  fs::create_directories(outside / "victim");
  std::ofstream(outside / "victim/file") << "precious";
  // A link in the data directory to a folder outside: the link goes, the
  // folder stays (as rmdir removes a directory link, not its target).
  fs::create_directory_symlink(outside / "victim", root() / kDataDir / "keydata");
  Run(RemoveFolderCommand(std::wstring(kDataDirW) + L"\\keydata"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root() / kDataDir / "keydata")));
  EXPECT_TRUE(fs::exists(outside / "victim/file"));
  // A linked folder on the way out of the machine: nothing happens there.
  fs::create_directory_symlink(outside, root() / kDataDir / "link");
  Run(RemoveFolderCommand(std::wstring(kDataDirW) + L"\\link\\victim"));
  EXPECT_TRUE(fs::exists(outside / "victim/file"));
  // Climbing above the drive stops at the drive folder.
  Run(L"cmd.exe /c rmdir /S /Q \"C:\\..\\..\\" + fs::path(outside).filename().wstring() + L"\"");
  EXPECT_TRUE(fs::exists(outside / "victim/file"));
  fs::remove_all(outside);
}

TEST_F(HostRemoval, AFileOrAMissingFolderIsNotRemoved) {
  machine.Write(std::string(kDataDir) + "/mig", "a file");
  Run(RemoveFolderCommand(std::wstring(kDataDirW) + L"\\mig"));
  EXPECT_EQ(machine.Read(std::string(kDataDir) + "/mig"), "a file");
  Run(RemoveFolderCommand(std::wstring(kDataDirW) + L"\\absent"));
  EXPECT_TRUE(fs::exists(root() / kDataDir));
}

TEST_F(HostRemoval, AnyOtherCommandFailsLikeAMissingProgram) {
  machine.Write(std::string(kDataDir) + "/mig/x", "x");
  const std::wstring folder = L"\"" + std::wstring(kDataDirW) + L"\\mig\"";
  for (const std::wstring& line : {L"cmd.exe /c del /S /Q " + folder, L"powershell.exe /c rmdir /S /Q " + folder,
                                   L"cmd.exe /c rmdir /S " + folder, L"cmd.exe /c rmdir /S /Q " + folder + L" extra",
                                   L"cmd.exe /c rmdir /S /Q \"" + std::wstring(kDataDirW) + L"\\mi",
                                   std::wstring(L"cmd.exe"), L"C:\\Users\\alice\\cmd.exe /c rmdir /S /Q " + folder}) {
    Run(line, nullptr, false);
  }
  // The application name must be the system folder's interpreter.
  Run(L"cmd.exe /c rmdir /S /Q " + folder, L"C:\\Program Files\\velk\\cmd.exe", false);
  EXPECT_TRUE(fs::exists(root() / kDataDir / "mig/x"));
  Run(L"cmd.exe /c rmdir /S /Q " + folder, L"C:\\WINDOWS\\System32\\CMD.EXE");
  EXPECT_FALSE(fs::exists(root() / kDataDir / "mig"));
}

// As with CreateProcess without inheritance, the interpreter holds nothing
// of its starter: a mutex the starter closes is gone at once, even while the
// interpreter is still at work on a large tree.
TEST_F(HostRemoval, TheInterpreterHoldsNoneOfTheStartersObjects) {
  for (int i = 0; i < 2000; ++i) machine.Write(std::string(kDataDir) + "/mig/f" + std::to_string(i), "x");
  platform::NamedMutex& mutexes = platform::NamedMutex::Default();
  HANDLE held = mutexes.Create(L"Local\velk-test-run", FALSE);
  ASSERT_NE(held, nullptr);
  std::wstring line = RemoveFolderCommand(std::wstring(kDataDirW) + L"\\mig");
  platform::StartedProcess p;
  platform::StartupRequest s;
  ASSERT_TRUE(platform::ProcessStart::Default().Start(nullptr, line.data(), FALSE, 0x08000020, s, &p));
  mutexes.Close(held);
  HANDLE again = mutexes.Create(L"Local\velk-test-run", FALSE);
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_SUCCESS)) << "the interpreter kept the mutex";
  mutexes.Close(again);
  platform::ProcessStart::Default().CloseProcessHandle(p.thread);
  platform::ProcessStart::Default().CloseProcessHandle(p.process);
  platform::host::WaitForStartedProcesses();
  EXPECT_FALSE(fs::exists(root() / kDataDir / "mig"));
}

TEST_F(HostRemoval, HandlesAreClosedOnce) {
  EXPECT_FALSE(platform::ProcessStart::Default().CloseProcessHandle(reinterpret_cast<HANDLE>(0x1234)));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  wchar_t folder[4];
  EXPECT_EQ(platform::ProcessStart::Default().SystemFolder(folder, 4), 20u);
}

}  // namespace
}  // namespace velk_test
