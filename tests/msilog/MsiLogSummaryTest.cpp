#include "MsiLogSummary.h"

#include "LogFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <ostream>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

msilog::Summary SummariseFile(const char* name) {
  return msilog::Summarise(msilog::DecodeLog(ReadBytes(kData / name)));
}

TEST(MsiLogDecode, EveryEncodingGivesTheSameLines) {
  const std::string text = "Action start 10:00:00: Ä€😀.\nzweite Zeile\n";
  const std::vector<std::string> expected = {"Action start 10:00:00: Ä€😀.", "zweite Zeile"};
  EXPECT_EQ(msilog::DecodeLog(AsWindowsFile(text)), expected);
  EXPECT_EQ(msilog::DecodeLog(AsWindowsFile(text).substr(2)), expected) << "UTF-16LE without its mark";
  EXPECT_EQ(msilog::DecodeLog("\xEF\xBB\xBF" + text), expected);
  EXPECT_EQ(msilog::DecodeLog("Action start 10:00:00: x.\r\nzweite Zeile\r\n"),
            (std::vector<std::string>{"Action start 10:00:00: x.", "zweite Zeile"}));
  // ANSI bytes pass unchanged (code page 1252: a-umlaut).
  EXPECT_EQ(msilog::DecodeLog("Gr\xE4"
                              "ße\n"),
            std::vector<std::string>{"Gr\xE4"
                                     "ße"});
}

TEST(MsiLogSummary, TextWithoutActionsIsNoLog) {
  EXPECT_FALSE(msilog::Summarise(msilog::DecodeLog("hello\nworld\n")).recognised);
  EXPECT_FALSE(msilog::Summarise({}).recognised);
}

// Windows' shape of a deferred action that fails in the script: the action
// scheduled, run from the script with its CustomActionData, its E line and
// the installer error, and the setup stopped there rather than at
// InstallFinalize. The same log in UTF-16 gives the same summary.
TEST(MsiLogSummary, WindowsDeferredFailureIsPinnedOnTheAction) {
  const std::string utf8 = ReadBytes(kData / "windows-deferred.log");
  const msilog::Summary summary = msilog::Summarise(msilog::DecodeLog(AsWindowsFile(utf8)));
  ASSERT_TRUE(summary.recognised);
  EXPECT_EQ(msilog::Format(summary),
            "log: Windows\n"
            "setup: failed, stopped by Tovrin_InstallDevice (in the script run by InstallFinalize)\n"
            "Tovrin_CheckRasExec\n"
            "  verdict: succeeded, with 1 line below to look at\n"
            "  started 10:22:31, ended 10:22:31, return value 1 (success)\n"
            "  W TARGETDIR is not an absolute path: bin\\\n"
            "  set RASXX_RUNNING = 1\n"
            "Tovrin_InstallDevice\n"
            "  verdict: failed, and stopped the setup\n"
            "  scheduled 10:22:31, return value 1 (success)\n"
            "  run from the script, returned 1603\n"
            "  data: /inf=\"C:\\Program Files\\Probe\\driver\\probe.inf\" /hwid=root\\probe\n"
            "  E UpdateDriverForPlugAndPlayDevices() = Das System kann die angegebene Datei nicht "
            "finden.(0x80070002)\n"
            "  message: Error 25000. Probe setup failed (error -2147024894).\n");
  EXPECT_EQ(msilog::Format(msilog::Summarise(msilog::DecodeLog(utf8))), msilog::Format(summary));
}

// Logs of the Wine cases (trimmed: the property list keeps the kit's
// properties and the product's name), each with the whole summary.
struct WineLog {
  const char* file;
  const char* summary;
};

// Test names (and ctest's) show the file.
void PrintTo(const WineLog& log, std::ostream* out) { *out << log.file; }

class WineLogs : public ::testing::TestWithParam<WineLog> {};

TEST_P(WineLogs, SummaryAsPrinted) {
  const msilog::Summary summary = SummariseFile(GetParam().file);
  ASSERT_TRUE(summary.recognised);
  EXPECT_EQ(msilog::Format(summary), GetParam().summary);
}

// Windows 7: IsSupportOS sets RASXX_NOT_SUPPORTOS and the launch condition
// stops the setup (Wine logs no text for it). A client left running:
// RASXX_RUNNING. A second setup while the mutex is held: CheckMultiExec
// fails with the Error table's text. A deferred action failing in the
// script (a probe package whose InstallDevice gets a missing INF): the
// action, not InstallFinalize, stopped the setup. The removal: every
// removal action ran and its warnings are listed.
INSTANTIATE_TEST_SUITE_P(
    Cases, WineLogs,
    ::testing::Values(
        WineLog{"wine-old-windows.log",
                "log: Wine\n"
                "setup: failed, stopped by LaunchConditions\n"
                "  RASXX_NOT_SUPPORTOS = 1\n"
                "Tovrin_IsSupportOS\n"
                "  verdict: succeeded (the lines below are expected)\n"
                "  started 11:11:54 (execute sequence), ended 11:11:55, return value 1 (success)\n"
                "  expected: E RegQueryValueEx Error2) (Windows before 10 has no CurrentMajorVersionNumber)\n"
                "  set RASXX_NOT_SUPPORTOS = 1 (property list at the end)\n"
                "Tovrin_CheckMultiExec\n"
                "  verdict: succeeded\n"
                "  started 11:11:55 (execute sequence), ended 11:11:55, return value 1 (success)\n"
                "Tovrin_CheckRasExec\n"
                "  verdict: succeeded\n"
                "  started 11:11:55 (execute sequence), ended 11:11:55, return value 1 (success)\n"},
        WineLog{"wine-client-running.log",
                "log: Wine\n"
                "setup: failed, stopped by LaunchConditions\n"
                "  RASXX_RUNNING = 1\n"
                "Tovrin_IsSupportOS\n"
                "  verdict: succeeded\n"
                "  started 11:12:45 (execute sequence), ended 11:12:45, return value 1 (success)\n"
                "Tovrin_CheckMultiExec\n"
                "  verdict: succeeded\n"
                "  started 11:12:45 (execute sequence), ended 11:12:45, return value 1 (success)\n"
                "Tovrin_CheckRasExec\n"
                "  verdict: succeeded\n"
                "  started 11:12:45 (execute sequence), ended 11:12:45, return value 1 (success)\n"
                "  I module = C:\\velk v1\\bin\\velk-access.exe (a running client found there)\n"
                "  I module = C:\\velk v1\\bin\\velk-access.exe (a running client found there)\n"
                "  set RASXX_RUNNING = 1 (property list at the end)\n"},
        WineLog{"wine-mutex-held.log",
                "log: Wine\n"
                "setup: failed, stopped by Tovrin_CheckMultiExec\n"
                "Tovrin_IsSupportOS\n"
                "  verdict: succeeded\n"
                "  started 11:12:58 (execute sequence), ended 11:12:58, return value 1 (success)\n"
                "Tovrin_CheckMultiExec\n"
                "  verdict: failed, and stopped the setup\n"
                "  started 11:12:58 (execute sequence), ended 11:12:58, return value 0 (failed)\n"
                "  E (0x8000400e)\n"
                "  message: Another velk-access setup is running (error -2147467250). Let it finish, then run this "
                "setup again.\n"},
        WineLog{"wine-deferred-failure.log",
                "log: Wine\n"
                "setup: failed, stopped by Tovrin_InstallDevice\n"
                "Tovrin_IsSupportOS\n"
                "  verdict: succeeded\n"
                "  started 11:15:26 (execute sequence), ended 11:15:26, return value 1 (success)\n"
                "Tovrin_RemoveSparkleReg\n"
                "  verdict: succeeded (the lines below are expected)\n"
                "  scheduled 11:15:26 (execute sequence), return value 1 (success)\n"
                "  run from the script, started 11:15:26, ended 11:15:26, return value 1 (success)\n"
                "  expected: E RegOpenKeyEx Error(2) (a user who never had the updater's settings)\n"
                "Tovrin_InstallDeviceFeed\n"
                "  verdict: succeeded\n"
                "  started 11:15:26 (execute sequence), ended 11:15:26, return value 1 (success)\n"
                "Tovrin_InstallDevice\n"
                "  verdict: failed, and stopped the setup\n"
                "  scheduled 11:15:26 (execute sequence), return value 1 (success)\n"
                "  run from the script, started 11:15:26, ended 11:15:27, return value 0 (failed)\n"
                "  data: /inf=\"C:\\nowhere\\probe.inf\" /hwid=root\\probe\n"
                "  E SetupDiGetINFClass() = File not found. (0x80070002)\n"
                "  E File not found. (0x80070002)\n"
                "  message: The installer has encountered an unexpected error installing this package. This may "
                "indicate a problem with this package. The error code is 25000.\n"},
        WineLog{"wine-removal.log",
                "log: Wine\n"
                "setup: succeeded\n"
                "Tovrin_UninstallDeviceData\n"
                "  verdict: succeeded\n"
                "  started 11:14:00 (execute sequence), ended 11:14:00, return value 1 (success)\n"
                "Tovrin_UninstallDevice\n"
                "  verdict: succeeded, with 6 lines below to look at\n"
                "  started 11:14:00 (execute sequence), ended 11:14:00, return value 1 (success)\n"
                "  I ROOT\\NET\\0000 : RemoveDevice result = 80070490 (device not removed)\n"
                "  I ROOT\\NET\\0001 : RemoveDevice result = 80070490 (device not removed)\n"
                "  I ROOT\\NET\\0002 : RemoveDevice result = 80070490 (device not removed)\n"
                "  E SetupDiGetDeviceProperty() = Element not found. (0x80070490)\n"
                "  E SetupDiSetClassInstallParams() = Element not found. (0x80070490)\n"
                "  E SetupDiGetDeviceProperty() = Element not found. (0x80070490)\n"
                "  E SetupDiSetClassInstallParams() = Element not found. (0x80070490)\n"
                "  E SetupDiGetDeviceProperty() = Element not found. (0x80070490)\n"
                "  E SetupDiSetClassInstallParams() = Element not found. (0x80070490)\n"
                "Tovrin_RemoveRakAllData\n"
                "  verdict: succeeded\n"
                "  started 11:14:00 (execute sequence), ended 11:14:00, return value 1 (success)\n"
                "Tovrin_RemoveRakAll\n"
                "  verdict: succeeded (the lines below are expected)\n"
                "  started 11:14:00 (execute sequence), ended 11:14:01, return value 1 (success)\n"
                "  expected: W remove failed - C:\\users\\root\\AppData\\Local\\TESSMAR\\velk\\velk-access LE\\ Path "
                "not found. (0x80070003) (the user has no \" LE\" folder)\n"
                "  expected: W remove failed - C:\\users\\root\\AppData\\Local\\TESSMAR\\velk\\ Path not found. "
                "(0x80070003) (it went with the user's data folder)\n"
                "  expected: W remove failed - C:\\Program Files\\TESSMAR\\velk-access\\bin\\ Directory is not empty. "
                "(0x80070091) (the bin folder still holds other files)\n"
                "Tovrin_RemoveSparkleReg\n"
                "  verdict: succeeded\n"
                "  started 11:14:01 (execute sequence), ended 11:14:01, return value 1 (success)\n"}),
    [](const ::testing::TestParamInfo<WineLog>& info) {
      std::string name = fs::path(info.param.file).stem().string();
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

}  // namespace
