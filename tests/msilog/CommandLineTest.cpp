// velk-msilog as a program: its exit codes and messages.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "LogFiles.h"
#include "support/Command.h"

namespace fs = std::filesystem;

namespace {

const std::string kProgram = std::string(VELK_BINARY_DIR) + "/velk-msilog";

struct Call {
  const char* what;
  std::string arguments;  // as the shell reads them
  int code;
  std::string output;  // a line the output (standard output and error) holds
};

void PrintTo(const Call& call, std::ostream* out) { *out << call.what; }

class CommandLine : public ::testing::TestWithParam<Call> {
 protected:
  static void SetUpTestSuite() {
    fs::create_directories(Folder());
    const std::string log = ReadBytes(kData / "windows-de-install.log");
    std::ofstream(Folder() / "cut.log", std::ios::binary) << log.substr(0, log.find("Aktion gestartet um 10:22:32"));
    std::ofstream(Folder() / "text.log", std::ios::binary) << "hello\nworld\n";
    std::string zero = ReadBytes(kData / "windows-deferred.log");
    zero.insert(zero.find("TARGETDIR is"), std::string("\0", 1));
    std::ofstream(Folder() / "zero.log", std::ios::binary) << zero;
  }
  // One folder a process: ctest runs each call as a process of its own,
  // side by side, and none may read a file another is still writing.
  static fs::path Folder() { return fs::path(VELK_BINARY_DIR) / ("msilog-test-" + std::to_string(::getpid())); }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(Folder(), ec);
  }
};

TEST_P(CommandLine, ExitCodeAndMessage) {
  int code = -1;
  const std::string out = velk_test::RunCommand(
      "cd '" + Folder().string() + "' && " + kProgram + " " + GetParam().arguments + " 2>&1", &code);
  EXPECT_EQ(code, GetParam().code) << out;
  EXPECT_NE(out.find(GetParam().output), std::string::npos) << out;
}

const std::string kData_ = kData.string();

INSTANTIATE_TEST_SUITE_P(
    Calls, CommandLine,
    ::testing::Values(
        Call{"help", "--help", 2, "usage: velk-msilog LOG\n"}, Call{"no log", "", 2, "usage: velk-msilog LOG\n"},
        Call{"two logs", "a b", 2, "usage: velk-msilog LOG\n"},
        Call{"unknown option", "--verbose", 2, "velk-msilog: unknown option --verbose\n"},
        Call{"missing file", "missing.log", 3, "velk-msilog: cannot read missing.log: "},
        Call{"folder", ".", 3, "velk-msilog: cannot read .: it is a folder, not a log\n"},
        Call{"device", "/dev/zero", 3, "velk-msilog: cannot read /dev/zero: it is not a regular file\n"},
        Call{"no installer log", "text.log", 3,
             "velk-msilog: cannot read text.log: it holds no installer actions (not a verbose MSI log)\n"},
        Call{"succeeded", "'" + kData_ + "/windows-de-install.log'", 0, "setup: succeeded\n"},
        Call{"failed", "'" + kData_ + "/windows-ja-deferred.log'", 1,
             "setup: failed, stopped by Tovrin_InstallDevice (in the script run by InstallFinalize)\n"},
        Call{"cut before the end", "cut.log", 4, "setup: unknown (the log ends before the installation does)\n"},
        // A zero byte is shown as U+FFFD and the summary goes on past it.
        Call{"zero byte", "zero.log", 1, "  W \xEF\xBF\xBDTARGETDIR is not an absolute path: bin\\\n"}));

}  // namespace
