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
  // MultiByteToWideChar with no flags / WideCharToMultiByte with
  // WC_NO_BEST_FIT_CHARS: a length of -1 takes the text up to and with its
  // terminator; a destination size of 0 asks for the size needed; 0 means
  // failure (last error set). A character without its own place in the code
  // page becomes the default character '?' (never a look-alike, which could
  // name another existing file) and sets *usedDefault when that is given;
  // UTF-8 never uses it.
  virtual int MultiByteToWide(UINT codePage, const char* text, int bytes, wchar_t* out, int outChars) = 0;
  virtual int WideToMultiByte(UINT codePage, const wchar_t* text, int chars, char* out, int outBytes,
                              BOOL* usedDefault) = 0;
  virtual UINT AnsiCodePage() = 0;

  VELK_PORT(CodePages);
};

// Whole-string conversions; an unconvertible text yields false, and so does
// a wide text that needed the default character.
bool ToWide(UINT codePage, std::string_view text, std::wstring* out);
bool ToMultiByte(UINT codePage, std::wstring_view text, std::string* out);
// For log text: what does not convert shows as '?'.
std::string WideToAnsi(std::wstring_view text);
std::wstring AnsiToWide(std::string_view text);

}  // namespace platform
