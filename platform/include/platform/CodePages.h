// Code-page conversions (ANSI, UTF-8, wide) with Win32 semantics.
#pragma once

#include <string>
#include <string_view>

#include "platform/Port.h"
#include "platform/WinTypes.h"

namespace platform {

class CodePages {
 public:
  virtual ~CodePages() = default;
  // MultiByteToWideChar / WideCharToMultiByte with no flags: a length of -1
  // takes the text up to and with its terminator; a destination size of 0
  // asks for the size needed; 0 means failure (last error set).
  virtual int MultiByteToWide(UINT codePage, const char* text, int bytes, wchar_t* out, int outChars) = 0;
  virtual int WideToMultiByte(UINT codePage, const wchar_t* text, int chars, char* out, int outBytes) = 0;
  virtual UINT AnsiCodePage() = 0;

  VELK_PORT(CodePages);
};

// Whole-string conversions; an unconvertible text yields false.
bool ToWide(UINT codePage, std::string_view text, std::wstring* out);
bool ToMultiByte(UINT codePage, std::wstring_view text, std::string* out);
std::string WideToAnsi(std::wstring_view text);
std::wstring AnsiToWide(std::string_view text);

}  // namespace platform
