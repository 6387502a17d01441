// tovrin-run: loads the Tovrin library and calls one export by name, as
// msiexec (installer form) or rundll32 (command-line form) would.
//
//   tovrin-run [--machine DIR] [--library FILE] [--deferred|--rollback|--commit] EXPORT [NAME=VALUE ...]
//   tovrin-run [--machine DIR] [--library FILE] RunXxxW [COMMAND LINE ...]
//   tovrin-run --version
//
// --deferred, --rollback and --commit run the installer form as the
// installation script would: the export sees that run mode and can read
// only CustomActionData, ProductCode and UserSID of the properties given.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/WinTypes.h"
#include "platform/host/adapters/HostInstaller.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/Utf.h"
#include "velk/Version.h"

using platform::host::InstallerRecord;
using platform::host::RecordField;

namespace {

int Usage(const char* message) {
  if (message) std::fprintf(stderr, "tovrin-run: %s\n", message);
  std::fprintf(stderr,
               "usage: tovrin-run [--machine DIR] [--library FILE] [--deferred|--rollback|--commit] EXPORT "
               "[NAME=VALUE ...]\n"
               "       tovrin-run [--machine DIR] [--library FILE] RunXxxW [COMMAND LINE ...]\n"
               "       tovrin-run --version\n");
  return 2;
}

std::string FieldText(const RecordField& f) {
  if (const int* i = std::get_if<int>(&f)) return std::to_string(*i);
  if (const std::string* s = std::get_if<std::string>(&f)) return *s;
  return "";
}

std::string DefaultLibrary() {
  char self[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "libTovrin.so";
  self[n] = '\0';
  std::string dir(self);
  return dir.substr(0, dir.rfind('/') + 1) + "libTovrin.so";
}

// One line per message: log lines verbatim, errors as "Error <n>: <field 2>".
void PrintMessage(FILE* out, INSTALLMESSAGE type, const InstallerRecord& record) {
  auto field = [&](size_t i) { return i < record.fields.size() ? FieldText(record.fields[i]) : std::string(); };
  if (type == INSTALLMESSAGE_INFO) {
    std::fprintf(out, "%s\n", field(1).c_str());
  } else if (type == INSTALLMESSAGE_ERROR) {
    std::fprintf(out, "Error %s: %s\n", field(1).c_str(), field(2).c_str());
  } else {
    std::fprintf(out, "Message 0x%08x:", static_cast<unsigned>(type));
    for (size_t i = 1; i < record.fields.size(); ++i) std::fprintf(out, " %s", field(i).c_str());
    std::fprintf(out, "\n");
  }
  std::fflush(out);
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

int main(int argc, char** argv) {
  std::string library = DefaultLibrary();
  std::optional<MSIRUNMODE> scriptMode;
  int i = 1;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--machine" || a == "--library") && i + 1 < argc) {
      if (a == "--machine")
        ::setenv("VELK_MACHINE", argv[++i], 1);
      else
        library = argv[++i];
    } else if (a == "--deferred") {
      scriptMode = MSIRUNMODE_SCHEDULED;
    } else if (a == "--rollback") {
      scriptMode = MSIRUNMODE_ROLLBACK;
    } else if (a == "--commit") {
      scriptMode = MSIRUNMODE_COMMIT;
    } else if (a == "--help" || a == "-h") {
      return Usage(nullptr);
    } else if (a == "--version") {
      std::printf("tovrin-run (velk-access) %s\n", VELK_VERSION);
      return 0;
    } else if (StartsWith(a, "--")) {
      return Usage(("unknown option " + a).c_str());
    } else {
      break;
    }
  }
  if (i >= argc) return Usage("no export named");
  std::string exportName = argv[i++];
  if (!platform::host::Machine::Current()) return 2;

  void* module = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "tovrin-run: cannot load %s: %s\n", library.c_str(), ::dlerror());
    return 2;
  }
  void* entry = ::dlsym(module, exportName.c_str());
  if (!entry) {
    std::fprintf(stderr, "tovrin-run: %s has no export %s\n", library.c_str(), exportName.c_str());
    return 2;
  }
  platform::host::HostInstaller& installer = platform::host::HostInstallerInstance();

  if (exportName == "DebugEntryPointW") {
    using Fn = UINT (*)(HWND, HINSTANCE, LPWSTR, int);
    std::printf("Result: %u\n", reinterpret_cast<Fn>(entry)(nullptr, nullptr, nullptr, 1));
    return 0;
  }

  if (StartsWith(exportName, "Run") && exportName.back() == 'W') {
    std::string line;
    for (; i < argc; ++i) line += (line.empty() ? "" : " ") + std::string(argv[i]);
    std::wstring wide = platform::host::Utf8ToWide(line);
    installer.SetNoSessionSink([](INSTALLMESSAGE type, const InstallerRecord& r) {
      PrintMessage(stderr, type, r);
      return 0;
    });
    using Fn = HRESULT (*)(HWND, HINSTANCE, LPWSTR, int);
    HRESULT hr = reinterpret_cast<Fn>(entry)(nullptr, nullptr, wide.data(), 1);
    std::printf("HRESULT: 0x%08x\n", static_cast<unsigned>(hr));
    return SUCCEEDED(hr) ? 0 : 1;
  }

  std::vector<std::pair<std::wstring, std::wstring>> properties;
  for (; i < argc; ++i) {
    std::string a = argv[i];
    size_t eq = a.find('=');
    if (eq == std::string::npos || eq == 0) return Usage(("expected NAME=VALUE, got " + a).c_str());
    properties.emplace_back(platform::host::Utf8ToWide(a.substr(0, eq)), platform::host::Utf8ToWide(a.substr(eq + 1)));
  }
  MSIHANDLE session = installer.OpenSession(
      properties,
      [](INSTALLMESSAGE type, const InstallerRecord& r) {
        PrintMessage(stdout, type, r);
        return 1;  // IDOK
      },
      scriptMode);
  using Fn = UINT (*)(MSIHANDLE);
  UINT result = reinterpret_cast<Fn>(entry)(session);
  for (const auto& [name, value] : installer.PropertiesSet(session))
    std::printf("Property: %s=%s\n", platform::host::WideToUtf8(name).c_str(),
                platform::host::WideToUtf8(value).c_str());
  std::printf("Result: %u\n", result);
  return 0;
}
