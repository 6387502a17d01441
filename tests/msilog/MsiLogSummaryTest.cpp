#include "MsiLogSummary.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(VELK_SOURCE_DIR) / "tests/msilog/data";

std::string ReadBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file) << path;
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// UTF-8 text as Windows writes its logs: UTF-16LE after a byte order mark,
// lines ending in CR LF.
std::string AsWindowsFile(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  auto unit = [&](unsigned c) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char b = utf8[i];
    unsigned c = b;
    int more = 0;
    if (b >= 0xF0) {
      c = b & 0x07;
      more = 3;
    } else if (b >= 0xE0) {
      c = b & 0x0F;
      more = 2;
    } else if (b >= 0xC0) {
      c = b & 0x1F;
      more = 1;
    }
    ++i;
    for (; more > 0; --more, ++i) c = (c << 6) | (static_cast<unsigned char>(utf8[i]) & 0x3F);
    if (c == '\n') unit('\r');
    if (c >= 0x10000) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return out;
}

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
            "  started 10:22:31, ended 10:22:31, return value 1 (success)\n"
            "  W TARGETDIR is not an absolute path: bin\\\n"
            "  set RASXX_RUNNING = 1\n"
            "Tovrin_InstallDevice\n"
            "  scheduled 10:22:31, return value 1 (success)\n"
            "  run from the script, returned 1603\n"
            "  data: /inf=\"C:\\Program Files\\Probe\\driver\\probe.inf\" /hwid=root\\probe\n"
            "  E UpdateDriverForPlugAndPlayDevices() = Das System kann die angegebene Datei nicht "
            "finden.(0x80070002)\n"
            "  message: Error 25000. Probe setup failed (error -2147024894).\n");
  EXPECT_EQ(msilog::Format(msilog::Summarise(msilog::DecodeLog(utf8))), msilog::Format(summary));
}

}  // namespace
