// velk-machine: makes a host machine folder from what a Windows PC gives.
//
//   velk-machine import DIR [--acp N] [--ui-language N] [--current SID]
//                [--user SID FILE]... [--smbios FILE] [--capture FOLDER] [FILE.reg ...]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MachineImport.h"
#include "platform/host/machine/Utf.h"

namespace {

int Usage(const std::string& message) {
  if (!message.empty()) std::fprintf(stderr, "velk-machine: %s\n", message.c_str());
  std::fprintf(stderr,
               "usage: velk-machine import DIR [--acp N] [--ui-language N] [--current SID]\n"
               "                    [--user SID FILE]... [--smbios FILE] [--capture FOLDER] [FILE.reg ...]\n"
               "  FILE.reg         an export of HKEY_LOCAL_MACHINE keys or of HKEY_USERS\\<SID> keys\n"
               "  --user SID FILE  an export of HKEY_CURRENT_USER made by that user\n"
               "  --smbios FILE    dmidecode --dump-bin output or the raw GetSystemFirmwareTable('RSMB') data\n"
               "  --capture FOLDER the folder written by velk-capture.exe on the PC\n"
               "  --acp N          code page of REGEDIT4 exports and of the machine (else from the exports)\n");
  return 2;
}

bool Number(const char* text, UINT* out) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 10);
  if (!*text || *end || v == 0 || v > 0xFFFF) return false;
  *out = static_cast<UINT>(v);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::string(argv[1]) != "import") return Usage(argc < 2 ? "" : "unknown command");
  velk_machine::ImportRequest request;
  request.machine = argv[2];
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--acp" && hasValue) {
      if (!Number(argv[++i], &request.acp)) return Usage("--acp needs a code page number");
    } else if (a == "--ui-language" && hasValue) {
      if (!Number(argv[++i], &request.uiLanguage)) return Usage("--ui-language needs a language id");
    } else if (a == "--current" && hasValue) {
      request.current = platform::host::Utf8ToWide(argv[++i]);
    } else if (a == "--user" && i + 2 < argc) {
      request.userExports.emplace_back(platform::host::Utf8ToWide(argv[i + 1]), argv[i + 2]);
      i += 2;
    } else if (a == "--smbios" && hasValue) {
      request.smbios = argv[++i];
    } else if (a == "--capture" && hasValue) {
      request.capture = argv[++i];
    } else if (a.rfind("--", 0) == 0) {
      return Usage("unknown or incomplete option " + a);
    } else {
      request.exports.emplace_back(a);
    }
  }
  std::string report, error;
  if (!velk_machine::ImportMachine(request, &report, &error)) {
    std::fprintf(stderr, "velk-machine: %s\n", error.c_str());
    return 1;
  }
  std::fputs(report.c_str(), stdout);
  return 0;
}
