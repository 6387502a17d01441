// The one piece of user interface the kit has: a message box.
#pragma once

#include "platform/Port.h"
#include "platform/WinTypes.h"

namespace platform {

class UserDialog {
 public:
  virtual ~UserDialog() = default;
  // MessageBoxW(owner, text, caption, type): returns when the user closes
  // it, with the button chosen (IDOK), or 0 / -1 where no box can be shown.
  virtual int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) = 0;
  // Whether a box of this process can be seen at all: false in a window
  // station without visible display surfaces (services, SYSTEM in session 0),
  // where nobody could press OK.
  virtual bool HasVisibleWindowStation() = 0;

  VELK_PORT(UserDialog);
};

}  // namespace platform
