#include <fcntl.h>
#include <signal.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <utility>

#include "platform/host/posix/ReadWrite.h"
#include "platform/host/posix/UniqueFd.h"

namespace {

using platform::host::ReadAll;
using platform::host::UniqueFd;
using platform::host::WriteAll;

// A write to a pipe nobody reads fails with EPIPE instead of ending the
// test program, so that a reader that stops early fails a test, not hangs it.
struct IgnoreBrokenPipe {
  IgnoreBrokenPipe() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
  }
  ~IgnoreBrokenPipe() { ::sigaction(SIGPIPE, &old, nullptr); }
  struct sigaction old {};
};

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

struct Pipe {
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    read.Reset(fds[0]);
    write.Reset(fds[1]);
  }
  UniqueFd read, write;
};

std::string Bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

// Sizes around the reader's 64 KiB chunk; the writer feeds 1000 bytes at a
// time, so reads come back short.
TEST(PosixReadAll, ReadsToTheEndThroughShortReads) {
  IgnoreBrokenPipe ignore;
  for (size_t size : {0u, 1u, 65535u, 65536u, 65537u, 200000u}) {
    SCOPED_TRACE(size);
    Pipe pipe;
    const std::string sent = Bytes(size);
    std::thread writer([&] {
      for (size_t at = 0; at < sent.size(); at += 1000) ASSERT_TRUE(WriteAll(pipe.write.Get(), sent.substr(at, 1000)));
      pipe.write.Reset();
    });
    std::string got = "kept:";
    EXPECT_TRUE(ReadAll(pipe.read.Get(), &got));
    pipe.read.Reset();
    writer.join();
    EXPECT_EQ(got, "kept:" + sent);
  }
}

TEST(PosixReadAll, StopsAtTheEndOrAtAFailure) {
  Pipe pipe;
  ASSERT_TRUE(WriteAll(pipe.write.Get(), std::string("abc")));
  pipe.write.Reset();
  char buffer[8];
  int error = -1;
  EXPECT_EQ(ReadAll(pipe.read.Get(), buffer, sizeof buffer, &error), 3u);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(std::string(buffer, 3), "abc");

  Pipe other;
  EXPECT_EQ(ReadAll(other.write.Get(), buffer, sizeof buffer, &error), 0u);
  EXPECT_EQ(error, EBADF);
  std::string out;
  errno = 0;
  EXPECT_FALSE(ReadAll(other.write.Get(), &out));
  EXPECT_EQ(errno, EBADF);
}

// More than a pipe holds, so the writer waits on the reader.
TEST(PosixWriteAll, WritesEverythingOrSaysHowMuch) {
  IgnoreBrokenPipe ignore;
  Pipe pipe;
  const std::string sent = Bytes(300000);
  std::string got;
  std::thread reader([&] {
    ReadAll(pipe.read.Get(), &got);
    pipe.read.Reset();
  });
  EXPECT_EQ(WriteAll(pipe.write.Get(), sent.data(), sent.size()), sent.size());
  pipe.write.Reset();
  reader.join();
  EXPECT_EQ(got, sent);

  Pipe other;
  errno = 0;
  EXPECT_EQ(WriteAll(other.read.Get(), sent.data(), sent.size()), 0u);
  EXPECT_EQ(errno, EBADF);
}

TEST(PosixUniqueFd, OwnsOneDescriptorThroughMovesAndCloses) {
  int raw;
  {
    Pipe pipe;
    raw = pipe.read.Get();
    UniqueFd moved(std::move(pipe.read));
    EXPECT_FALSE(pipe.read.Valid());
    EXPECT_EQ(moved.Get(), raw);
    UniqueFd target;
    target = std::move(moved);
    EXPECT_EQ(target.Get(), raw);
    EXPECT_TRUE(IsOpen(raw));
    EXPECT_EQ(pipe.write.Close(), 0);
    EXPECT_FALSE(pipe.write.Valid());
    EXPECT_EQ(pipe.write.Close(), 0);  // nothing held: nothing closed
  }
  EXPECT_FALSE(IsOpen(raw));
  int released;
  {
    Pipe pipe;
    released = pipe.read.Release();
  }
  EXPECT_TRUE(IsOpen(released));
  UniqueFd again(released);
}

}  // namespace
