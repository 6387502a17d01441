#include "platform/CodePages.h"

namespace platform {

namespace {

class Win32CodePages : public CodePages {
 public:
  int MultiByteToWide(UINT codePage, const char* text, int bytes, wchar_t* out, int outChars) override {
    return MultiByteToWideChar(codePage, 0, text, bytes, out, outChars);
  }
  int WideToMultiByte(UINT codePage, const wchar_t* text, int chars, char* out, int outBytes) override {
    return WideCharToMultiByte(codePage, 0, text, chars, out, outBytes, nullptr, nullptr);
  }
  UINT AnsiCodePage() override { return GetACP(); }
};

}  // namespace

CodePages& CodePages::Default() {
  static Win32CodePages pages;
  return pages;
}

}  // namespace platform
