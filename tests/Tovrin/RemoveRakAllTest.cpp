#include "RemoveRakAll.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "DirectoryRemover.h"
#include "PerUserMachine.h"
#include "platform/LastError.h"
#include "support/LogFixture.h"

extern "C" UINT RemoveRakAll(MSIHANDLE install);
extern "C" HRESULT RunRemoveRakAllW(HWND window, HINSTANCE instance, LPWSTR commandLine, int show);

namespace fs = std::filesystem;

namespace {

using testing::ElementsAre;
using velk_test::RegString;
using velk_test::Short;

// The host file system with failures injected for chosen paths.
class FailingFileSystem : public platform::FileSystem {
 public:
  explicit FailingFileSystem(platform::FileSystem& inner) : in(inner) {}
  HANDLE FindFirst(const wchar_t* p, platform::FindData* d) override {
    if (beforeFind) beforeFind(p);
    return in.FindFirst(p, d);
  }
  BOOL FindNext(HANDLE h, platform::FindData* d) override { return in.FindNext(h, d); }
  BOOL CloseFind(HANDLE h) override { return in.CloseFind(h); }
  DWORD GetAttributes(const wchar_t* p) override { return in.GetAttributes(p); }
  BOOL SetAttributes(const wchar_t* p, DWORD a) override { return in.SetAttributes(p, a); }
  BOOL RemoveFile(const wchar_t* p) override {
    removed.push_back(p);
    if (failRemoveFile && failRemoveFile(p)) {
      platform::SetLastErrorCode(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
    return in.RemoveFile(p);
  }
  BOOL RemoveFolder(const wchar_t* p) override {
    removed.push_back(p);
    return in.RemoveFolder(p);
  }
  BOOL MakeFolder(const wchar_t* p) override { return in.MakeFolder(p); }
  BOOL MoveEntry(const wchar_t* a, const wchar_t* b) override { return in.MoveEntry(a, b); }
  BOOL CopyEntry(const wchar_t* a, const wchar_t* b, BOOL f) override { return in.CopyEntry(a, b, f); }
  BOOL PathExists(const wchar_t* p) override { return in.PathExists(p); }
  BOOL IsDirectory(const wchar_t* p) override {
    tested.push_back(p);
    return in.IsDirectory(p);
  }
  BOOL IsSystemFolder(const wchar_t* p, DWORD a) override { return in.IsSystemFolder(p, a); }
  DWORD ExpandEnvironment(const wchar_t* s, wchar_t* o, DWORD n) override {
    if (failExpand) {
      platform::SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    return in.ExpandEnvironment(s, o, n);
  }
  HANDLE OpenFile(const wchar_t* p, DWORD a, DWORD d) override { return in.OpenFile(p, a, d); }
  // The calls inside held folders see names, not paths.
  HANDLE OpenFolder(HANDLE parent, const wchar_t* name, DWORD* a) override {
    if (beforeFind && parent) beforeFind(name);
    return in.OpenFolder(parent, name, a);
  }
  BOOL RemoveFileIn(HANDLE folder, const wchar_t* name) override {
    removed.push_back(name);
    if (failRemoveFile && failRemoveFile(name)) {
      platform::SetLastErrorCode(ERROR_SHARING_VIOLATION);
      return FALSE;
    }
    return in.RemoveFileIn(folder, name);
  }
  BOOL RemoveFolderIn(HANDLE folder, const wchar_t* name) override {
    removed.push_back(name);
    return in.RemoveFolderIn(folder, name);
  }
  BOOL ReadBytes(HANDLE f, void* b, DWORD n, DWORD* d) override { return in.ReadBytes(f, b, n, d); }
  BOOL WriteBytes(HANDLE f, const void* b, DWORD n, DWORD* d) override { return in.WriteBytes(f, b, n, d); }
  BOOL Seek(HANDLE f, LONGLONG d, DWORD m, ULONGLONG* p) override { return in.Seek(f, d, m, p); }
  BOOL FileSize(HANDLE f, ULONGLONG* s) override { return in.FileSize(f, s); }
  BOOL CloseFile(HANDLE f) override { return in.CloseFile(f); }

  platform::FileSystem& in;
  std::function<bool(const std::wstring&)> failRemoveFile;
  std::function<void(const std::wstring&)> beforeFind;
  std::vector<std::wstring> removed;
  std::vector<std::wstring> tested;
  bool failExpand = false;
};

class FixedFolders : public platform::KnownFolders {
 public:
  HRESULT GetFolderPath(int csidl, wchar_t* path) override {
    const std::wstring& value = csidl == CSIDL_PROFILE ? profile : local;
    if (FAILED(result)) return result;
    std::wcscpy(path, value.c_str());
    return S_OK;
  }
  std::wstring profile = L"C:\\Users\\alice";
  std::wstring local = L"C:\\Users\\alice\\AppData\\Local";
  HRESULT result = S_OK;
};

const char kData[] = "C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access";

class RemoveRakAllTest : public velk_test::LogFixture {
 protected:
  RemoveRakAllTest() : useFiles_(files), useFolders_(folders) {
    machine.Write("registry/HKLM.reg", velk_test::ProfileListReg({{"S-1-5-21-9-1001", RegString("C:\\Users\\alice")}}));
    // A profile as Windows leaves it: the local folder holds other things.
    machine.Write("drive_c/Users/alice/NTUSER.DAT", "");
    machine.Write("drive_c/Users/alice/AppData/Local/Microsoft/Windows/UsrClass.dat", "");
    velk_test::TempMachine::Reload();
  }
  fs::path Host(const std::string& rel) const { return machine.Root() / "drive_c" / rel; }
  fs::path Data(const std::string& rel = "") const {
    fs::path base = Host("Users/alice/AppData/Local/TESSMAR/velk/velk-access");
    return rel.empty() ? base : base / rel;
  }
  void File(const fs::path& p, unsigned dosBits = 0) const {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
    if (dosBits) velk_test::SetDosBits(p, dosBits);
  }
  std::vector<std::string> Run(const std::wstring& commandLine = L"") {
    std::wstring text = commandLine;
    EXPECT_EQ(RunRemoveRakAllW(nullptr, nullptr, text.data(), 0), S_OK);
    std::vector<std::string> lines = Short(installer.Lines());
    installer.messages.clear();
    return lines;
  }
  static std::string D(const std::string& rest = "") { return kData + rest; }

  velk_test::TempMachine machine;
  FailingFileSystem files{platform::FileSystem::Default()};
  FixedFolders folders;

 private:
  platform::ScopedPort<platform::FileSystem> useFiles_;
  platform::ScopedPort<platform::KnownFolders> useFolders_;
};

const char kEnter[] = "I CProfileDirectoryEnumerator<_pde>::Enumerate - enter";
const char kLeave[] = "I CProfileDirectoryEnumerator<_pde>::Enumerate - leave";

TEST_F(RemoveRakAllTest, NestedTreeWithHiddenAndReadOnlyFilesGoesWithItsEmptyParents) {
  File(Data("req.dat"), FILE_ATTRIBUTE_READONLY);
  File(Data("log/velk.log"), FILE_ATTRIBUTE_HIDDEN);
  File(Data("log/old/velk.log.1"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  fs::create_directories(Data("empty"));
  File(Data("../velk-access LE/conf.ini"));
  EXPECT_THAT(Run(), ElementsAre("I RunRemoveRakAllW - enter", "I CTovrinModule::RemoveRakAll - enter", kEnter, kLeave,
                                 "I CTovrinModule::RemoveRakAll - leave", "I RunRemoveRakAllW - leave"));
  EXPECT_FALSE(fs::exists(Host("Users/alice/AppData/Local/TESSMAR")));
  EXPECT_TRUE(fs::is_directory(Host("Users/alice/AppData/Local")));
}

TEST_F(RemoveRakAllTest, ASystemFileKeepsItsFoldersWithOneWarningEach) {
  File(Data("keep/deep/hosts.sys"), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
  File(Data("keep/other.txt"));
  File(Data("gone/a.txt"));
  auto lines = Run();
  EXPECT_THAT(
      std::vector<std::string>(lines.begin() + 3, lines.end() - 3),
      ElementsAre("W skipped system file hosts.sys",
                  "W remove failed - " + D("\\keep\\deep") + "\\ The directory is not empty. (0x80070091)",
                  "W remove failed - " + D("\\keep") + "\\ The directory is not empty. (0x80070091)",
                  "W remove failed - " + D() + "\\ The directory is not empty. (0x80070091)",
                  "W remove failed - " + D(" LE") + "\\ The system cannot find the file specified. (0x80070002)"));
  EXPECT_TRUE(fs::exists(Data("keep/deep/hosts.sys")));
  EXPECT_FALSE(fs::exists(Data("keep/other.txt")));
  EXPECT_FALSE(fs::exists(Data("gone")));
}

TEST_F(RemoveRakAllTest, OnlyTheLeFolderIsLeftAlone) {
  File(Host("Users/alice/AppData/Local/TESSMAR/velk/velk-access LE/a.txt"));
  EXPECT_THAT(Run(), ElementsAre(testing::_, testing::_, kEnter, kLeave, testing::_, testing::_));
  EXPECT_TRUE(fs::exists(Host("Users/alice/AppData/Local/TESSMAR/velk/velk-access LE/a.txt")));
}

TEST_F(RemoveRakAllTest, BothFoldersAndTheClimbBetweenThem) {
  File(Data("a.txt"));
  File(Host("Users/alice/AppData/Local/TESSMAR/velk/velk-access LE/b.txt"));
  EXPECT_THAT(Run(), ElementsAre(testing::_, testing::_, kEnter, kLeave, testing::_, testing::_));
  EXPECT_FALSE(fs::exists(Host("Users/alice/AppData/Local/TESSMAR")));
  // The first climb stopped at ...\velk, which still held the LE folder.
  EXPECT_EQ(std::count(files.removed.begin(), files.removed.end(), L"velk"), 2);
}

TEST_F(RemoveRakAllTest, ReadOnlyOrSystemDataFolderSkipsTheProfile) {
  File(Data("a.txt"));
  velk_test::SetDosBits(Data(), FILE_ATTRIBUTE_READONLY);
  File(Host("Users/alice/AppData/Local/TESSMAR/velk/velk-access LE/b.txt"));
  EXPECT_THAT(Run(), ElementsAre(testing::_, testing::_, kEnter, kLeave, testing::_, testing::_));
  EXPECT_TRUE(fs::exists(Data("a.txt")));
  velk_test::SetDosBits(Data(), FILE_ATTRIBUTE_SYSTEM);
  Run();
  EXPECT_TRUE(fs::exists(Data("a.txt")));
  EXPECT_TRUE(fs::exists(Host("Users/alice/AppData/Local/TESSMAR/velk/velk-access LE/b.txt")));
}

TEST_F(RemoveRakAllTest, BinEntriesMatchingTheMarkerPattern) {
  File(Host("Program Files/TESSMAR/velk/bin/_installed_01"));
  File(Host("Program Files/TESSMAR/velk/bin/_installed_xy"), FILE_ATTRIBUTE_READONLY);
  File(Host("Program Files/TESSMAR/velk/bin/readme.txt"));
  File(Host("Program Files/TESSMAR/velk/bin/_installed_123"));
  auto lines = Run(L"/bin=\"C:\\Program Files\\TESSMAR\\velk\\bin\\\\\"");
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 4, lines.end() - 2),
              ElementsAre("W remove failed - C:\\Program Files\\TESSMAR\\velk\\bin\\ The directory is not empty. "
                          "(0x80070091)"));
  EXPECT_FALSE(fs::exists(Host("Program Files/TESSMAR/velk/bin/_installed_01")));
  EXPECT_FALSE(fs::exists(Host("Program Files/TESSMAR/velk/bin/_installed_xy")));
  EXPECT_TRUE(fs::exists(Host("Program Files/TESSMAR/velk/bin/readme.txt")));
  EXPECT_TRUE(fs::exists(Host("Program Files/TESSMAR/velk/bin/_installed_123")));

  // Only markers left: the bin folder goes, its parents only when empty.
  fs::remove(Host("Program Files/TESSMAR/velk/bin/readme.txt"));
  fs::remove(Host("Program Files/TESSMAR/velk/bin/_installed_123"));
  File(Host("Program Files/TESSMAR/velk/bin/_INSTALLED_02"));
  File(Host("Program Files/TESSMAR/velk/velk.exe"));
  lines = Run(L"/bin=\"C:\\Program Files\\TESSMAR\\velk\\bin\"");
  EXPECT_EQ(lines.size(), 6u);
  EXPECT_FALSE(fs::exists(Host("Program Files/TESSMAR/velk/bin")));
  EXPECT_TRUE(fs::exists(Host("Program Files/TESSMAR/velk/velk.exe")));
}

TEST_F(RemoveRakAllTest, ABadProfileEntryFirstStopsEverything) {
  machine.Write("registry/HKLM.reg", velk_test::ProfileListReg({{"S-1-5-21-9-1000", ""},
                                                                {"S-1-5-21-9-1001", RegString("C:\\Users\\alice")}}));
  velk_test::TempMachine::Reload();
  File(Data("a.txt"));
  File(Host("bin/_installed_01"));
  EXPECT_THAT(Run(L"/bin=C:\\bin"),
              ElementsAre(testing::_, testing::_, kEnter, kLeave,
                          "E The system cannot find the file specified. (0x80070002)", testing::_, testing::_));
  EXPECT_TRUE(fs::exists(Data("a.txt")));
  EXPECT_TRUE(fs::exists(Host("bin/_installed_01")));
}

TEST_F(RemoveRakAllTest, AFailedFolderQueryRemovesNothing) {
  folders.result = static_cast<HRESULT>(0x80070005u);
  File(Data("a.txt"));
  File(Host("bin/_installed_01"));
  EXPECT_THAT(Run(L"/bin=C:\\bin"),
              ElementsAre(testing::_, testing::_, "E Access is denied. (0x80070005)", testing::_, testing::_));
  EXPECT_TRUE(fs::exists(Data("a.txt")));
  EXPECT_TRUE(fs::exists(Host("bin/_installed_01")));
}

TEST_F(RemoveRakAllTest, AFileInUseIsReportedAndTheWalkGoesOn) {
  File(Data("busy.dat"));
  File(Data("free.dat"));
  files.failRemoveFile = [](const std::wstring& p) { return p == L"busy.dat"; };
  auto lines = Run();
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 3, lines.begin() + 5),
              ElementsAre("W remove failed - busy.dat The process cannot access the file because it is being used by "
                          "another process. (0x80070020)",
                          "W remove failed - " + D() + "\\ The directory is not empty. (0x80070091)"));
  EXPECT_FALSE(fs::exists(Data("free.dat")));
}

TEST_F(RemoveRakAllTest, AFolderThatVanishesDuringTheWalk) {
  File(Data("a/one.txt"));
  File(Data("b/two.txt"));
  File(Data("../velk-access LE/x.txt"));
  // Another process removes folder b just before the walk opens it.
  files.beforeFind = [this](const std::wstring& p) {
    if (p == L"b") fs::remove_all(Data("b"));
  };
  auto lines = Run();
  EXPECT_THAT(
      std::vector<std::string>(lines.begin() + 3, lines.end() - 3),
      ElementsAre("W remove failed - " + D("\\b") + "\\ The system cannot find the file specified. (0x80070002)"));
  EXPECT_FALSE(fs::exists(Host("Users/alice/AppData/Local/TESSMAR")));
}

TEST_F(RemoveRakAllTest, LinksNeverLeadOutOfTheTree) {
  File(Host("Outside/precious.txt"));
  File(Host("Outside2/file.txt"));
  File(Data("a.txt"));
  fs::create_directory_symlink(Host("Outside"), Data("dirlink"));
  fs::create_symlink(Host("Outside2/file.txt"), Data("filelink"));
  Run();
  EXPECT_FALSE(fs::exists(fs::symlink_status(Data())));
  EXPECT_TRUE(fs::exists(Host("Outside/precious.txt")));
  EXPECT_TRUE(fs::exists(Host("Outside2/file.txt")));

  // The data directory itself a link: left in place, nothing behind it removed.
  fs::create_directories(Data().parent_path());
  fs::create_directory_symlink(Host("Outside"), Data());
  auto lines = Run();
  EXPECT_EQ(lines[3], "W skipped link " + D());
  EXPECT_TRUE(fs::exists(Host("Outside/precious.txt")));
  EXPECT_TRUE(fs::is_symlink(Data()));
}

TEST_F(RemoveRakAllTest, PathsLongerThanTheInlineRoom) {
  fs::path deep = Data();
  std::string part(200, 'd');
  for (int i = 0; i < 6; ++i) deep /= part + std::to_string(i);
  File(deep / "leaf.txt", FILE_ATTRIBUTE_READONLY);
  File(Data().string() + " LE/" + part + "/x.txt");
  EXPECT_THAT(Run(), ElementsAre(testing::_, testing::_, kEnter, kLeave, testing::_, testing::_));
  EXPECT_FALSE(fs::exists(Host("Users/alice/AppData/Local/TESSMAR")));

  CPathBuffer buffer;
  buffer.Assign(std::wstring(1000, L'x'));
  EXPECT_FALSE(buffer.OnHeap());
  buffer.Append(std::wstring(100, L'y'));
  EXPECT_TRUE(buffer.OnHeap());
  EXPECT_EQ(buffer.size(), 1100u);
  EXPECT_EQ(std::wstring(buffer.c_str()), std::wstring(1000, L'x') + std::wstring(100, L'y'));
  buffer.Cut(3);
  EXPECT_STREQ(buffer.c_str(), L"xxx");
}

class RelativeDataPathTest : public velk_test::LogFixture {};

TEST_F(RelativeDataPathTest, LocalFolderInsideOrOutsideTheProfile) {
  EXPECT_EQ(_pde::ComputeRelativeDataPath(L"C:\\Users\\someone", L"C:\\Users\\someone\\AppData\\Local"),
            L"\\AppData\\Local\\TESSMAR\\velk\\velk-access");
  EXPECT_EQ(_pde::ComputeRelativeDataPath(L"C:\\Users\\SomeOne\\", L"c:\\users\\someone\\AppData\\Local\\"),
            L"\\AppData\\Local\\TESSMAR\\velk\\velk-access");
  EXPECT_TRUE(installer.Lines().empty());
  // Outside the profile, a prefix of a longer name, longer than the local path:
  // never a cut, always the standard place with a Warning.
  for (const wchar_t* local : {L"D:\\Redirected\\Local", L"C:\\Users\\someone2\\AppData\\Local", L"C:\\U"})
    EXPECT_EQ(_pde::ComputeRelativeDataPath(L"C:\\Users\\someone", local),
              L"\\AppData\\Local\\TESSMAR\\velk\\velk-access");
  ASSERT_EQ(installer.Lines().size(), 3u);
  EXPECT_THAT(installer.Lines()[0],
              testing::EndsWith(" W local application data D:\\Redirected\\Local is not inside the profile "
                                "C:\\Users\\someone; using \\AppData\\Local\\TESSMAR\\velk\\velk-access"));
}

TEST_F(RemoveRakAllTest, TheClimbStopsAtTheVolume) {
  // D:\ holds nothing but the bin folder: the folder goes, the drive stays.
  machine.Write("drive_d/solo/_installed_01", "");
  auto lines = Run(L"/bin=D:\\solo");
  EXPECT_EQ(lines.size(), 6u);
  EXPECT_FALSE(fs::exists(machine.Root() / "drive_d/solo"));
  EXPECT_TRUE(fs::is_directory(machine.Root() / "drive_d"));
  EXPECT_EQ(files.removed.back(), L"D:\\solo");

  files.removed.clear();
  lines = Run(L"/bin=\\\\server\\share\\bin");
  EXPECT_THAT(std::vector<std::string>(lines.begin() + 4, lines.end() - 2),
              ElementsAre("W remove failed - \\\\server\\share\\bin\\ The system cannot find the path specified. "
                          "(0x80070003)"));
  EXPECT_THAT(files.removed, ElementsAre(L"\\\\server\\share\\bin"));
}

TEST_F(RemoveRakAllTest, AHomeThatCannotBeExpandedIsLeftOut) {
  File(Data("a.txt"));
  files.failExpand = true;
  EXPECT_THAT(Run(), ElementsAre(testing::_, testing::_, kEnter, kLeave, testing::_, testing::_));
  EXPECT_TRUE(files.tested.empty());  // no root-relative data path was tried
  EXPECT_TRUE(fs::exists(Data("a.txt")));
}

TEST_F(RemoveRakAllTest, InstallerFormReadsBinFromTovrinData) {
  File(Host("bin/_installed_01"));
  File(Host("bin/_installed_02"));
  installer.properties[L"TovrinData"] = L"/bin=C:\\bin";
  EXPECT_EQ(RemoveRakAll(velk_test::FakeInstaller::kSession), 0u);
  EXPECT_FALSE(fs::exists(Host("bin")));
  EXPECT_THAT(Short(installer.Lines()).front(), "####### Tovrin log PID=000001f4 #######");
}

}  // namespace
