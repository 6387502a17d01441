// velk-attrib: shows or changes the attributes of a file of the host
// machine, as attrib.exe does on Windows.
//
//   velk-attrib [--machine DIR] [+R|-R] [+H|-H] [+S|-S] [+A|-A] PATH...
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/Utf.h"

namespace {

int Usage(const char* message) {
  if (message) std::fprintf(stderr, "velk-attrib: %s\n", message);
  std::fprintf(stderr, "usage: velk-attrib [--machine DIR] [+R|-R] [+H|-H] [+S|-S] [+A|-A] PATH...\n");
  return 2;
}

DWORD Bit(char letter) {
  switch (letter) {
    case 'R':
    case 'r': return FILE_ATTRIBUTE_READONLY;
    case 'H':
    case 'h': return FILE_ATTRIBUTE_HIDDEN;
    case 'S':
    case 's': return FILE_ATTRIBUTE_SYSTEM;
    case 'A':
    case 'a': return FILE_ATTRIBUTE_ARCHIVE;
    default: return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  DWORD set = 0, clear = 0;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--machine" && i + 1 < argc) {
      ::setenv("VELK_MACHINE", argv[++i], 1);
    } else if (a.size() == 2 && (a[0] == '+' || a[0] == '-') && Bit(a[1])) {
      (a[0] == '+' ? set : clear) |= Bit(a[1]);
    } else if (a.rfind("--", 0) == 0 || a == "-h") {
      return Usage(a == "-h" || a == "--help" ? nullptr : ("unknown option " + a).c_str());
    } else {
      paths.push_back(a);
    }
  }
  if (paths.empty()) return Usage("no path named");
  if (!platform::host::Machine::Current()) return 2;
  platform::FileSystem& files = platform::FileSystem::Default();
  int rc = 0;
  for (const auto& p : paths) {
    std::wstring path = platform::host::Utf8ToWide(p);
    DWORD a = files.GetAttributes(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
      std::fprintf(stderr, "velk-attrib: %s: error %u\n", p.c_str(),
                   static_cast<unsigned>(platform::GetLastErrorCode()));
      rc = 1;
      continue;
    }
    if (set || clear) {
      DWORD kept =
          a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
      DWORD next = (kept | set) & ~clear;
      if (!files.SetAttributes(path.c_str(), next ? next : FILE_ATTRIBUTE_NORMAL)) {
        std::fprintf(stderr, "velk-attrib: %s: error %u\n", p.c_str(),
                     static_cast<unsigned>(platform::GetLastErrorCode()));
        rc = 1;
      }
      continue;
    }
    std::printf("%c    %c%c%c       %s\n", a & FILE_ATTRIBUTE_ARCHIVE ? 'A' : ' ',
                a & FILE_ATTRIBUTE_SYSTEM ? 'S' : ' ', a & FILE_ATTRIBUTE_HIDDEN ? 'H' : ' ',
                a & FILE_ATTRIBUTE_READONLY ? 'R' : ' ', p.c_str());
  }
  return rc;
}
