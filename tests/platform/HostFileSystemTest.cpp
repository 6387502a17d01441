#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cwchar>
#include <filesystem>
#include <functional>

#include "platform/ByteStreams.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/host/machine/FileNames.h"
#include "support/TempMachine.h"

namespace fs = std::filesystem;
using platform::FindData;
using platform::FindHandle;
using platform::GetLastErrorCode;
using platform::host::MatchFileName;
using testing::ElementsAre;

namespace {

TEST(MatchFileNameTest, WindowsWildcardRules) {
  static const std::wstring kLongName(300, L'x');
  struct Case {
    const wchar_t* pattern;
    const wchar_t* name;
    bool match;
  } cases[] = {
      {L"*.*", L"readme", true},
      {L"*.*", L".", true},
      {L"*.*", L"..", true},
      {L"*", L"a.b.c", true},
      {L"_installed_??", L"_installed_01", true},
      {L"_installed_??", L"_INSTALLED_xy", true},
      {L"_installed_??", L"_installed_1", true},  // '?' at the end may match nothing
      {L"_installed_??", L"_installed_123", false},
      {L"_installed_??", L"readme.txt", false},
      {L"*.txt", L"a.b.TXT", true},
      {L"*.txt", L"atxt", false},
      {L"a?.txt", L"a.txt", true},
      {L"a?.txt", L"ab.txt", true},
      {L"a?.txt", L"abc.txt", false},
      {L"*.", L"noext", true},
      {L"*.", L"has.ext", false},
      {L"a.", L"A", true},
      {L"velk", L"VELK", true},
      {L"velk", L"velk2", false},
      {L"a.*", L"a", true},
      {L"*", kLongName.c_str(), false},  // longer than any Windows name
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchFileName(c.pattern, c.name), c.match)
        << testing::PrintToString(std::wstring(c.pattern)) << " " << testing::PrintToString(std::wstring(c.name));
}

TEST(ExpandReferencesTest, UnknownNamesStayAndTheirPercentMayOpenTheNext) {
  auto lookup = [](const std::wstring& name, std::wstring* value) {
    if (name != L"A") return false;
    *value = L"x";
    return true;
  };
  using platform::host::ExpandReferences;
  EXPECT_EQ(ExpandReferences(L"%A%\\%A%", lookup), L"x\\x");
  EXPECT_EQ(ExpandReferences(L"%B%A%", lookup), L"%Bx");
  EXPECT_EQ(ExpandReferences(L"%B%%A%", lookup), L"%B%x");
  EXPECT_EQ(ExpandReferences(L"50%", lookup), L"50%");
  EXPECT_EQ(ExpandReferences(L"%%A%", lookup), L"%x");
}

class HostFileSystemTest : public ::testing::Test {
 protected:
  HostFileSystemTest() : files(platform::FileSystem::Default()) {
    machine.Write(
        "registry/HKLM.reg",
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-100-1001]\r\n"
        "\"ProfileImagePath\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,44,00,72,00,69,00,76,00,65,"
        "00,25,00,5c,00,55,00,73,00,65,00,72,00,73,00,5c,00,61,00,6c,00,69,00,63,00,65,00,00,00\r\n");
    velk_test::TempMachine::Reload();
    fs::create_directories(Host("Data"));
  }
  fs::path Host(const std::string& rel) const { return machine.Root() / "drive_c" / rel; }
  void File(const std::string& rel, const std::string& content = "x") const {
    machine.Write("drive_c/" + rel, content);
  }
  std::string Xattr(const std::string& rel) const {
    char buf[64];
    ssize_t n = ::getxattr(Host(rel).c_str(), "user.DOSATTRIB", buf, sizeof buf);
    return n < 0 ? "<none>" : std::string(buf, static_cast<size_t>(n));
  }
  std::vector<std::wstring> Find(const wchar_t* pattern) {
    std::vector<std::wstring> names;
    FindData d;
    FindHandle h(files.FindFirst(pattern, &d));
    if (!h.Valid()) return {L"<error " + std::to_wstring(GetLastErrorCode()) + L">"};
    do names.push_back(d.name);
    while (files.FindNext(h.Get(), &d));
    EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    return names;
  }

  velk_test::TempMachine machine;
  platform::FileSystem& files;
};

TEST_F(HostFileSystemTest, FindReportsDotsAndSortsWithoutCase) {
  File("Data/b.txt");
  File("Data/A.txt");
  File("Data/_installed_01");
  File("Data/_installed_xy");
  File("Data/readme.txt");
  EXPECT_THAT(Find(L"C:\\data\\*.*"),
              ElementsAre(L".", L"..", L"A.txt", L"b.txt", L"readme.txt", L"_installed_01", L"_installed_xy"));
  EXPECT_THAT(Find(L"C:\\Data\\_installed_??"), ElementsAre(L"_installed_01", L"_installed_xy"));
  EXPECT_THAT(Find(L"C:\\Data\\README.TXT"), ElementsAre(L"readme.txt"));
  EXPECT_THAT(Find(L"C:\\DATA"), ElementsAre(L"Data"));
  EXPECT_THAT(Find(L"C:\\*"), ElementsAre(L"Data"));  // a drive's root has no dots
  EXPECT_THAT(Find(L"C:\\Data\\*.none"), ElementsAre(L"<error 2>"));
  EXPECT_THAT(Find(L"C:\\Missing\\*.*"), ElementsAre(L"<error 3>"));
  EXPECT_THAT(Find(L"C:\\Data\\"), ElementsAre(L"<error 2>"));
  EXPECT_THAT(Find(L"relative\\*"), ElementsAre(L"<error 3>"));
}

TEST_F(HostFileSystemTest, FindGivesAttributesSizeAndSkipsVanishedEntries) {
  File("Data/f", "12345");
  File("Data/g");
  fs::create_directories(Host("Data/sub"));
  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\f", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
  FindData d;
  FindHandle h(files.FindFirst(L"C:\\Data\\*", &d));
  ASSERT_TRUE(h.Valid());
  ASSERT_TRUE(files.FindNext(h.Get(), &d));  // ".."
  ASSERT_TRUE(files.FindNext(h.Get(), &d));
  EXPECT_STREQ(d.name, L"f");
  EXPECT_EQ(d.attributes, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(d.size, 5u);
  EXPECT_GT(d.lastWriteTime, 116444736000000000ull);
  fs::remove(Host("Data/g"));
  ASSERT_TRUE(files.FindNext(h.Get(), &d));
  EXPECT_STREQ(d.name, L"sub");
  EXPECT_EQ(d.attributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_FALSE(files.FindNext(h.Get(), &d));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  HANDLE raw = h.Get();
  h.Reset();
  EXPECT_FALSE(files.FindNext(raw, &d));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(HostFileSystemTest, AttributesLiveInDosAttribAsHexText) {
  File("Data/f");
  EXPECT_EQ(files.GetAttributes(L"C:\\Data\\f"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  ASSERT_TRUE(
      files.SetAttributes(L"C:\\Data\\F", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(Xattr("Data/f"), "0x6");
  EXPECT_EQ(files.GetAttributes(L"C:\\Data\\f"), static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\f", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(Xattr("Data/f"), "<none>");
  ASSERT_EQ(::setxattr(Host("Data/f").c_str(), "user.DOSATTRIB", "0x21", 4, 0), 0);
  EXPECT_EQ(files.GetAttributes(L"C:\\Data\\f"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
  ASSERT_EQ(::setxattr(Host("Data/f").c_str(), "user.DOSATTRIB", "junk", 4, 0), 0);
  EXPECT_EQ(files.GetAttributes(L"C:\\Data\\f"), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(files.GetAttributes(L"C:\\Data"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  EXPECT_EQ(files.GetAttributes(L"C:\\Data\\nothing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(files.GetAttributes(L"C:\\Nope\\nothing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(files.SetAttributes(L"C:\\Data\\nothing", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(files.PathExists(L"C:\\data\\F"));
  EXPECT_FALSE(files.PathExists(L"C:\\data\\G"));
  EXPECT_TRUE(files.IsDirectory(L"C:\\DATA\\"));
  EXPECT_FALSE(files.IsDirectory(L"C:\\Data\\f"));
}

TEST_F(HostFileSystemTest, DeleteAndRemoveRefuseWhatWindowsRefuses) {
  File("Data/ro");
  File("Data/sub/x");
  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\ro", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(files.RemoveFile(L"C:\\Data\\ro"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fs::exists(Host("Data/ro")));
  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\ro", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(files.RemoveFile(L"C:\\Data\\RO"));
  EXPECT_FALSE(fs::exists(Host("Data/ro")));
  EXPECT_FALSE(files.RemoveFile(L"C:\\Data\\ro"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(files.RemoveFile(L"C:\\Data\\sub"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_FALSE(files.RemoveFolder(L"C:\\Data\\sub"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(files.RemoveFolder(L"C:\\Data\\sub\\x"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_DIRECTORY));
  ASSERT_TRUE(files.RemoveFile(L"C:\\Data\\sub\\x"));
  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\sub", FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(files.IsSystemFolder(L"C:\\Data\\sub", 0));
  EXPECT_FALSE(files.RemoveFolder(L"C:\\Data\\sub"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\sub", FILE_ATTRIBUTE_SYSTEM));
  EXPECT_TRUE(files.IsSystemFolder(L"C:\\Data\\sub", 0));
  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\sub", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_FALSE(files.IsSystemFolder(L"C:\\Data\\sub", 0));
  EXPECT_TRUE(files.IsSystemFolder(nullptr, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM));
  EXPECT_FALSE(files.IsSystemFolder(nullptr, FILE_ATTRIBUTE_SYSTEM));
  EXPECT_TRUE(files.RemoveFolder(L"C:\\Data\\Sub\\"));
  EXPECT_FALSE(files.RemoveFolder(L"C:\\Data\\sub"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(HostFileSystemTest, LinksAreEntriesOfTheirOwn) {
  File("Outside/keep.txt");
  File("Outside2/keep.txt");
  fs::create_directory_symlink(Host("Outside"), Host("Data/dirlink"));
  fs::create_symlink(Host("Outside2/keep.txt"), Host("Data/filelink"));
  EXPECT_EQ(files.GetAttributes(L"C:\\Data\\dirlink"),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(files.GetAttributes(L"C:\\Data\\filelink"), static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
  FindData d;
  FindHandle h(files.FindFirst(L"C:\\Data\\dirlink", &d));
  ASSERT_TRUE(h.Valid());
  EXPECT_EQ(d.reparseTag, static_cast<DWORD>(IO_REPARSE_TAG_SYMLINK));
  EXPECT_FALSE(files.RemoveFile(L"C:\\Data\\dirlink"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(files.RemoveFolder(L"C:\\Data\\dirlink"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(Host("Data/dirlink"))));
  EXPECT_TRUE(fs::exists(Host("Outside/keep.txt")));
  EXPECT_FALSE(files.SetAttributes(L"C:\\Data\\filelink", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(files.RemoveFile(L"C:\\Data\\filelink"));
  EXPECT_TRUE(fs::exists(Host("Outside2/keep.txt")));
}

TEST_F(HostFileSystemTest, MakeMoveAndCopy) {
  EXPECT_TRUE(files.MakeFolder(L"C:\\Data\\New"));
  EXPECT_FALSE(files.MakeFolder(L"C:\\data\\new"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(files.MakeFolder(L"C:\\Data\\a\\b"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  File("Data/Old/velk/conn.dat", "def");
  File("Data/Taken/velk/other");
  EXPECT_FALSE(files.MoveEntry(L"C:\\Data\\Old\\velk", L"C:\\Data\\Taken\\VELK"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(fs::exists(Host("Data/Old/velk/conn.dat")));
  EXPECT_TRUE(files.MoveEntry(L"C:\\Data\\Old\\velk", L"C:\\Data\\new\\velk"));
  EXPECT_EQ(machine.Read("drive_c/Data/New/velk/conn.dat"), "def");
  EXPECT_FALSE(files.MoveEntry(L"C:\\Data\\Old\\velk", L"C:\\Data\\x"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(files.MoveEntry(L"C:\\Data\\New\\velk", L"C:\\Data\\none\\velk"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(files.MoveEntry(L"C:\\Data\\New\\velk", L"C:\\Data\\New\\Velk"));  // case only
  EXPECT_TRUE(fs::exists(Host("Data/New/Velk/conn.dat")));

  File("Data/src.bin", "payload");
  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\src.bin", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(files.CopyEntry(L"C:\\Data\\src.bin", L"C:\\Data\\dst.bin", TRUE));
  EXPECT_EQ(machine.Read("drive_c/Data/dst.bin"), "payload");
  EXPECT_EQ(files.GetAttributes(L"C:\\Data\\dst.bin"),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  File("Data/src.bin", "second");
  EXPECT_FALSE(files.CopyEntry(L"C:\\Data\\src.bin", L"C:\\Data\\dst.bin", TRUE));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_TRUE(files.CopyEntry(L"C:\\Data\\src.bin", L"C:\\Data\\dst.bin", FALSE));
  EXPECT_EQ(machine.Read("drive_c/Data/dst.bin"), "second");
  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\dst.bin", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(files.CopyEntry(L"C:\\Data\\src.bin", L"C:\\Data\\dst.bin", FALSE));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(files.CopyEntry(L"C:\\Data\\none", L"C:\\Data\\x", FALSE));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(HostFileSystemTest, ReplaceMovesOverTheTargetOrRefusesAsWindowsDoes) {
  struct Case {
    const char* what;
    std::function<void()> target;  // prepares Data/key.dat
    DWORD error;                   // 0: replaced
  };
  const Case cases[] = {
      {"existing target", [&] { File("Data/key.dat", "old"); }, 0},
      {"no target", [] {}, 0},
      {"read-only target",
       [&] { File("Data/key.dat", "old"), files.SetAttributes(L"C:\\Data\\key.dat", FILE_ATTRIBUTE_READONLY); },
       ERROR_ACCESS_DENIED},
      {"folder target", [&] { fs::create_directories(Host("Data/key.dat")); }, ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    fs::remove_all(Host("Data"));
    File("Data/key.dat.new", "new");
    c.target();
    BOOL replaced = files.ReplaceEntry(L"C:\\Data\\key.dat.new", L"C:\\DATA\\key.dat");
    EXPECT_EQ(replaced, c.error == 0) << c.what;
    if (c.error) {
      EXPECT_EQ(GetLastErrorCode(), c.error) << c.what;
      EXPECT_EQ(machine.Read("drive_c/Data/key.dat.new"), "new") << c.what;
    } else {
      EXPECT_EQ(machine.Read("drive_c/Data/key.dat"), "new") << c.what;
      EXPECT_FALSE(fs::exists(Host("Data/key.dat.new"))) << c.what;
    }
    files.SetAttributes(L"C:\\Data\\key.dat", FILE_ATTRIBUTE_NORMAL);
  }
  EXPECT_FALSE(files.ReplaceEntry(L"C:\\Data\\none", L"C:\\Data\\key.dat"));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(HostFileSystemTest, ByteFilesAndStreams) {
  platform::FileHandle out(files.OpenFile(L"C:\\Data\\f.bin", GENERIC_WRITE, CREATE_NEW));
  ASSERT_TRUE(out.Valid());
  DWORD done = 0;
  EXPECT_TRUE(files.WriteBytes(out.Get(), "abcdef", 6, &done));
  EXPECT_EQ(done, 6u);
  out.Reset();
  EXPECT_EQ(files.OpenFile(L"C:\\Data\\f.bin", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  platform::FileHandle in(files.OpenFile(L"C:\\Data\\F.BIN", GENERIC_READ, OPEN_EXISTING));
  ASSERT_TRUE(in.Valid());
  ULONGLONG size = 0, pos = 0;
  EXPECT_TRUE(files.FileSize(in.Get(), &size));
  EXPECT_EQ(size, 6u);
  EXPECT_TRUE(files.Seek(in.Get(), -2, FILE_END, &pos));
  EXPECT_EQ(pos, 4u);
  char buf[8] = {};
  EXPECT_TRUE(files.ReadBytes(in.Get(), buf, sizeof buf, &done));
  EXPECT_EQ(std::string(buf, done), "ef");
  EXPECT_FALSE(files.WriteBytes(in.Get(), "x", 1, &done));
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(files.OpenFile(L"C:\\Data\\none", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  ASSERT_TRUE(files.SetAttributes(L"C:\\Data\\f.bin", FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(files.OpenFile(L"C:\\Data\\f.bin", GENERIC_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // The runtime's byte streams honour the same attribute.
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  EXPECT_EQ(streams.Open("C:\\Data\\f.bin", "wb"), nullptr);
  EXPECT_EQ(GetLastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(streams.Remove("C:\\Data\\f.bin"), -1);
  FILE* f = streams.Open("C:\\data\\f.bin", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 6u);
  std::fclose(f);
}

TEST_F(HostFileSystemTest, EnvironmentAndKnownFoldersOfTheMachineUser) {
  wchar_t out[MAX_PATH];
  DWORD n = files.ExpandEnvironment(L"%SystemDrive%\\Users\\%USERNAME%;%userprofile%;%NOPE%", out, MAX_PATH);
  EXPECT_STREQ(out, L"C:\\Users\\alice;C:\\Users\\alice;%NOPE%");
  EXPECT_EQ(n, std::wcslen(out) + 1);
  wchar_t small[4] = L"abc";
  EXPECT_EQ(files.ExpandEnvironment(L"%SystemRoot%", small, 4), 11u);
  EXPECT_STREQ(small, L"abc");

  platform::KnownFolders& known = platform::KnownFolders::Default();
  wchar_t path[MAX_PATH];
  EXPECT_EQ(known.GetFolderPath(CSIDL_PROFILE, path), S_OK);
  EXPECT_STREQ(path, L"C:\\Users\\alice");
  EXPECT_EQ(known.GetFolderPath(CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, path), S_OK);
  EXPECT_STREQ(path, L"C:\\Users\\alice\\AppData\\Local");
  EXPECT_TRUE(fs::is_directory(Host("Users/alice/AppData/Local")));
  EXPECT_EQ(known.GetFolderPath(0x7F, path), E_INVALIDARG);
}

TEST_F(HostFileSystemTest, NoUserMeansNoUserFolders) {
  machine.Write("machine.ini", "[machine]\n");
  velk_test::TempMachine::Reload();
  wchar_t path[MAX_PATH];
  EXPECT_EQ(platform::KnownFolders::Default().GetFolderPath(CSIDL_PROFILE, path), static_cast<HRESULT>(0x80070002u));
  EXPECT_EQ(platform::KnownFolders::Default().GetFolderPath(CSIDL_WINDOWS, path), S_OK);
  EXPECT_STREQ(path, L"C:\\Windows");
}

}  // namespace
