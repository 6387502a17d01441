#include "platform/UserDialog.h"

namespace platform {

namespace {

class Win32UserDialog : public UserDialog {
 public:
  int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) override {
    return MessageBoxW(owner, text, caption, type);
  }
};

}  // namespace

UserDialog& UserDialog::Default() {
  static Win32UserDialog dialog;
  return dialog;
}

}  // namespace platform
