// A hive reaches the disk before its new name does: the temporary file is
// synced before the rename and the folder after it. fsync and renameat are
// watched by defining them here, in the test program, ahead of the C
// library the platform library would otherwise reach.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "support/TempMachine.h"

namespace {

std::mutex g_callsLock;
std::vector<std::string>* g_calls = nullptr;  // set while a test watches

std::string FdPath(int fd) {
  char link[64], target[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = ::readlink(link, target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
}

void Record(const std::string& call) {
  std::lock_guard<std::mutex> g(g_callsLock);
  if (g_calls) g_calls->push_back(call);
}

std::string Leaf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

}  // namespace

extern "C" int fsync(int fd) {
  using Fn = int (*)(int);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "fsync"));
  std::string leaf = Leaf(FdPath(fd));
  // Temporary names carry random letters: only their start is compared.
  Record("fsync " + (leaf.find(".tmp") != std::string::npos ? leaf.substr(0, leaf.find(".tmp") + 4) : leaf));
  return real(fd);
}

extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to) {
  using Fn = int (*)(int, const char*, int, const char*);
  static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "renameat"));
  std::string name(from);
  Record("rename " + name.substr(0, name.find(".tmp") + 4) + " -> " + to);
  return real(fromDir, from, toDir, to);
}

namespace {

TEST(HiveSync, TheFileIsSyncedBeforeTheRenameAndTheFolderAfter) {
  velk_test::TempMachine machine;
  machine.Write("registry/HKLM.reg", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n");
  velk_test::TempMachine::Reload();
  platform::Registry& reg = platform::Registry::Default();
  platform::RegKey key;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_ALL_ACCESS, key.Put()), ERROR_SUCCESS);
  std::vector<std::string> calls;
  {
    std::lock_guard<std::mutex> g(g_callsLock);
    g_calls = &calls;
  }
  DWORD v = 1;
  EXPECT_EQ(reg.SetValue(key.Get(), L"One", REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  {
    std::lock_guard<std::mutex> g(g_callsLock);
    g_calls = nullptr;
  }
  EXPECT_THAT(calls, testing::ElementsAre("fsync HKLM.reg.tmp", "rename HKLM.reg.tmp -> HKLM.reg", "fsync registry"));
}

}  // namespace
