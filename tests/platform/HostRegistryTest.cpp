#include "platform/host/adapters/HostRegistry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/Port.h"
#include "platform/Runtime.h"
#include "support/TempMachine.h"

using platform::RegKey;

namespace {

const char kHklm[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-100-1001]\r\n"
    "\"ProfileImagePath\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,44,00,72,00,69,00,76,00,65,00,25,00,5c,"
    "00,55,00,73,00,65,00,72,00,73,00,5c,00,61,00,6c,00,69,00,63,00,65,00,00,00\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-100-1002]\r\n"
    "\"ProfileImagePath\"=\"C:\\\\Users\\\\bob\"\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velk]\r\n"
    "\"Name\"=\"velk\"\r\n"
    "\"Size\"=dword:00000010\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velk\\b]\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velk\\A]\r\n";

class HostRegistryTest : public ::testing::Test {
 protected:
  HostRegistryTest()
      : machine("[machine]\nuser=S-1-5-21-100-1001\nlogged_on=S-1-5-21-100-1002\n"),
        reg(platform::Registry::Default()) {
    machine.Write("registry/HKLM.reg", kHklm);
    machine.Write(
        "drive_c/Users/alice/NTUSER.DAT",
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Alice]\r\n\"v\"=\"1\"\r\n");
    machine.Write("drive_c/Users/bob/NTUSER.DAT",
                  "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Bob]\r\n");
  }
  std::wstring ReadString(HKEY key, const wchar_t* name) {
    wchar_t buf[256];
    DWORD size = sizeof buf, type = 0;
    if (reg.QueryValue(key, name, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS) return L"<none>";
    return std::wstring(buf, size / sizeof(wchar_t)).c_str();
  }
  velk_test::TempMachine machine;
  platform::Registry& reg;
};

TEST_F(HostRegistryTest, OpenQueryAndSizeRules) {
  RegKey key;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"software\\VELK", KEY_READ, key.Put()), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(reg.QueryValue(key.Get(), L"Name", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 5 * sizeof(wchar_t));
  wchar_t small[4];
  size = sizeof small;
  EXPECT_EQ(reg.QueryValue(key.Get(), L"Name", nullptr, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5 * sizeof(wchar_t));
  DWORD number = 0;
  size = sizeof number;
  EXPECT_EQ(reg.QueryValue(key.Get(), L"Size", &type, reinterpret_cast<BYTE*>(&number), &size), ERROR_SUCCESS);
  EXPECT_EQ(number, 16u);
  EXPECT_EQ(reg.QueryValue(key.Get(), L"Missing", &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegKey none;
  EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Nope", KEY_READ, none.Put()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"\\SOFTWARE", KEY_READ, none.Put()), ERROR_BAD_PATHNAME);
}

TEST_F(HostRegistryTest, EnumerationIsSortedWithoutCase) {
  RegKey key;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velk", KEY_READ, key.Put()), ERROR_SUCCESS);
  wchar_t name[8];
  DWORD chars = 8;
  ASSERT_EQ(reg.EnumKey(key.Get(), 0, name, &chars), ERROR_SUCCESS);
  EXPECT_STREQ(name, L"A");
  chars = 8;
  ASSERT_EQ(reg.EnumKey(key.Get(), 1, name, &chars), ERROR_SUCCESS);
  EXPECT_STREQ(name, L"b");
  chars = 8;
  EXPECT_EQ(reg.EnumKey(key.Get(), 2, name, &chars), ERROR_NO_MORE_ITEMS);
  chars = 1;
  EXPECT_EQ(reg.EnumKey(key.Get(), 0, name, &chars), ERROR_MORE_DATA);
  DWORD subkeys = 0, values = 0;
  EXPECT_EQ(reg.QueryInfoKey(key.Get(), &subkeys, nullptr, &values), ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(values, 2u);
}

TEST_F(HostRegistryTest, AccessRightsAreEnforced) {
  RegKey key;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velk", KEY_QUERY_VALUE, key.Put()), ERROR_SUCCESS);
  DWORD v = 1;
  EXPECT_EQ(reg.SetValue(key.Get(), L"x", REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_ACCESS_DENIED);
  wchar_t name[8];
  DWORD chars = 8;
  EXPECT_EQ(reg.EnumKey(key.Get(), 0, name, &chars), ERROR_ACCESS_DENIED);
}

TEST_F(HostRegistryTest, ChangesAreWrittenBackAndOtherKeysKept) {
  {
    RegKey key;
    DWORD disposition = 0;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\New\\Deep", KEY_ALL_ACCESS, key.Put(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    DWORD v = 7;
    ASSERT_EQ(reg.SetValue(key.Get(), L"Seven", REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  }
  std::string file = machine.Read("registry/HKLM.reg");
  EXPECT_THAT(file, testing::HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\New\\Deep]\r\n\"Seven\"=dword:00000007\r\n"));
  EXPECT_THAT(file, testing::HasSubstr("\"Name\"=\"velk\""));
  velk_test::TempMachine::Reload();
  RegKey again;
  EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\NEW\\deep", KEY_READ, again.Put()), ERROR_SUCCESS);
}

TEST_F(HostRegistryTest, DeleteKeyOnlyWithoutSubkeys) {
  EXPECT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velk", KEY_WOW64_64KEY), ERROR_ACCESS_DENIED);
  RegKey open;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velk\\A", KEY_READ, open.Put()), ERROR_SUCCESS);
  EXPECT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velk\\A", KEY_WOW64_64KEY), ERROR_SUCCESS);
  EXPECT_EQ(reg.DeleteKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velk\\A", KEY_WOW64_64KEY), ERROR_FILE_NOT_FOUND);
  DWORD size = 0;
  EXPECT_EQ(reg.QueryValue(open.Get(), L"x", nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_THAT(machine.Read("registry/HKLM.reg"), testing::Not(testing::HasSubstr("Velk\\A]")));
}

TEST_F(HostRegistryTest, CurrentUserAndUsers) {
  RegKey hkcu;
  ASSERT_EQ(reg.OpenKey(HKEY_CURRENT_USER, L"Software\\Alice", KEY_READ, hkcu.Put()), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(hkcu.Get(), L"v"), L"1");
  RegKey viaUsers;
  EXPECT_EQ(reg.OpenKey(HKEY_USERS, L"S-1-5-21-100-1001\\Software\\Alice", KEY_READ, viaUsers.Put()), ERROR_SUCCESS);
  RegKey bob;
  EXPECT_EQ(reg.OpenKey(HKEY_USERS, L"S-1-5-21-100-1002\\Software\\Bob", KEY_READ, bob.Put()), ERROR_SUCCESS);
  RegKey users;
  ASSERT_EQ(reg.OpenKey(HKEY_USERS, nullptr, KEY_READ, users.Put()), ERROR_SUCCESS);
  DWORD subkeys = 0;
  EXPECT_EQ(reg.QueryInfoKey(users.Get(), &subkeys, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 2u);
  RegKey nobody;
  EXPECT_EQ(reg.OpenKey(HKEY_USERS, L"S-1-5-21-100-1003", KEY_READ, nobody.Put()), ERROR_FILE_NOT_FOUND);
  {
    RegKey w;
    ASSERT_EQ(reg.CreateKey(HKEY_CURRENT_USER, L"Software\\Written", KEY_ALL_ACCESS, w.Put(), nullptr), ERROR_SUCCESS);
  }
  EXPECT_THAT(machine.Read("drive_c/Users/alice/NTUSER.DAT"),
              testing::HasSubstr("[HKEY_CURRENT_USER\\Software\\Written]"));
}

TEST_F(HostRegistryTest, MountAndUnmount) {
  auto& host = static_cast<platform::host::HostRegistry&>(reg);
  machine.Write("carol.dat", "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Carol]\r\n");
  EXPECT_FALSE(host.IsUserHiveMounted(L"S-1-5-21-100-1003"));
  EXPECT_EQ(host.UnmountUserHive(L"S-1-5-21-100-1003"), ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(host.MountUserHive(L"S-1-5-21-100-1003", machine.Root() / "carol.dat"), ERROR_SUCCESS);
  EXPECT_EQ(host.MountUserHive(L"S-1-5-21-100-1003", machine.Root() / "carol.dat"), ERROR_ALREADY_EXISTS);
  {
    RegKey k;
    ASSERT_EQ(reg.OpenKey(HKEY_USERS, L"S-1-5-21-100-1003\\Software\\Carol", KEY_READ, k.Put()), ERROR_SUCCESS);
    EXPECT_EQ(host.UnmountUserHive(L"S-1-5-21-100-1003"), ERROR_ACCESS_DENIED);
  }
  EXPECT_EQ(host.UnmountUserHive(L"S-1-5-21-100-1003"), ERROR_SUCCESS);
  EXPECT_FALSE(host.IsUserHiveMounted(L"S-1-5-21-100-1003"));
}

TEST_F(HostRegistryTest, ABrokenFileIsNeverOverwritten) {
  const std::string broken =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"x\"=dword:zz\r\n";
  machine.Write("registry/HKLM.reg", broken);
  velk_test::TempMachine::Reload();
  testing::internal::CaptureStderr();
  RegKey key;
  EXPECT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"B", KEY_ALL_ACCESS, key.Put(), nullptr), ERROR_BADDB);
  EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("HKLM.reg:4: bad hex digit in dword"));
  EXPECT_EQ(machine.Read("registry/HKLM.reg"), broken);
}

TEST_F(HostRegistryTest, NoRegistryFileIsAnEmptyRegistry) {
  std::filesystem::remove(machine.Root() / "registry/HKLM.reg");
  velk_test::TempMachine::Reload();
  RegKey key;
  EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE", KEY_READ, key.Put()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, nullptr, KEY_READ, key.Put()), ERROR_SUCCESS);
}

TEST_F(HostRegistryTest, ProcessesSeeEachOthersChanges) {
  RegKey key;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velk", KEY_ALL_ACCESS, key.Put()), ERROR_SUCCESS);
  // Children write one value each at the same time; none may be lost.
  std::vector<pid_t> children;
  for (int i = 0; i < 4; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      std::wstring name = L"child" + std::to_wstring(i);
      DWORD v = static_cast<DWORD>(i);
      for (int round = 0; round < 10; ++round)
        reg.SetValue(key.Get(), (name + L"_" + std::to_wstring(round)).c_str(), REG_DWORD, reinterpret_cast<BYTE*>(&v),
                     4);
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t p : children) waitpid(p, nullptr, 0);
  DWORD values = 0;
  ASSERT_EQ(reg.QueryInfoKey(key.Get(), nullptr, nullptr, &values), ERROR_SUCCESS);
  EXPECT_EQ(values, 2u + 40u);
}

TEST_F(HostRegistryTest, WindowsLimitsOnDepthAndValueNames) {
  auto chain = [](size_t levels) {
    std::wstring path = L"SOFTWARE";
    for (size_t i = 1; i < levels; ++i) path += L"\\k";
    return path;
  };
  const std::string before = machine.Read("registry/HKLM.reg");
  RegKey key;
  EXPECT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, chain(600).c_str(), KEY_ALL_ACCESS, key.Put(), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, chain(513).c_str(), KEY_ALL_ACCESS, key.Put(), nullptr),
            ERROR_INVALID_PARAMETER);
  // Names are counted in UTF-16 units, as Windows counts them.
  EXPECT_EQ(
      reg.CreateKey(HKEY_LOCAL_MACHINE, std::wstring(128, L'\U0001F600').c_str(), KEY_ALL_ACCESS, key.Put(), nullptr),
      ERROR_INVALID_PARAMETER);
  EXPECT_EQ(machine.Read("registry/HKLM.reg"), before);
  ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, chain(512).c_str(), KEY_ALL_ACCESS, key.Put(), nullptr), ERROR_SUCCESS);
  RegKey deeper;  // one more level below a handle counts from the hive's root too
  EXPECT_EQ(reg.CreateKey(key.Get(), L"k", KEY_ALL_ACCESS, deeper.Put(), nullptr), ERROR_INVALID_PARAMETER);
  DWORD v = 1;
  EXPECT_EQ(reg.SetValue(key.Get(), std::wstring(16384, L'v').c_str(), REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(reg.SetValue(key.Get(), std::wstring(16383, L'v').c_str(), REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
            ERROR_SUCCESS);
  velk_test::TempMachine::Reload();
  RegKey again;
  EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, chain(512).c_str(), KEY_READ, again.Put()), ERROR_SUCCESS);
}

// A hive keeps the encoding and header it was read in; REGEDIT4 follows acp.
TEST_F(HostRegistryTest, WrittenBackInTheFormItWasRead) {
  struct Case {
    std::string machineIni;
    std::string file;
    std::string written;  // expected start of the file after the change
  } cases[] = {
      {"[machine]\nacp=1252\n",
       std::string("\xff\xfe"
                   "W\0i\0n\0d\0o\0w\0s\0 \0R\0e\0g\0i\0s\0t\0r\0y\0 \0E\0d\0i\0t\0o\0r\0 \0V\0e\0r\0s\0i\0o\0n\0 "
                   "\0"
                   "5\0.\0"
                   "0\0"
                   "0\0\r\0\n\0",
                   76),
       std::string("\xff\xfe"
                   "W\0",
                   4)},
      {"[machine]\nacp=1252\n", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n", "REGEDIT4\r\n\r\n"},
      {"[machine]\nacp=1252\n", "\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n",
       "\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n"},
  };
  for (const auto& c : cases) {
    machine.Write("machine.ini", c.machineIni);
    machine.Write("registry/HKLM.reg", c.file);
    velk_test::TempMachine::Reload();
    RegKey key;
    ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"Caf\u00e9", KEY_ALL_ACCESS, key.Put(), nullptr), ERROR_SUCCESS);
    std::string file = machine.Read("registry/HKLM.reg");
    EXPECT_EQ(file.substr(0, c.written.size()), c.written);
    if (c.written[0] == 'R') {
      EXPECT_THAT(file, testing::HasSubstr("[HKEY_LOCAL_MACHINE\\Caf\xe9]\r\n"));
    } else if (c.written[0] == '\xff') {
      EXPECT_THAT(file, testing::HasSubstr(std::string("C\0a\0f\0\xe9\0]\0", 10)));
    }
  }
}

// Links planted at a hive's side-file names lead nowhere: at the old
// temporary name the change lands in the hive, nothing is written through
// the link and no temporary stays behind; at the hive's own name the hive is
// neither read through the link nor written.
TEST_F(HostRegistryTest, PlantedLinksWriteNothingOutside) {
  const std::string pid = std::to_string(::getpid());
  struct Case {
    std::string hive;
    HKEY root;
    std::string linkSuffix;
    LSTATUS result;
  } cases[] = {
      {"registry/HKLM.reg", HKEY_LOCAL_MACHINE, ".tmp" + pid, ERROR_SUCCESS},
      {"drive_c/Users/alice/NTUSER.DAT", HKEY_CURRENT_USER, ".tmp" + pid, ERROR_SUCCESS},
      {"drive_c/Users/alice/NTUSER.DAT", HKEY_CURRENT_USER, "", ERROR_BADDB},
  };
  char outside[] = "/tmp/velk-outside-XXXXXX";
  ASSERT_NE(::mkdtemp(outside), nullptr);
  const std::string secret = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\S]\r\n\"v\"=secret\r\n";
  for (const auto& c : cases) {
    std::filesystem::path hive = machine.Root() / c.hive;
    std::filesystem::path target = std::filesystem::path(outside) / "victim";
    std::filesystem::remove(target);
    if (c.linkSuffix.empty()) {
      std::ofstream(target, std::ios::binary) << secret;
      std::filesystem::remove(hive);
    }
    std::filesystem::create_symlink(target, hive.string() + c.linkSuffix);
    velk_test::TempMachine::Reload();
    testing::internal::CaptureStderr();
    RegKey key;
    EXPECT_EQ(reg.CreateKey(c.root, L"Software\\Planted", KEY_ALL_ACCESS, key.Put(), nullptr), c.result) << c.hive;
    std::string stderrText = testing::internal::GetCapturedStderr();
    size_t temporaries = 0;
    for (const auto& e : std::filesystem::directory_iterator(hive.parent_path()))
      if (e.path().filename().string().find(".tmp") != std::string::npos && !e.is_symlink()) ++temporaries;
    EXPECT_EQ(temporaries, 0u) << c.hive;
    if (c.linkSuffix.empty()) {
      EXPECT_EQ(stderrText, "velk: registry: " + hive.string() + ": is a symbolic link, which is not followed\n");
      EXPECT_TRUE(std::filesystem::is_symlink(hive));
      std::ifstream in(target, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), secret);
    } else {
      EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(target))) << c.hive;
      EXPECT_THAT(machine.Read(c.hive), testing::HasSubstr("\\Planted]\r\n"));
    }
  }
  std::filesystem::remove_all(outside);
}

}  // namespace

namespace {

// Within an action every hive is written once, when the action ends: a
// value of megabytes is not rewritten for every change. Until then another
// process sees the hive as it was, and cannot write it (its lock is held).
TEST_F(HostRegistryTest, AnActionWritesEachChangedHiveOnceWhenItEnds) {
  namespace fs = std::filesystem;
  const fs::path file = machine.Root() / "registry/HKLM.reg";
  const std::string before = machine.Read("registry/HKLM.reg");
  {
    platform::ActionScope action;
    {
      platform::ActionScope nested;  // the outermost scope decides
      RegKey key;
      ASSERT_EQ(reg.CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Batch", KEY_ALL_ACCESS, key.Put(), nullptr),
                ERROR_SUCCESS);
      for (DWORD v = 0; v < 20; ++v) {
        std::wstring name = L"V" + std::to_wstring(v);
        ASSERT_EQ(reg.SetValue(key.Get(), name.c_str(), REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
      }
      ASSERT_EQ(reg.DeleteValue(key.Get(), L"V0"), ERROR_SUCCESS);
      EXPECT_EQ(ReadString(key.Get(), L"V0"), L"<none>");  // the action sees its own changes
    }
    EXPECT_EQ(machine.Read("registry/HKLM.reg"), before);
    // Another process waits for the lock: it would otherwise lose the changes.
    pid_t child = ::fork();
    if (child == 0) {
      int fd = ::open((file.string() + ".lock").c_str(), O_RDWR);
      _exit(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the hive's lock is not held";
  }
  std::string after = machine.Read("registry/HKLM.reg");
  EXPECT_THAT(after, testing::HasSubstr("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Batch]\r\n\"V1\"=dword:00000001\r\n"));
  EXPECT_THAT(after, testing::HasSubstr("\"V19\"=dword:00000013\r\n"));
  EXPECT_THAT(after, testing::Not(testing::HasSubstr("\"V0\"")));
  // Outside an action a change is written at once, as before.
  RegKey key;
  ASSERT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Batch", KEY_ALL_ACCESS, key.Put()), ERROR_SUCCESS);
  DWORD v = 99;
  ASSERT_EQ(reg.SetValue(key.Get(), L"Now", REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  EXPECT_THAT(machine.Read("registry/HKLM.reg"), testing::HasSubstr("\"Now\"=dword:00000063\r\n"));
}

// A user hive unloaded within the action is written when it goes.
TEST_F(HostRegistryTest, AHiveUnloadedWithinAnActionIsWrittenFirst) {
  platform::ActionScope action;
  const std::wstring sid = L"S-1-5-21-100-1003";
  machine.Write("drive_c/Users/carol/NTUSER.DAT",
                "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Carol]\r\n");
  ASSERT_EQ(reg.LoadHive(HKEY_USERS, sid.c_str(), L"C:\\Users\\carol\\NTUSER.DAT"), ERROR_SUCCESS);
  {
    RegKey key;
    ASSERT_EQ(reg.OpenKey(HKEY_USERS, (sid + L"\\Software\\Carol").c_str(), KEY_ALL_ACCESS, key.Put()), ERROR_SUCCESS);
    DWORD v = 5;
    ASSERT_EQ(reg.SetValue(key.Get(), L"Five", REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_SUCCESS);
  }
  ASSERT_EQ(reg.UnloadHive(HKEY_USERS, sid.c_str()), ERROR_SUCCESS);
  EXPECT_THAT(machine.Read("drive_c/Users/carol/NTUSER.DAT"), testing::HasSubstr("\"Five\"=dword:00000005"));
}

}  // namespace

namespace {

// A link key as Windows stores it: SymbolicLinkValue, REG_LINK, the target
// path in UTF-16 without terminator (as .reg text holds it).
std::string RegLink(const std::string& target) {
  std::string out = "\"SymbolicLinkValue\"=hex(6):";
  char b[8];
  for (char c : target) {
    std::snprintf(b, sizeof b, "%02x,00,", static_cast<unsigned char>(c));
    out += b;
  }
  out.pop_back();
  return out + "\r\n";
}

TEST_F(HostRegistryTest, RegistryLinksAreFollowedUnlessOpenedAsLinks) {
  machine.Write("drive_c/Users/bob/NTUSER.DAT",
                "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Bob]\r\n"
                "[HKEY_CURRENT_USER\\Software\\Bob\\Link]\r\n" +
                    RegLink("\\REGISTRY\\MACHINE\\SOFTWARE\\VELK"));
  velk_test::TempMachine::Reload();
  // Through the link, and on through it to keys below the target.
  RegKey through;
  ASSERT_EQ(reg.OpenKey(HKEY_USERS, L"S-1-5-21-100-1002\\Software\\Bob\\Link", KEY_READ, through.Put()), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(through.Get(), L"Name"), L"velk");
  // The link itself: its own value, no target's.
  RegKey link;
  ASSERT_EQ(reg.OpenLinkKey(HKEY_USERS, L"S-1-5-21-100-1002\\Software\\Bob\\Link", KEY_READ | DELETE, link.Put()),
            ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(reg.QueryValue(link.Get(), L"SymbolicLinkValue", &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_LINK));
  EXPECT_EQ(ReadString(link.Get(), L"Name"), L"<none>");
  // Deleting through the handle takes the link, never the target.
  EXPECT_EQ(reg.DeleteOpenKey(link.Get()), ERROR_SUCCESS);
  link.Reset();
  through.Reset();
  RegKey target;
  EXPECT_EQ(reg.OpenKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\VELK", KEY_READ, target.Put()), ERROR_SUCCESS);
  RegKey gone;
  EXPECT_EQ(reg.OpenLinkKey(HKEY_USERS, L"S-1-5-21-100-1002\\Software\\Bob\\Link", KEY_READ, gone.Put()),
            ERROR_FILE_NOT_FOUND);
}

}  // namespace
