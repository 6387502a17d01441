// velk-msilog: summarises the kit's part of a verbose Windows Installer log
// (msiexec /l*v), as Windows (UTF-16) or Wine (ANSI) writes it, in any
// installer language.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "MsiLogSummary.h"

namespace {

// Exit codes (README, "Reading the MSI log").
constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kUnreadable = 3;
constexpr int kUnknown = 4;

const char kUsageText[] =
    "usage: velk-msilog LOG\n"
    "Summarises the velk-access kit's actions in a verbose MSI log (msiexec /l*v).\n"
    "Exit code: 0 the setup succeeded, 1 it failed, 2 usage, 3 the log could not\n"
    "be read (missing, a folder or device, unreadable, or no installer log),\n"
    "4 the log ends before the setup does.\n";

int Unreadable(const char* path, const std::string& why) {
  std::fprintf(stderr, "velk-msilog: cannot read %s: %s\n", path, why.c_str());
  return kUnreadable;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsageText, stdout);
    return kUsage;
  }
  if (argc != 2 || argv[1][0] == '\0' || (argv[1][0] == '-' && argv[1][1] != '\0')) {
    if (argc == 2) std::fprintf(stderr, "velk-msilog: unknown option %s\n", argv[1]);
    std::fputs(kUsageText, stderr);
    return kUsage;
  }
  const char* path = argv[1];
  // The C runtime's stat, on both systems (std::filesystem would bring two
  // dozen more imports into the Windows program).
  struct stat status {};
  if (::stat(path, &status) != 0) return Unreadable(path, std::strerror(errno));
  if (S_ISDIR(status.st_mode)) return Unreadable(path, "it is a folder, not a log");
  // A device or a pipe could be read for ever.
  if (!S_ISREG(status.st_mode)) return Unreadable(path, "it is not a regular file");
  const std::uintmax_t size = static_cast<std::uintmax_t>(status.st_size);
  std::ifstream file(path, std::ios::binary);
  if (!file) return Unreadable(path, "it cannot be opened");

  // Read what the file held when it was opened: a log still being
  // written is summarised as far as it went.
  msilog::LogReader reader;
  std::vector<char> buffer(64 * 1024);
  std::uintmax_t left = size;
  while (left > 0) {
    const std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
    file.read(buffer.data(), static_cast<std::streamsize>(want));
    const std::size_t got = static_cast<std::size_t>(file.gcount());
    if (got == 0) break;
    reader.Feed(buffer.data(), got);
    left -= got;
  }
  if (file.bad()) return Unreadable(path, "a read failed");
  const msilog::Summary summary = reader.Finish();
  if (!summary.recognised) return Unreadable(path, "it holds no installer actions (not a verbose MSI log)");
  const std::string text = msilog::Format(summary);
  std::fwrite(text.data(), 1, text.size(), stdout);
  if (!summary.known) return kUnknown;
  return summary.failed ? kFailed : kSucceeded;
}
