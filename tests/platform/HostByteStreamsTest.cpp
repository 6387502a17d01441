#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/ByteStreams.h"
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

}  // namespace
