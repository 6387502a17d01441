#include "platform/Shell.h"

namespace platform {

namespace {

const wchar_t* OrNull(const std::wstring& s) { return s.empty() ? nullptr : s.c_str(); }

class Win32Shell : public Shell {
 public:
  BOOL Execute(const ShellExecuteRequest& request) override {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = request.mask;
    info.hwnd = request.window;
    info.lpVerb = OrNull(request.verb);
    // An empty file is passed as an empty string, not as no file.
    info.lpFile = request.file.c_str();
    info.lpParameters = OrNull(request.parameters);
    info.lpDirectory = OrNull(request.directory);
    info.nShow = request.show;
    return ShellExecuteExW(&info);
  }
};

}  // namespace

Shell& Shell::Default() {
  static Win32Shell shell;
  return shell;
}

}  // namespace platform
