// Shell port: open a document or address with its default handler.
#pragma once

#include <string>

#include "platform/Port.h"
#include "platform/WinTypes.h"

namespace platform {

// The members of SHELLEXECUTEINFOW the kit sets; an empty text is a null member.
struct ShellExecuteRequest {
  DWORD mask = 0;
  HWND window = nullptr;
  std::wstring verb;
  std::wstring file;
  std::wstring parameters;
  std::wstring directory;
  int show = 0;
};

class Shell {
 public:
  virtual ~Shell() = default;
  // ShellExecuteExW: FALSE with the last error set when refused.
  virtual BOOL Execute(const ShellExecuteRequest& request) = 0;

  VELK_PORT(Shell);
};

}  // namespace platform
