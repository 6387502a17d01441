#include "platform/host/machine/Utf.h"

#include <cwctype>

namespace platform::host {

namespace {
void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool Valid(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }
}  // namespace

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t w : text) {
    char32_t c = static_cast<char32_t>(w);
    AppendUtf8(out, Valid(c) ? c : 0xFFFD);
  }
  return out;
}

namespace {
// The length of the valid UTF-8 sequence at text[i] and its character; 0
// for an invalid, overlong, cut or surrogate sequence.
size_t DecodeUtf8(std::string_view text, size_t i, char32_t* c) {
  unsigned char b = static_cast<unsigned char>(text[i]);
  int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
  if (extra < 0 || i + static_cast<size_t>(extra) >= text.size()) return 0;
  *c = extra == 0 ? b : (b & (0x3F >> extra));
  for (int k = 1; k <= extra; ++k) {
    unsigned char n = static_cast<unsigned char>(text[i + k]);
    if ((n & 0xC0) != 0x80) return 0;
    *c = (*c << 6) | (n & 0x3F);
  }
  static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (*c < kMin[extra] || !Valid(*c)) return 0;
  return static_cast<size_t>(extra) + 1;
}
}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    char32_t c = 0;
    size_t n = DecodeUtf8(text, i, &c);
    out += n ? static_cast<wchar_t>(c) : L'\uFFFD';
    i += n ? n : 1;
  }
  return out;
}

size_t InvalidUtf8At(std::string_view text) {
  char32_t c = 0;
  for (size_t i = 0, n; i < text.size(); i += n)
    if ((n = DecodeUtf8(text, i, &c)) == 0) return i;
  return std::string_view::npos;
}

size_t LoneSurrogateAt(const uint8_t* bytes, size_t count) {
  size_t units = count / 2;
  for (size_t i = 0; i < units; ++i) {
    char32_t u = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    if (u < 0xD800 || u > 0xDFFF) continue;
    char32_t l = i + 1 < units ? bytes[2 * i + 2] | (bytes[2 * i + 3] << 8) : 0;
    if (u > 0xDBFF || l < 0xDC00 || l > 0xDFFF) return i;
    ++i;
  }
  return std::string_view::npos;
}

std::wstring Utf16LeToWide(const uint8_t* bytes, size_t count) {
  std::wstring out;
  size_t units = count / 2;
  out.reserve(units);
  for (size_t i = 0; i < units; ++i) {
    char32_t u = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      char32_t l = bytes[2 * i + 2] | (bytes[2 * i + 3] << 8);
      if (l >= 0xDC00 && l <= 0xDFFF) {
        out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (l - 0xDC00));
        ++i;
        continue;
      }
    }
    out += static_cast<wchar_t>((u >= 0xD800 && u <= 0xDFFF) ? 0xFFFD : u);
  }
  return out;
}

size_t Utf16Length(std::wstring_view text) {
  size_t n = text.size();
  for (wchar_t w : text)
    if (static_cast<char32_t>(w) >= 0x10000 && Valid(static_cast<char32_t>(w))) ++n;
  return n;
}

std::vector<uint8_t> WideToUtf16Le(std::wstring_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2);
  auto put = [&out](char32_t u) {
    out.push_back(static_cast<uint8_t>(u & 0xFF));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  for (wchar_t w : text) {
    char32_t c = static_cast<char32_t>(w);
    if (!Valid(c)) c = 0xFFFD;
    if (c >= 0x10000) {
      c -= 0x10000;
      put(0xD800 + (c >> 10));
      put(0xDC00 + (c & 0x3FF));
    } else {
      put(c);
    }
  }
  return out;
}

std::wstring UpperCase(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
  return out;
}

int CompareNoCase(std::wstring_view a, std::wstring_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    wint_t x = std::towupper(static_cast<wint_t>(a[i]));
    wint_t y = std::towupper(static_cast<wint_t>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) { return a.size() == b.size() && CompareNoCase(a, b) == 0; }

}  // namespace platform::host
