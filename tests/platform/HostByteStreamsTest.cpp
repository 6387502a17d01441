#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/ByteStreams.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "support/TempMachine.h"

namespace fs = std::filesystem;

namespace {

platform::ByteStreams& Streams() { return platform::ByteStreams::Default(); }

TEST(HostByteStreamsTest, WindowsPathsMapIntoTheMachine) {
  velk_test::TempMachine machine;
  fs::create_directories(machine.Root() / "drive_c/Users/alice/AppData/Local");
  // ANSI (code page 1252) text in the path: e acute.
  const char* path = "C:\\users\\Alice\\AppData\\Local\\caf\xE9.log";
  FILE* f = Streams().Open(path, "ab");
  ASSERT_NE(f, nullptr);
  std::fputs("line\n", f);
  std::fclose(f);
  EXPECT_EQ(machine.Read("drive_c/Users/alice/AppData/Local/caf\xC3\xA9.log"), "line\n");

  platform::StreamFileStatus status;
  ASSERT_EQ(Streams().Status(path, &status), 0);
  EXPECT_EQ(status.size, 5u);
  EXPECT_GT(status.modified, 0);
  EXPECT_EQ(Streams().Rename(path, "C:\\Users\\alice\\AppData\\Local\\moved.log"), 0);
  EXPECT_EQ(Streams().Remove("C:\\Users\\alice\\AppData\\Local\\moved.log"), 0);
  EXPECT_FALSE(fs::exists(machine.Root() / "drive_c/Users/alice/AppData/Local/moved.log"));
}

TEST(HostByteStreamsTest, FailuresSetWindowsCodes) {
  velk_test::TempMachine machine;
  fs::create_directories(machine.Root() / "drive_c/data");
  machine.Write("drive_c/data/a.txt", "a");
  machine.Write("drive_c/data/b.txt", "b");

  EXPECT_EQ(Streams().Open("C:\\data\\missing.txt", "rb"), nullptr);
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Streams().Open("C:\\nofolder\\x.log", "ab"), nullptr);
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(Streams().Open("C:\\data", "rb"), nullptr);
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  // The Windows runtime neither renames over an existing file nor removes folders.
  EXPECT_EQ(Streams().Rename("C:\\data\\a.txt", "C:\\data\\b.txt"), -1);
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(machine.Read("drive_c/data/b.txt"), "b");
  EXPECT_EQ(Streams().Remove("C:\\data"), -1);
  EXPECT_TRUE(fs::exists(machine.Root() / "drive_c/data"));

  platform::StreamFileStatus status;
  EXPECT_EQ(Streams().Status("C:\\data\\missing.txt", &status), -1);
}

TEST(HostByteStreamsTest, OpenRegularReadsDiskFilesOnlyAndNeverWaits) {
  velk_test::TempMachine machine;
  fs::create_directories(machine.Root() / "drive_c/data/folder");
  machine.Write("drive_c/data/key.dat", "key");
  ASSERT_EQ(::mkfifo((machine.Root() / "drive_c/data/pipe").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", machine.Root() / "drive_c/data/zero");
  fs::create_symlink(machine.Root() / "drive_c/data/key.dat", machine.Root() / "drive_c/data/link");
  const std::pair<const char*, DWORD> cases[] = {
      {"C:\\data\\key.dat", ERROR_SUCCESS},      {"C:\\data\\link", ERROR_SUCCESS},
      {"C:\\data\\pipe", ERROR_BAD_FILE_TYPE},   {"C:\\data\\zero", ERROR_BAD_FILE_TYPE},
      {"C:\\data\\folder", ERROR_ACCESS_DENIED}, {"C:\\data\\missing", ERROR_FILE_NOT_FOUND},
  };
  for (const auto& [path, error] : cases) {
    FILE* f = Streams().OpenRegular(path);
    EXPECT_EQ(f != nullptr, error == ERROR_SUCCESS) << path;
    if (!f) {
      EXPECT_EQ(platform::GetLastErrorCode(), error) << path;
      continue;
    }
    char buffer[8] = {};
    EXPECT_EQ(Streams().Read(buffer, sizeof buffer, f), 3u) << path;
    EXPECT_EQ(Streams().Close(f), 0);
  }
}

// A path in Windows form maps into the machine or nowhere: a drive that is
// no letter A to Z, a UNC or rooted path fail as a missing drive does, and
// nothing is made in the current folder or above the machine.
TEST(HostByteStreamsTest, WindowsFormsThatMapNowhereFailAsAMissingDrive) {
  velk_test::TempMachine machine;
  fs::path work = machine.Root() / "work";
  fs::create_directories(work);
  fs::path before = fs::current_path();
  fs::current_path(work);
  for (const char* path : {"\xC8\xAF:\\a\\..\\..\\..\\escaped", "\xE9:\\escaped", "0:\\escaped", "[:\\escaped",
                           "\\\\server\\share\\escaped", "\\escaped", "a\\..\\escaped"}) {
    SCOPED_TRACE(path);
    platform::SetLastErrorCode(0);
    EXPECT_EQ(Streams().Open(path, "wb"), nullptr);
    EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Streams().CreateNew(path), nullptr);
    EXPECT_EQ(Streams().OpenOwn(path, "ab"), nullptr);
    EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  }
  fs::current_path(before);
  EXPECT_TRUE(fs::is_empty(work));
  EXPECT_FALSE(fs::exists(machine.Root().parent_path() / "escaped"));
}

// The opens of a file of one's own, in both ports: a file only this name
// leads to is opened (and truncated when asked), a missing one created;
// anything a link or a second name reaches is refused before a byte changes.
TEST(HostByteStreamsTest, OwnFileOpensNeverGoThroughALink) {
  velk_test::TempMachine machine;
  const fs::path data = machine.Root() / "drive_c/data";
  fs::create_directories(data / "folder");
  enum Kind { kOwn, kMissing, kSymbolic, kHard, kDangling, kFolderLink, kPipe, kFolder };
  struct Case {
    Kind kind;
    const char* what;
  };
  const Case cases[] = {{kOwn, "own"},        {kMissing, "missing"},        {kSymbolic, "symbolic link"},
                        {kHard, "hard link"}, {kDangling, "dangling link"}, {kFolderLink, "folder link"},
                        {kPipe, "pipe"},      {kFolder, "folder"}};
  const fs::path name = data / "x.dat";
  const fs::path target = data / "target.dat";
  for (const Case& c : cases) {
    for (int call = 0; call < 4; ++call) {
      SCOPED_TRACE(std::string(c.what) + " call " + std::to_string(call));
      fs::remove_all(name);
      fs::remove(target);
      if (c.kind != kDangling) machine.Write("drive_c/data/target.dat", "target");
      switch (c.kind) {
        case kOwn: machine.Write("drive_c/data/x.dat", "own"); break;
        case kMissing: break;
        case kSymbolic:
        case kDangling: fs::create_symlink(target, name); break;
        case kHard: fs::create_hard_link(target, name); break;
        case kFolderLink: fs::create_directory_symlink(data / "folder", name); break;
        case kPipe: ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0); break;
        case kFolder: fs::create_directory(name); break;
      }
      platform::SetLastErrorCode(0);
      bool opened = false;
      if (call < 2) {
        FILE* f = Streams().OpenOwn("C:\\data\\x.dat", call == 0 ? "wb" : "ab");
        opened = f != nullptr;
        if (f) std::fclose(f);
      } else {
        platform::FileSystem& files = platform::FileSystem::Default();
        HANDLE h = files.OpenOwnFile(L"C:\\data\\x.dat", GENERIC_WRITE, 0, call == 2 ? CREATE_ALWAYS : OPEN_ALWAYS);
        opened = h != INVALID_HANDLE_VALUE;
        if (opened) files.CloseFile(h);
      }
      if (c.kind == kOwn || c.kind == kMissing) {
        EXPECT_TRUE(opened);
        bool truncates = call == 0 || call == 2;
        EXPECT_EQ(machine.Read("drive_c/data/x.dat"), c.kind == kOwn && !truncates ? "own" : "");
      } else {
        EXPECT_FALSE(opened);
        EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      }
      if (c.kind == kDangling)
        EXPECT_FALSE(fs::exists(target));
      else
        EXPECT_EQ(machine.Read("drive_c/data/target.dat"), "target");
    }
  }
}

}  // namespace
