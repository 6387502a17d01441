// Code pages of the host: the machine's acp through iconv, completed with
// the single bytes Windows' table maps and iconv's lacks. Like Windows with
// WC_NO_BEST_FIT_CHARS, unmappable characters become '?' (and are
// reported), a character iconv writes only as a best fit included, and
// invalid bytes U+FFFD.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <type_traits>
#include <string>

#include "platform/CodePages.h"
#include "platform/LastError.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/Utf.h"

namespace platform {

namespace {

std::string CharsetName(UINT codePage) {
  if (codePage == CP_UTF8) return "UTF-8";
  if (codePage == 20127) return "ASCII";
  if (codePage == 28591) return "ISO-8859-1";
  return "CP" + std::to_string(codePage);
}

class Converter {
 public:
  Converter(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Single bytes that Windows' table of a code page maps and iconv's does not.
// Each stands at a character boundary only (0x80 and 0xA0 are also trail
// bytes of code page 932, which iconv reads).
struct ExtraByte {
  UINT codePage;
  unsigned char byte;
  wchar_t character;
};
constexpr ExtraByte kExtraBytes[] = {
    {932, 0x80, L'\u0080'}, {932, 0xA0, L'\uF8F0'}, {932, 0xFD, L'\uF8F1'},
    {932, 0xFE, L'\uF8F2'}, {932, 0xFF, L'\uF8F3'},
};

bool ExtraCharacter(UINT codePage, unsigned char byte, wchar_t* character) {
  for (const ExtraByte& e : kExtraBytes)
    if (e.codePage == codePage && e.byte == byte) return *character = e.character, true;
  return false;
}

bool ExtraByteOf(UINT codePage, wchar_t character, char* byte) {
  for (const ExtraByte& e : kExtraBytes)
    if (e.codePage == codePage && e.character == character) return *byte = static_cast<char>(e.byte), true;
  return false;
}

// Decodes text with iconv and the extra bytes; at a byte neither knows,
// invalid(i) says whether to go on (true: the byte was handled there).
template <class OnInvalid>
bool Decode(UINT codePage, std::string_view text, std::wstring* out, OnInvalid invalid) {
  Converter cv("WCHAR_T", CharsetName(codePage));
  if (!cv.ok()) return false;
  size_t i = 0;
  while (i < text.size()) {
    char* in = const_cast<char*>(text.data() + i);
    size_t inLeft = text.size() - i;
    wchar_t buf[256];
    char* o = reinterpret_cast<char*>(buf);
    size_t oLeft = sizeof buf;
    size_t r = iconv(cv.get(), &in, &inLeft, &o, &oLeft);
    out->append(buf, (sizeof buf - oLeft) / sizeof(wchar_t));
    i = text.size() - inLeft;
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
      wchar_t extra;
      if (ExtraCharacter(codePage, static_cast<unsigned char>(text[i]), &extra)) {
        *out += extra;
        ++i;
      } else if (!invalid(i, out)) {
        return false;
      } else {
        ++i;
      }
    }
  }
  return true;
}

// ANSI code pages agree with ASCII below 0x80, so plain ASCII text needs no
// converter at all.
template <class C>
bool IsAscii(const C* text, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (static_cast<uint32_t>(static_cast<std::make_unsigned_t<C>>(text[i])) >= 0x80) return false;
  return true;
}

class HostCodePages : public CodePages {
 public:
  UINT AnsiCodePage() override {
    const host::Machine* m = host::Machine::Current();
    return m ? m->Config().acp : 1252;
  }

  int MultiByteToWide(UINT codePage, const char* text, int bytes, wchar_t* out, int outChars) override {
    if (!text || bytes == 0 || bytes < -1 || outChars < 0) return Fail(ERROR_INVALID_PARAMETER);
    size_t n = bytes == -1 ? std::strlen(text) + 1 : static_cast<size_t>(bytes);
    std::wstring wide;
    if (IsAscii(text, n)) {
      wide.assign(text, text + n);
      return Deliver(wide.data(), wide.size(), out, outChars);
    }
    UINT cp = codePage == CP_ACP ? AnsiCodePage() : codePage;
    if (cp == CP_UTF8) {
      wide = host::Utf8ToWide(std::string_view(text, n));
    } else {
      bool known = Decode(cp, std::string_view(text, n), &wide, [](size_t, std::wstring* out) {
        *out += L'\uFFFD';  // an invalid or incomplete byte
        return true;
      });
      if (!known) return Fail(ERROR_INVALID_PARAMETER);
    }
    return Deliver(wide.data(), wide.size(), out, outChars);
  }

  int WideToMultiByte(UINT codePage, const wchar_t* text, int chars, char* out, int outBytes,
                      BOOL* usedDefault) override {
    if (usedDefault) *usedDefault = FALSE;
    if (!text || chars == 0 || chars < -1 || outBytes < 0) return Fail(ERROR_INVALID_PARAMETER);
    size_t n = chars == -1 ? std::wcslen(text) + 1 : static_cast<size_t>(chars);
    std::string narrow;
    if (IsAscii(text, n)) {
      narrow.assign(text, text + n);
      return Deliver(narrow.data(), narrow.size(), out, outBytes);
    }
    UINT cp = codePage == CP_ACP ? AnsiCodePage() : codePage;
    if (cp == CP_UTF8) {
      narrow = host::WideToUtf8(std::wstring_view(text, n));
    } else {
      Converter cv(CharsetName(cp), "WCHAR_T");
      Converter back("WCHAR_T", CharsetName(cp));
      if (!cv.ok() || !back.ok()) return Fail(ERROR_INVALID_PARAMETER);
      for (size_t i = 0; i < n; ++i) {
        char extra;
        if (ExtraByteOf(cp, text[i], &extra)) {
          narrow += extra;
          continue;
        }
        char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text + i));
        size_t inLeft = sizeof(wchar_t);
        char buf[16];
        char* o = buf;
        size_t oLeft = sizeof buf;
        bool mapped = iconv(cv.get(), &in, &inLeft, &o, &oLeft) != static_cast<size_t>(-1);
        iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
        // Only bytes that read back as the same character: iconv writes
        // some characters as a best fit (U+00A5 as '\\'), Windows as '?'.
        if (mapped) {
          wchar_t again[4];
          char* bi = buf;
          size_t biLeft = sizeof buf - oLeft;
          char* bo = reinterpret_cast<char*>(again);
          size_t boLeft = sizeof again;
          mapped = iconv(back.get(), &bi, &biLeft, &bo, &boLeft) != static_cast<size_t>(-1) && biLeft == 0 &&
                   sizeof again - boLeft == sizeof(wchar_t) && again[0] == text[i];
          iconv(back.get(), nullptr, nullptr, nullptr, nullptr);
        }
        if (mapped) {
          narrow.append(buf, sizeof buf - oLeft);
        } else {
          narrow += '?';
          if (usedDefault) *usedDefault = TRUE;
        }
      }
    }
    return Deliver(narrow.data(), narrow.size(), out, outBytes);
  }

 private:
  static int Fail(DWORD code) {
    SetLastErrorCode(code);
    return 0;
  }
  template <class C>
  static int Deliver(const C* data, size_t count, C* out, int room) {
    if (count > 0x7FFFFFFF) return Fail(ERROR_INVALID_PARAMETER);
    if (room == 0) return static_cast<int>(count);
    if (!out || static_cast<size_t>(room) < count) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, data, count * sizeof(C));
    return static_cast<int>(count);
  }
};

}  // namespace

namespace host {

bool DecodeStrict(unsigned codePage, std::string_view text, std::wstring* out, size_t* bad) {
  out->clear();
  if (codePage == CP_UTF8) {
    *bad = InvalidUtf8At(text);
    if (*bad != std::string_view::npos) return false;
    *out = Utf8ToWide(text);
    return true;
  }
  *bad = 0;  // a code page iconv does not know fails at the start
  return Decode(codePage, text, out, [bad](size_t at, std::wstring*) {
    *bad = at;
    return false;
  });
}

}  // namespace host

CodePages& CodePages::Default() {
  static HostCodePages pages;
  return pages;
}

}  // namespace platform
