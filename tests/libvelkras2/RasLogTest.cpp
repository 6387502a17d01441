#include <gtest/gtest.h>
#include <utime.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "TempFolder.h"
#include "platform/ByteStreams.h"
#include "platform/Port.h"
#include "support/FakeClock.h"
#include "velkras2/RasLog.h"
#include "velkras2/RasUtil.h"

namespace fs = std::filesystem;

namespace {

using velk_test::ReadFile;
using velk_test::WriteFile;

const std::string kPrefix = "2024/05/17 09:03:07 ";

// The host's byte streams with failures switched on by the test.
class FailingStreams : public platform::ByteStreams {
 public:
  FILE* Open(const char* path, const char* mode) override {
    ++opens;
    return opens > failOpenAfter ? nullptr : real.Open(path, mode);
  }
  FILE* OpenOwn(const char* path, const char* mode) override {
    ++opens;
    return opens > failOpenAfter ? nullptr : real.OpenOwn(path, mode);
  }
  int Status(const char* path, platform::StreamFileStatus* status) override { return real.Status(path, status); }
  int Remove(const char* path) override { return failRemove ? -1 : real.Remove(path); }
  int Rename(const char* from, const char* to) override { return failRename ? -1 : real.Rename(from, to); }

  platform::ByteStreams& real = platform::ByteStreams::Default();
  int opens = 0;
  int failOpenAfter = 1000;
  bool failRemove = false;
  bool failRename = false;
};

class RasLogTest : public ::testing::Test {
 protected:
  RasLogTest() : useClock_(clock) {}
  ~RasLogTest() override { RasLog_Close(RasLog_Get()); }

  std::string LogPath() const { return folder.Path("velk-access-migration.log").string(); }
  std::string Generation(int k) const { return LogPath() + "." + std::to_string(k); }
  bool Open() { return RasLog_Open(RasLog_Get(), LogPath().c_str()); }
  void Write(const char* message, const char* tag = "[info]") { RasLog_Write(RasLog_Get(), tag, message); }
  std::string Current() const { return ReadFile(LogPath()); }
  void SetModified(const std::string& path, int64_t seconds) {
    struct utimbuf times {
      static_cast<time_t>(seconds), static_cast<time_t>(seconds)
    };
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
  }
  // Moves the clock to another UTC time, keeping the local prefix fixed.
  void SetTime(int64_t unixTime) { clock.unixTime = unixTime; }

  velk_test::TempFolder folder;
  velk_test::FakeClock clock;
  static constexpr int64_t kToday = 1715936587;  // 2024-05-17 09:03:07 UTC
  static constexpr int64_t kDay = 86400;

 private:
  platform::ScopedPort<platform::Clock> useClock_;
};

TEST_F(RasLogTest, LinesHaveThePrefixTagMessageAndLineFeed) {
  ASSERT_TRUE(Open());
  Write("Start converting");
  Write("failed ReqDatConverter", "[error]");
  Write("");
  EXPECT_EQ(Current(), kPrefix + "[info] Start converting\n" + kPrefix + "[error] failed ReqDatConverter\n" + kPrefix +
                           "[info] \n");
  EXPECT_EQ(RasLog_Get()->generations, 7u);
  EXPECT_EQ(RasLog_Get()->sizeLimit, 1048576u);
  EXPECT_EQ(RasLog_Get()->size, Current().size());
}

TEST_F(RasLogTest, LongLinesAreWrittenWhole) {
  ASSERT_TRUE(Open());
  std::string message(5000, 'q');
  message += "\xE9";
  Write(message.c_str(), std::string(300, 't').c_str());
  std::string expected = kPrefix + std::string(300, 't') + " " + std::string(5000, 'q') + "\xC3\xA9\n";
  EXPECT_EQ(Current(), expected);
  EXPECT_EQ(RasLog_Get()->size, expected.size());
}

TEST_F(RasLogTest, MessageIsConvertedToUtf8ButTheTagIsNot) {
  ASSERT_TRUE(Open());
  Write("caf\xE9 \x80", "[t\xE9]");  // code page 1252: e acute, euro sign
  EXPECT_EQ(Current(), kPrefix + "[t\xE9] caf\xC3\xA9 \xE2\x82\xAC\n");
}

TEST_F(RasLogTest, MissingPartsAndAClosedLogWriteNothing) {
  Write("before open");
  ASSERT_TRUE(Open());
  RasLog_Write(RasLog_Get(), nullptr, "x");
  RasLog_Write(RasLog_Get(), "[info]", nullptr);
  RasLog_Write(nullptr, "[info]", "x");
  EXPECT_EQ(Current(), "");
}

TEST_F(RasLogTest, LogThatCannotBeAllocatedIsNone) {
  RasLog_Close(RasLog_Get());
  RasUtil_FailAllocationsAfter(0);
  RasLog* log = RasLog_Get();
  RasUtil_FailAllocationsAfter(-1);
  EXPECT_EQ(log, nullptr);
  EXPECT_FALSE(RasLog_Open(log, LogPath().c_str()));
  RasLog_Write(log, "[info]", "lost");
  EXPECT_FALSE(fs::exists(LogPath()));
  // The next call makes one.
  EXPECT_NE(RasLog_Get(), nullptr);
}

TEST_F(RasLogTest, OpenFailsInAMissingFolderOrForAnOverlongPath) {
  std::string missing = folder.Path("no/such/folder/x.log").string();
  EXPECT_FALSE(RasLog_Open(RasLog_Get(), missing.c_str()));
  Write("lost");
  EXPECT_FALSE(fs::exists(missing));

  // A path the record cannot keep whole is refused rather than cut.
  std::string longPath = folder.Root().string() + "/" + std::string(260 - folder.Root().string().size(), 'l');
  EXPECT_FALSE(RasLog_Open(RasLog_Get(), longPath.c_str()));
  EXPECT_FALSE(fs::exists(longPath));
}

// Lines go only into a file of the log's own: a link at the log's name, to
// the key file beside it or anywhere else, makes the log one that cannot
// open, and what the link leads to keeps every byte.
TEST_F(RasLogTest, OpenRefusesALinkAtTheName) {
  // Wine, and Windows without the privilege, make no symbolic links.
  {
    std::error_code ec;
    fs::create_symlink(folder.Path("probe-target"), folder.Path("probe-link"), ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
    fs::remove(folder.Path("probe-link"));
  }
  const std::string key = "encrypted key bytes";
  const fs::path keyFile = folder.Path("req.dat");
  const fs::path outside = folder.Path("elsewhere/target");
  fs::create_directories(outside.parent_path());
  enum class Link { kSymbolicToKey, kHardToKey, kDangling, kFolderLink };
  for (Link kind : {Link::kSymbolicToKey, Link::kHardToKey, Link::kDangling, Link::kFolderLink}) {
    SCOPED_TRACE(static_cast<int>(kind));
    WriteFile(keyFile, key);
    fs::remove(LogPath());
    switch (kind) {
      case Link::kSymbolicToKey: fs::create_symlink(keyFile, LogPath()); break;
      case Link::kHardToKey: fs::create_hard_link(keyFile, LogPath()); break;
      case Link::kDangling: fs::create_symlink(outside, LogPath()); break;
      case Link::kFolderLink: fs::create_directory_symlink(outside.parent_path(), LogPath()); break;
    }
    EXPECT_FALSE(Open());
    Write("lost");
    EXPECT_EQ(RasLog_Get()->file, nullptr);
    EXPECT_EQ(ReadFile(keyFile), key);
    EXPECT_FALSE(fs::exists(outside));
  }
  // A file of its own opens as before.
  fs::remove(LogPath());
  ASSERT_TRUE(Open());
  Write("kept");
  EXPECT_EQ(Current(), kPrefix + "[info] kept\n");
}

// The same holds for the file the rotation opens afresh.
TEST_F(RasLogTest, RotationDoesNotReopenThroughALink) {
  // Wine, and Windows without the privilege, make no symbolic links.
  {
    std::error_code ec;
    fs::create_symlink(folder.Path("probe-target"), folder.Path("probe-link"), ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
    fs::remove(folder.Path("probe-link"));
  }
  class LinkingStreams : public FailingStreams {
   public:
    int Rename(const char* from, const char* to) override {
      int result = FailingStreams::Rename(from, to);
      if (result == 0 && from == log) fs::create_symlink(key, log);
      return result;
    }
    std::string log, key;
  } streams;
  streams.log = LogPath();
  streams.key = folder.Path("req.dat").string();
  WriteFile(streams.key, "key");
  platform::ScopedPort<platform::ByteStreams> use(streams);
  ASSERT_TRUE(Open());
  Write("kept");
  SetTime(kToday + kDay);
  Write("lost");
  EXPECT_EQ(RasLog_Get()->file, nullptr);
  EXPECT_EQ(ReadFile(streams.key), "key");
  EXPECT_EQ(ReadFile(Generation(1)), kPrefix + "[info] kept\n");
}

TEST_F(RasLogTest, FileOfAnEarlierDayIsRotatedByTheFirstWrite) {
  WriteFile(LogPath(), "old line\n");
  SetModified(LogPath(), kToday - kDay);
  ASSERT_TRUE(Open());
  EXPECT_EQ(RasLog_Get()->size, 9u);
  Write("new line");
  EXPECT_EQ(ReadFile(Generation(1)), "old line\n");
  EXPECT_EQ(Current(), kPrefix + "[info] new line\n");
  EXPECT_FALSE(fs::exists(LogPath() + ".0"));
}

TEST_F(RasLogTest, TheUtcDayDecidesNotTheLocalDate) {
  SetTime(1715990399);  // 2024-05-17 23:59:59 UTC
  ASSERT_TRUE(Open());
  Write("last of the day");
  SetTime(1715990401);  // 2024-05-18 00:00:01 UTC; the local prefix stays the same
  Write("first of the next");
  EXPECT_EQ(ReadFile(Generation(1)), kPrefix + "[info] last of the day\n");
  EXPECT_EQ(Current(), kPrefix + "[info] first of the next\n");
}

TEST_F(RasLogTest, SizeRotationUsesTheSizeBeforeTheLine) {
  WriteFile(LogPath(), std::string(1048576, 's'));
  SetModified(LogPath(), kToday);
  ASSERT_TRUE(Open());
  Write("exactly at the limit");  // not rotated: the file is not larger yet
  EXPECT_FALSE(fs::exists(Generation(1)));
  std::string line = kPrefix + "[info] exactly at the limit\n";
  EXPECT_EQ(fs::file_size(LogPath()), 1048576u + line.size());
  Write("after the limit");
  EXPECT_EQ(fs::file_size(Generation(1)), 1048576u + line.size());
  EXPECT_EQ(Current(), kPrefix + "[info] after the limit\n");
  EXPECT_EQ(RasLog_Get()->size, Current().size());
}

TEST_F(RasLogTest, SevenGenerationsAreKept) {
  for (int k = 1; k <= 6; ++k) WriteFile(Generation(k), "generation " + std::to_string(k));
  WriteFile(LogPath(), "current");
  SetModified(LogPath(), kToday - 3 * kDay);
  ASSERT_TRUE(Open());
  Write("fresh");
  EXPECT_EQ(ReadFile(Generation(1)), "current");
  for (int k = 2; k <= 6; ++k) EXPECT_EQ(ReadFile(Generation(k)), "generation " + std::to_string(k - 1));
  EXPECT_FALSE(fs::exists(Generation(7)));
  EXPECT_FALSE(fs::exists(LogPath() + ".0"));
  EXPECT_EQ(Current(), kPrefix + "[info] fresh\n");
}

TEST_F(RasLogTest, OldestGenerationThatCannotBeRemovedClosesTheLog) {
  fs::create_directories(Generation(6) + "/held");  // the runtime's remove() deletes files only
  WriteFile(LogPath(), "current");
  SetModified(LogPath(), kToday - kDay);
  ASSERT_TRUE(Open());
  Write("lost");
  SetTime(kToday + kDay);
  Write("also lost");
  EXPECT_EQ(Current(), "current");
  EXPECT_FALSE(fs::exists(Generation(1)));
  EXPECT_EQ(RasLog_Get()->file, nullptr);
}

TEST_F(RasLogTest, FailedRenameOrReopenClosesTheLog) {
  FailingStreams streams;
  platform::ScopedPort<platform::ByteStreams> use(streams);
  ASSERT_TRUE(Open());
  Write("kept");
  streams.failRename = true;
  SetTime(kToday + kDay);
  Write("lost");
  streams.failRename = false;
  Write("lost too");
  EXPECT_EQ(Current(), kPrefix + "[info] kept\n");

  ASSERT_TRUE(Open());
  streams.failOpenAfter = streams.opens;  // the reopen after the rotation fails
  SetTime(kToday + 2 * kDay);
  Write("lost");
  EXPECT_EQ(RasLog_Get()->file, nullptr);
  EXPECT_EQ(ReadFile(Generation(1)), kPrefix + "[info] kept\n");
  EXPECT_FALSE(fs::exists(LogPath()));
}

TEST_F(RasLogTest, LinesOfSeveralThreadsDoNotInterleave) {
  ASSERT_TRUE(Open());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      std::string message = "thread " + std::to_string(t) + " " + std::string(100, static_cast<char>('a' + t));
      for (int i = 0; i < 200; ++i) RasLog_Write(RasLog_Get(), "[info]", message.c_str());
    });
  for (std::thread& t : threads) t.join();
  std::string all = Current();
  size_t lines = 0;
  for (size_t pos = 0; pos < all.size(); ++lines) {
    size_t end = all.find('\n', pos);
    ASSERT_NE(end, std::string::npos);
    std::string line = all.substr(pos, end - pos);
    ASSERT_EQ(line.size(), kPrefix.size() + 7 + 9 + 100) << line;
    char c = line.back();
    EXPECT_EQ(line.substr(line.size() - 100), std::string(100, c));
    pos = end + 1;
  }
  EXPECT_EQ(lines, 800u);
}

TEST_F(RasLogTest, UnconvertibleMessageKeepsItsOwnBytes) {
  ASSERT_TRUE(Open());
  RasUtil_FailAllocationsAfter(0);
  Write("no memory for caf\xE9");
  RasUtil_FailAllocationsAfter(-1);
  EXPECT_EQ(Current(), kPrefix + "[info] no memory for caf\xE9\n");
}

}  // namespace
