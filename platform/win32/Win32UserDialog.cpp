#include "platform/UserDialog.h"

namespace platform {

namespace {

class Win32UserDialog : public UserDialog {
 public:
  int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) override {
    return MessageBoxW(owner, text, caption, type);
  }
  bool HasVisibleWindowStation() override {
    HWINSTA station = GetProcessWindowStation();  // not to be closed
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    // Where it cannot be told, the box is shown as it always was.
    if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
  }
};

}  // namespace

UserDialog& UserDialog::Default() {
  static Win32UserDialog dialog;
  return dialog;
}

}  // namespace platform
