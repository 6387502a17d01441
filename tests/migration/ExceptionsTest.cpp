#include <gtest/gtest.h>

#include <cstring>

#include "AppException.h"
#include "MigrationMachine.h"
#include "framework/File.h"
#include "framework/WinApp.h"
#include "platform/LastError.h"

namespace velk_test {
namespace {

std::wstring Text(const CException& e, UINT maximum = 1023) {
  wchar_t buffer[1024] = {};
  EXPECT_TRUE(e.GetErrorMessage(buffer, maximum));
  return buffer;
}

TEST(AppExceptionText, LastErrorMessageAndLocation) {
  platform::SetLastErrorCode(0x7E);
  AppException e("CMigratorApp::InitInstance", "C:\\src\\migration\\MigratorApp.cpp", 45,
                 L"SHGetSpecialFolderPath failed");
  platform::SetLastErrorCode(0);
  EXPECT_EQ(Text(e), L"0x7e SHGetSpecialFolderPath failed @CMigratorApp::InitInstance at MigratorApp.cpp line 45");
  AppException plain("f", "no/backslash/file.cpp", 1, L"m");
  EXPECT_EQ(Text(plain), L"0x0 m @f at no/backslash/file.cpp line 1");
  // At most the maximum is copied; the zero-filled buffer ends the text.
  EXPECT_EQ(Text(e, 5), L"0x7e ");
}

TEST(AppExceptionText, RasRecordIsRenderedWithTwoHexDigitsAtLeast) {
  RasError record{};
  EXPECT_EQ(Text(RasException(&record)), L"0x00:  @");
  record.code = 255;
  std::strcpy(record.message, "fopen failed :C:\\x");
  std::strcpy(record.location, "ReqDatConverter::Convert at ReqDatConverter.cpp line 52");
  EXPECT_EQ(Text(RasException(&record)),
            L"0xff: fopen failed :C:\\x @ReqDatConverter::Convert at ReqDatConverter.cpp line 52");
  record.code = 0x1234;
  EXPECT_EQ(Text(RasException(&record)).substr(0, 8), L"0x1234: ");
}

TEST(AppExceptionText, AnsiTextIsWidenedWithTheCodePage) {
  MigrationMachine m("1033", "1252");
  RasError record{};
  std::strcpy(record.message, "caf\xe9");
  EXPECT_EQ(Text(RasException(&record)), L"0x00: caf\u00e9 @");
}

TEST(FrameworkFile, ReadWriteAndTheirFailures) {
  MigrationMachine m;
  m.MakeDataDirectory();
  std::wstring path = std::wstring(kDataDirW) + L"\\f.bin";
  CFile f;
  CFileException error;
  EXPECT_FALSE(f.Open(path.c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_lOsError, ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Text(error), path + L" was not found. (system error 2)");
  ASSERT_TRUE(f.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
  f.Write("abcdef", 6);
  f.Close();
  ASSERT_TRUE(f.Open(path.c_str(), CFile::modeWrite));
  f.Write("X", 1);
  f.Close();
  EXPECT_EQ(m.ReadData("f.bin"), "Xbcdef");
  ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
  char buffer[16] = {};
  EXPECT_EQ(f.Read(buffer, 16), 6u);
  EXPECT_EQ(f.Read(buffer, 16), 0u);
  // Writing to a file opened for reading fails with a file exception.
  try {
    f.Write("y", 1);
    ADD_FAILURE() << "no exception";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_strFileName, path);
    e->Delete();
  }
  CFileFind find;
  EXPECT_TRUE(find.FindFile(path.c_str()));
  EXPECT_TRUE(find.FindFile((std::wstring(kDataDirW) + L"\\F.*").c_str()));
  EXPECT_FALSE(find.FindFile((std::wstring(kDataDirW) + L"\\g.bin").c_str()));
}

class Probe : public CWinApp {
 public:
  BOOL InitInstance() override {
    calls += "init ";
    if (throws) throw new CFileException(CFileException::hardIO, 31, L"C:\\probe");
    return start;
  }
  int Run() override {
    calls += "run ";
    return CWinApp::Run();
  }
  int ExitInstance() override {
    calls += "exit ";
    return 7;
  }
  long ProcessWndProcException(CException* e, const AppMessage*) override {
    wchar_t text[128] = {};
    e->GetErrorMessage(text, 128);
    calls += "escaped ";
    escaped = text;
    e->Delete();
    return 0;
  }
  std::string calls;
  std::wstring escaped;
  BOOL start = FALSE;
  bool throws = false;
};

TEST(FrameworkApp, TheEntryDrivesTheHooksInOrder) {
  Probe stops;
  EXPECT_EQ(AfxWinMain(), 7);
  EXPECT_EQ(stops.calls, "init exit ");
  Probe goes;
  goes.start = TRUE;
  EXPECT_EQ(AfxWinMain(), 7);
  EXPECT_EQ(goes.calls, "init run exit ");
  Probe throws;
  throws.throws = true;
  EXPECT_EQ(AfxWinMain(), 7);
  EXPECT_EQ(throws.calls, "init escaped exit ");
  EXPECT_EQ(throws.escaped, L"A hardware I/O error was reported while accessing C:\\probe. (system error 31)");
}

}  // namespace
}  // namespace velk_test
