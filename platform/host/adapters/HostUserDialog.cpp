// The message box on the host: caption and text on standard error; when a
// person sits at the terminal it waits for Enter, as the box waits for OK.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/UserDialog.h"
#include "platform/host/machine/Utf.h"

namespace platform {

namespace {

class HostUserDialog : public UserDialog {
 public:
  int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) override {
    std::string c = host::WideToUtf8(caption ? caption : L"Error");
    std::string t = host::WideToUtf8(text ? text : L"");
    std::fprintf(stderr, "[%s] %s\n", c.c_str(), t.c_str());
    if (::isatty(STDIN_FILENO)) {
      std::fprintf(stderr, "[%s] press Enter for OK\n", c.c_str());
      std::fflush(stderr);
      int ch;
      while ((ch = std::getchar()) != EOF && ch != '\n') {
      }
    }
    std::fflush(stderr);
    return IDOK;
  }
  // The host's box is a line on standard error, always seen.
  bool HasVisibleWindowStation() override { return true; }
};

}  // namespace

UserDialog& UserDialog::Default() {
  static HostUserDialog dialog;
  return dialog;
}

}  // namespace platform
