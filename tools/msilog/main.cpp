// velk-msilog: summarises the kit's part of a verbose Windows Installer log
// (msiexec /l*v), as Windows (UTF-16) or Wine (ANSI) writes it.
//
//   velk-msilog LOG
//
// Exit code: 0 summarised, 1 the file is no installer log, 2 usage or
// unreadable file.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "MsiLogSummary.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velk-msilog LOG\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "velk-msilog: cannot read %s\n", argv[1]);
    return 2;
  }
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const msilog::Summary summary = msilog::Summarise(msilog::DecodeLog(bytes));
  if (!summary.recognised) {
    std::fprintf(stderr, "velk-msilog: %s holds no installer actions (not a verbose MSI log)\n", argv[1]);
    return 1;
  }
  std::fputs(msilog::Format(summary).c_str(), stdout);
  return 0;
}
