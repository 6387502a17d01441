// Logs of installers in other languages: Windows writes the action lines
// from localised templates and keeps its engine's own lines in English;
// Wine in Japanese writes its lines in Japanese, in code page 932.
#include <gtest/gtest.h>

#include <string>

#include "LogFiles.h"
#include "MsiLogSummary.h"

namespace {

struct LocalLog {
  const char* file;
  const char* summary;
};

void PrintTo(const LocalLog& log, std::ostream* out) { *out << log.file; }

class WindowsLocalLogs : public ::testing::TestWithParam<LocalLog> {};

// As Windows writes them (UTF-16LE, CR LF), and as UTF-8 text.
TEST_P(WindowsLocalLogs, SummaryAsPrinted) {
  const std::string utf8 = ReadBytes(kData / GetParam().file);
  const msilog::Summary summary = msilog::Summarise(msilog::DecodeLog(AsWindowsFile(utf8)));
  ASSERT_TRUE(summary.recognised);
  EXPECT_EQ(msilog::Format(summary), GetParam().summary);
  EXPECT_EQ(msilog::Format(msilog::Summarise(msilog::DecodeLog(utf8))), GetParam().summary);
}

// German: a whole installation, the OS check in both sequences, the
// driver bound without a reboot, the rollback action only written into
// the script. Japanese: a client found running, the device action failing
// in the script, its message after the engine's "Note: 1: 25000", and the
// rollback action run in the rollback.
INSTANTIATE_TEST_SUITE_P(
    Languages, WindowsLocalLogs,
    ::testing::Values(
        LocalLog{
            "windows-de-install.log",
            "log: Windows\n"
            "setup: succeeded\n"
            "Tovrin_IsSupportOS\n"
            "  verdict: succeeded\n"
            "  started 10:22:30 (UI sequence), ended 10:22:30, return value 1 (success)\n"
            "  started 10:22:31 (execute sequence), ended 10:22:31, return value 1 (success)\n"
            "Tovrin_InstallDeviceRollbackData\n"
            "  verdict: succeeded\n"
            "  started 10:22:31 (execute sequence), ended 10:22:31, return value 1 (success)\n"
            "  set Tovrin_InstallDeviceRollback = /hwid=root\\probe /clsid={4d36e972-e325-11ce-bfc1-08002be10318}\n"
            "Tovrin_InstallDeviceRollback\n"
            "  verdict: rollback action: scheduled only, did not run (nothing was rolled back)\n"
            "  scheduled 10:22:31 (execute sequence), return value 1 (success)\n"
            "Tovrin_InstallDevice\n"
            "  verdict: succeeded\n"
            "  scheduled 10:22:31 (execute sequence), return value 1 (success)\n"
            "  run from the script\n"
            "  data: /inf=\"C:\\Program Files\\Probe\\driver\\probe.inf\" /hwid=root\\probe /ConnName=\"velk-access "
            "VPN\"\n"
            "  I UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = 0 (driver bound, no reboot needed)\n"
            "  I SetConnectionName(\"velk-access VPN\")\n"},
        LocalLog{"windows-ja-deferred.log",
                 "log: Windows\n"
                 "setup: failed, stopped by Tovrin_InstallDevice (in the script run by InstallFinalize)\n"
                 "Tovrin_CheckRasExec\n"
                 "  verdict: succeeded, with 1 line below to look at\n"
                 "  started 5:30:35 (execute sequence), ended 5:30:35, return value 1 (success)\n"
                 "  I module = C:\\velk v1\\bin\\velk-access.exe (a running client found there)\n"
                 "  W No message box: UI level 2; the running client is flagged without asking\n"
                 "  set RASXX_RUNNING = 1\n"
                 "Tovrin_InstallDeviceRollback\n"
                 "  verdict: ran in the rollback: succeeded\n"
                 "  scheduled 5:30:36 (execute sequence), return value 1 (success)\n"
                 "  run in the rollback\n"
                 "  data: /hwid=root\\probe /clsid={4d36e972-e325-11ce-bfc1-08002be10318}\n"
                 "  I ROOT\\NET\\0000 : RemoveDevice result = 00000000 (device removed)\n"
                 "Tovrin_InstallDevice\n"
                 "  verdict: failed, and stopped the setup\n"
                 "  scheduled 5:30:36 (execute sequence), return value 1 (success)\n"
                 "  run from the script, returned 1603\n"
                 "  data: /inf=\"C:\\Program Files\\Probe\\driver\\probe.inf\" /hwid=root\\probe\n"
                 "  E UpdateDriverForPlugAndPlayDevices() = 指定されたファイルが見つかりません。(0x80070002)\n"
                 "  message: エラー 25000。Probe のセットアップに失敗しました (エラー -2147024894)。\n"}),
    [](const ::testing::TestParamInfo<LocalLog>& info) { return std::string(info.param.file).substr(8, 2); });

// The removal of the lifecycle case with Wine's lines in Japanese (code
// page 932): the same summary as in English.
TEST(WineLocalLogs, JapaneseReadsAsEnglish) {
  const msilog::Summary japanese = msilog::Summarise(msilog::DecodeLog(ReadBytes(kData / "wine-ja-removal.log")));
  const msilog::Summary english = msilog::Summarise(msilog::DecodeLog(ReadBytes(kData / "wine-removal.log")));
  ASSERT_TRUE(japanese.recognised);
  EXPECT_EQ(msilog::Format(japanese), msilog::Format(english));
}

}  // namespace
