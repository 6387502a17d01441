#include <gtest/gtest.h>

#include "PathJoin.h"

namespace {

std::wstring Join(std::wstring path, const wchar_t* more, bool expected = true) {
  EXPECT_EQ(AppendToPath(path, more), expected);
  return path;
}

TEST(AppendToPath, OneBackslashBetween) {
  EXPECT_EQ(Join(L"C:\\Program Files\\velk", L"bin\\a.exe"), L"C:\\Program Files\\velk\\bin\\a.exe");
  EXPECT_EQ(Join(L"C:\\Program Files\\velk\\", L"bin\\a.exe"), L"C:\\Program Files\\velk\\bin\\a.exe");
  EXPECT_EQ(Join(L"C:\\velk", L"\\\\bin\\a.exe"), L"C:\\velk\\bin\\a.exe");
  EXPECT_EQ(Join(L"C:", L"bin\\a.exe"), L"C:\\bin\\a.exe");
  EXPECT_EQ(Join(L"", L"bin\\a.exe"), L"bin\\a.exe");
}

TEST(AppendToPath, DotsAreResolved) {
  EXPECT_EQ(Join(L"C:\\a\\.\\b\\..\\c", L"bin\\a.exe"), L"C:\\a\\c\\bin\\a.exe");
  EXPECT_EQ(Join(L"C:\\..\\..", L"bin\\a.exe"), L"C:\\bin\\a.exe");
  EXPECT_EQ(Join(L"\\\\server\\share\\..\\x", L"bin"), L"\\\\server\\share\\x\\bin");
}

TEST(AppendToPath, TheJoinedPathMustFitMaxPath) {
  std::wstring dir = L"C:\\" + std::wstring(250, L'a');
  EXPECT_EQ(Join(dir, L"b.exe").size(), 259u);  // 253 + '\' + 5
  EXPECT_EQ(Join(dir, L"bc.exe", false), L"");
  EXPECT_EQ(Join(std::wstring(100000, L'x'), L"b", false), L"");
}

}  // namespace
