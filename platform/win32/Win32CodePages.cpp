#include "platform/CodePages.h"

namespace platform {

namespace {

class Win32CodePages : public CodePages {
 public:
  int MultiByteToWide(UINT codePage, const char* text, int bytes, wchar_t* out, int outChars) override {
    return MultiByteToWideChar(codePage, 0, text, bytes, out, outChars);
  }
  int WideToMultiByte(UINT codePage, const wchar_t* text, int chars, char* out, int outBytes,
                      BOOL* usedDefault) override {
    if (usedDefault) *usedDefault = FALSE;
    // UTF-8 and UTF-7 refuse both the flag and the used-default output.
    if (codePage == CP_UTF8 || codePage == CP_UTF7)
      return WideCharToMultiByte(codePage, 0, text, chars, out, outBytes, nullptr, nullptr);
    return WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text, chars, out, outBytes, nullptr, usedDefault);
  }
  UINT AnsiCodePage() override { return GetACP(); }
};

}  // namespace

CodePages& CodePages::Default() {
  static Win32CodePages pages;
  return pages;
}

}  // namespace platform
