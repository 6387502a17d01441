// Whole runs of the application object on a machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "MigrationMachine.h"
#include "MigratorApp.h"

namespace velk_test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

const wchar_t kEnglish515[] =
    L"An error occurred so the Connection Definition File Update Tool will now exit.\r\n\r\n\r\n"
    L"If the same message is displayed again, contact the velk-box admin.";
const wchar_t kJapanese515[] =
    L"エラーが発生したため、接続定義ファイルバージョンアップツールを終了します。\r\n\r\n\r\n"
    L"再度実行しても同じメッセージが表示される場合、velk-box責任者へお問い合わせください。";

struct Row {
  const char* name;
  bool present;
  std::string start;
  bool converts;
  std::vector<std::string> writes;
  bool converted;  // the key-file step ran
  std::string end = "3";
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class RunTable : public ::testing::TestWithParam<Row> {};

TEST_P(RunTable, EndsWithThreeAfterTheWritesOfTheTable) {
  const Row& row = GetParam();
  MigrationMachine m;
  m.MakeDataDirectory();
  if (row.present) m.WriteData("_completed_mig", row.start);
  if (row.converts) m.WriteOldBoundKeyFile("K-123");
  std::string before = row.converts ? m.ReadData("req.dat") : "";

  EXPECT_EQ(m.Run(), 0);

  EXPECT_EQ(m.ReadData("_completed_mig"), row.end);
  EXPECT_THAT(m.files.stateWrites, ElementsAreArray(row.writes));
  EXPECT_THAT(m.boxes.shown, IsEmpty());
  EXPECT_EQ(m.starts.starts.size(), 4u);
  if (row.converts && row.converted) {
    EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat")), ConvertedPlaintext(NewKey(), "K-123"));
  } else if (row.converts) {
    EXPECT_EQ(m.ReadData("req.dat"), before);
  }
  EXPECT_FALSE(m.DataExists("req.dat.new"));
}

INSTANTIATE_TEST_SUITE_P(EveryStart, RunTable,
                         ::testing::Values(Row{"AbsentSucceeds", false, "", true, {"C2", "O3"}, true},
                                           Row{"AbsentFails", false, "", false, {"C", "O3"}, true},
                                           Row{"EmptySucceeds", true, "", true, {"O3"}, true},
                                           Row{"EmptyFails", true, "", false, {"O", "O3"}, true},
                                           Row{"Two", true, "2", true, {"O3"}, false},
                                           Row{"Three", true, "3", true, {}, false},
                                           Row{"OtherByteSucceeds", true, "x", true, {"O2", "O3"}, true},
                                           Row{"OtherByteFails", true, "x", false, {"O", "O2", "O3"}, true},
                                           // Foreign content longer than a byte keeps its tail, reads as
                                           // 1 on every run, and converts again each time.
                                           Row{"ForeignBytes", true, "abc", true, {"O2", "O"}, true, "2bc"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Run, FirstRunLogsItsLinesInOrder) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.WriteOldBoundKeyFile("K-123");
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.LogLines(),
              ElementsAre("[info] InitialStatus : 1", "[info] Start converting", "[info] Finish converting"));
  EXPECT_EQ(m.machine.Read(std::string(kDataDir) + "/velk-access-migration.log").substr(0, 20), "2024/05/17 09:03:07 ");
}

TEST(Run, StatesTwoAndThreeSkipTheConversionButNotTheCleanup) {
  for (const char* state : {"2", "3"}) {
    MigrationMachine m;
    m.MakeDataDirectory();
    m.WriteData("_completed_mig", state);
    m.WriteOldBoundKeyFile("K-123");
    std::string before = m.ReadData("req.dat");
    EXPECT_EQ(m.Run(), 0);
    EXPECT_THAT(m.LogLines(), ElementsAre(std::string("[info] InitialStatus : ") + state));
    EXPECT_EQ(m.ReadData("req.dat"), before);
    EXPECT_EQ(m.starts.starts.size(), 4u);
    EXPECT_EQ(m.ReadData("_completed_mig"), "3");
  }
}

TEST(Run, AFailedConversionIsLoggedWithItsRecordAndTheRunGoesOn) {
  MigrationMachine m;
  m.MakeDataDirectory();
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.LogLines(),
              ElementsAre("[info] InitialStatus : 1", "[info] Start converting", "[error] failed ReqDatConverter",
                          "[error] 0xff: fopen failed :C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access"
                          "\\req.dat :The system cannot find the file specified. @ReqDatConverter::Convert at "
                          "ReqDatConverter.cpp line 52",
                          "[info] Finish converting"));
  EXPECT_EQ(m.starts.starts.size(), 4u);
}

TEST(Run, NoDataDirectoryShowsTheErrorBoxAndCreatesNothing) {
  MigrationMachine m;
  EXPECT_EQ(m.Run(), 0);
  ASSERT_EQ(m.boxes.shown.size(), 1u);
  EXPECT_EQ(m.boxes.shown[0].text, kEnglish515);
  EXPECT_EQ(m.boxes.shown[0].caption, L"");
  EXPECT_FALSE(m.boxes.shown[0].nullCaption);
  EXPECT_EQ(m.boxes.shown[0].type, static_cast<UINT>(MB_ICONERROR));
  EXPECT_FALSE(fs::exists(m.machine.Root() / kDataDir));
  EXPECT_THAT(m.files.stateWrites, IsEmpty());
  EXPECT_THAT(m.starts.starts, IsEmpty());
}

TEST(Run, TheErrorBoxSpeaksTheUserInterfaceLanguage) {
  MigrationMachine m("1041", "932");
  EXPECT_EQ(m.Run(), 0);
  ASSERT_EQ(m.boxes.shown.size(), 1u);
  EXPECT_EQ(m.boxes.shown[0].text, kJapanese515);
}

TEST(Run, AnUnresolvableFolderShowsTheBoxAndDoesNothingElse) {
  MigrationMachine m;
  m.machine.Write("machine.ini", "[machine]\nacp=1252 ui_language=1033\nuser=S-1-5-21-100-4040\n");
  TempMachine::Reload();
  EXPECT_EQ(m.Run(), 0);
  ASSERT_EQ(m.boxes.shown.size(), 1u);
  EXPECT_THAT(m.starts.starts, IsEmpty());
}

TEST(Run, ADirectoryNamedLikeTheStateFileEndsEveryRunAtTheFirstRead) {
  MigrationMachine m;
  m.MakeDataDirectory();
  fs::create_directories(m.machine.Root() / kDataDir / "_completed_mig");
  m.WriteOldBoundKeyFile("K-123");
  std::string before = m.ReadData("req.dat");
  for (int run = 0; run < 2; ++run) EXPECT_EQ(m.Run(), 0);
  EXPECT_EQ(m.boxes.shown.size(), 2u);
  EXPECT_THAT(m.LogLines(), ElementsAre("[error] Access to C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access"
                                        "\\_completed_mig was denied. (system error 5)",
                                        "[error] Access to C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access"
                                        "\\_completed_mig was denied. (system error 5)"));
  EXPECT_EQ(m.ReadData("req.dat"), before);
  EXPECT_THAT(m.starts.starts, IsEmpty());
}

TEST(Run, AStateFileThatCannotBeWrittenStopsTheRunAfterTheConversion) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.WriteData("_completed_mig", "");
  m.WriteOldBoundKeyFile("K-123");
  // Readable, but writing is refused: the run stops at the driver's write.
  m.files.SetAttributes((std::wstring(kDataDirW) + L"\\_completed_mig").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(m.Run(), 0);
  EXPECT_EQ(m.boxes.shown.size(), 1u);
  std::vector<std::string> lines = m.LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "[info] InitialStatus : 0");
  EXPECT_EQ(lines[1], "[info] Start converting");
  EXPECT_THAT(lines[2], HasSubstr("[error] Access to "));
  EXPECT_THAT(m.starts.starts, IsEmpty()) << "the clean-up does not run after the failure";
  // What was done stays done: the key file is converted.
  EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat")), ConvertedPlaintext(NewKey(), "K-123"));
}

TEST(Run, ALogThatCannotBeOpenedEndsTheRunBeforeTheState) {
  MigrationMachine m;
  m.MakeDataDirectory();
  fs::create_directories(m.machine.Root() / kDataDir / "velk-access-migration.log");
  EXPECT_EQ(m.Run(), 0);
  EXPECT_EQ(m.boxes.shown.size(), 1u);
  EXPECT_FALSE(m.DataExists("_completed_mig"));
  EXPECT_THAT(m.starts.starts, IsEmpty());
}

TEST(Run, NamedPipesBesideTheKeyFileNeverStopTheRun) {
  for (const char* name : {"_completed_mig", "velk-access-migration.log"}) {
    MigrationMachine m;
    m.MakeDataDirectory();
    m.WriteOldBoundKeyFile("K-1");
    const std::string before = m.ReadData("req.dat");
    ASSERT_EQ(::mkfifo((m.machine.Root() / kDataDir / name).c_str(), 0600), 0);
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
      ::alarm(10);  // a run that waits on the pipe is ended by the alarm
      m.Run();
      ::_exit(m.boxes.shown.size() == 1 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << name << ": the run waited on the pipe";
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0) << name << ": no error box";
    EXPECT_EQ(m.ReadData("req.dat"), before) << name;
  }
}

TEST(Run, ALocalAppDataFolderTooLongForTheDataDirectoryTouchesNothing) {
  // The data directory would need 260 characters: Windows could not hold it.
  MigrationMachine m;
  std::wstring profile = L"C:\\Users\\" + std::wstring(260 - 25 - 23, L'a');
  ASSERT_EQ(profile.size() + 14 + 25, 260u);
  m.machine.Write(
      "registry/HKLM.reg",
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-100-1001]\n"
      "\"ProfileImagePath\"=\"C:\\\\Users\\\\" +
          std::string(260 - 25 - 23, 'a') + "\"\n");
  TempMachine::Reload();
  EXPECT_EQ(m.Run(), 0);
  ASSERT_EQ(m.boxes.shown.size(), 1u);
  EXPECT_THAT(m.starts.starts, IsEmpty());
  EXPECT_THAT(m.files.stateWrites, IsEmpty());
}

TEST(Run, ADataDirectoryOutsideTheAnsiCodePageShowsTheBoxAndTouchesNothing) {
  MigrationMachine m("1033", "1252");
  std::string data = m.MoveProfile("\xce\xa9mega");  // U+03A9 has no place in code page 1252
  m.machine.Write(data + "/req.dat", Encrypt(OldKey(), "[Key]\r\nValue=K\r\n"));
  EXPECT_EQ(m.Run(), 0);
  EXPECT_EQ(m.boxes.shown.size(), 1u);
  EXPECT_FALSE(fs::exists(m.machine.Root() / data / "velk-access-migration.log"));
  EXPECT_FALSE(fs::exists(m.machine.Root() / data / "_completed_mig"));
  EXPECT_THAT(m.starts.starts, IsEmpty());
}

TEST(Run, AJapaneseProfileNameIsConvertedThroughCodePage932) {
  MigrationMachine m("1041", "932");
  std::string data = m.MoveProfile("\xe5\xb1\xb1\xe7\x94\xb0");  // 山田
  m.machine.Write(data + "/req.dat", Encrypt(OldKey(), "[Key]\r\nValue=K-932\r\n"));
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.boxes.shown, IsEmpty());
  EXPECT_EQ(Decrypt(NewKey(), m.machine.Read(data + "/req.dat")), ConvertedPlaintext(NewKey(), "K-932"));
  EXPECT_EQ(m.machine.Read(data + "/_completed_mig"), "3");
  EXPECT_EQ(m.starts.starts[0].commandLine,
            L"cmd.exe /c rmdir /S /Q \"C:\\Users\\\u5c71\u7530\\AppData\\Local\\TESSMAR\\velk\\velk-access\\keydata\"");
}

TEST(Run, TheExitHookClosesTheLog) {
  MigrationMachine m;
  m.MakeDataDirectory();
  {
    CMigratorApp app;
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(std::wstring(app.DataDirectory()), kDataDirW);
    EXPECT_EQ(app.ExitInstance(), 0);
  }
  // A second application in the same process opens a fresh log.
  EXPECT_EQ(m.Run(), 0);
  EXPECT_EQ(m.LogLines().front(), "[info] InitialStatus : 1");
  EXPECT_EQ(m.LogLines().back(), "[info] InitialStatus : 3");
}

TEST(RunDeathTest, AnExceptionEscapingAHookIsLoggedShownAndEndsTheProcessWithZero) {
  MigrationMachine m;
  m.MakeDataDirectory();
  EXPECT_EXIT(
      {
        CMigratorApp app;
        app.InitInstance();
        app.ProcessWndProcException(new CFileException(CFileException::diskFull, ERROR_DISK_FULL, L"C:\\x"), nullptr);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_THAT(m.LogLines(), ElementsAre("[info] InitialStatus : 1", "[info] Start converting",
                                        "[error] failed ReqDatConverter", ::testing::_, "[info] Finish converting",
                                        "[error] Disk full while accessing C:\\x. (system error 112)"));
}

}  // namespace
}  // namespace velk_test

namespace velk_test {
namespace {

int RunProgram(const std::string& arguments, std::string* errors) {
  std::string command = std::string(VELK_BINARY_DIR) + "/velk-access-migration " + arguments + " 2>&1 </dev/null";
  int code = -1;
  *errors += RunCommand(command, &code);
  return code;
}

TEST(Program, ConvertsAndIgnoresItsArguments) {
  MigrationMachine m;
  m.MakeDataDirectory();
  m.WriteOldBoundKeyFile("K-9");
  std::string output;
  EXPECT_EQ(RunProgram("/quiet --help C:\\elsewhere", &output), 0);
  EXPECT_EQ(output, "");
  EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat")), ConvertedPlaintext(NewKey(), "K-9"));
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
}

TEST(Program, ShowsTheErrorBoxAndExitsWithZero) {
  MigrationMachine m;
  std::string output;
  EXPECT_EQ(RunProgram("", &output), 0);
  EXPECT_EQ(output,
            "[] An error occurred so the Connection Definition File Update Tool will now exit.\r\n\r\n\r\n"
            "If the same message is displayed again, contact the velk-box admin.\n");
}

}  // namespace
}  // namespace velk_test
