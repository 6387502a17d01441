// Shell open on the host: a web address, or the machine path of a file,
// goes to xdg-open; like Windows, a missing file is ERROR_FILE_NOT_FOUND and
// no handler is ERROR_NO_ASSOCIATION.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/LastError.h"
#include "platform/Shell.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/Utf.h"
#include "platform/host/posix/WaitChild.h"

extern char** environ;

namespace platform {

namespace {

// A scheme begins with a letter, so no address reaches xdg-open looking
// like an option (it refuses "--" too); machine paths begin with '/'.
bool IsAddress(const std::wstring& file) {
  size_t colon = file.find(L':');
  if (colon == std::wstring::npos || colon < 2) return false;  // "C:" is a drive
  if (!(file[0] < 0x80 && iswalpha(file[0]))) return false;
  for (size_t i = 1; i < colon; ++i)
    if (!iswalnum(file[i]) && file[i] != L'+' && file[i] != L'-' && file[i] != L'.') return false;
  return true;
}

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string all = path;
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(':', start);
    std::string dir = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

class HostShell : public Shell {
 public:
  BOOL Execute(const ShellExecuteRequest& request) override {
    std::string target;
    if (IsAddress(request.file)) {
      target = host::WideToUtf8(request.file);
    } else {
      const host::Machine* m = host::Machine::Current();
      std::filesystem::path p;
      std::error_code ec;
      if (request.file.empty() || !m || !m->MapPath(request.file, &p) || !std::filesystem::exists(p, ec))
        return Fail(ERROR_FILE_NOT_FOUND);
      target = p.string();
    }
    if (!OnPath("xdg-open")) return Fail(ERROR_NO_ASSOCIATION);
    char* argv[] = {const_cast<char*>("xdg-open"), target.data(), nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return Fail(ERROR_NO_ASSOCIATION);
    // The request asks to return only once the handler has been started.
    int status = 0;
    if (host::WaitChild(pid, &status) != pid) return Fail(ERROR_NO_ASSOCIATION);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return Fail(ERROR_NO_ASSOCIATION);
    return TRUE;
  }

 private:
  static BOOL Fail(DWORD code) {
    SetLastErrorCode(code);
    return FALSE;
  }
};

}  // namespace

Shell& Shell::Default() {
  static HostShell shell;
  return shell;
}

}  // namespace platform
