// printf for the kit's narrow text on the host. glibc would turn %ls into
// the process locale's multibyte text (UTF-8); the Windows runtime writes
// the user's ANSI code page, so wide arguments go through the machine's acp
// here, as WideCharToMultiByte(CP_ACP) converts them. Everything else is
// left to vsnprintf, one conversion at a time.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/CodePages.h"
#include "platform/Runtime.h"

namespace platform {

namespace {

void AppendFormatted(std::string* out, const char* conversion, ...) {
  va_list args, again;
  va_start(args, conversion);
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, conversion, args);
  if (n > 0) {
    size_t at = out->size();
    out->resize(at + static_cast<size_t>(n) + 1);
    std::vsnprintf(out->data() + at, static_cast<size_t>(n) + 1, conversion, again);
    out->resize(at + static_cast<size_t>(n));
  }
  va_end(again);
  va_end(args);
}

// Formats one printf conversion (flags, width, precision, length and
// letter, with '*' already replaced), taking its argument.
void FormatOne(std::string* out, std::string conversion, const std::string& length, char letter, va_list* args) {
  switch (letter) {
    case 'd':
    case 'i':
      if (length == "l") return AppendFormatted(out, conversion.c_str(), va_arg(*args, long));
      if (length == "ll") return AppendFormatted(out, conversion.c_str(), va_arg(*args, long long));
      if (length == "j") return AppendFormatted(out, conversion.c_str(), va_arg(*args, intmax_t));
      if (length == "z" || length == "t") return AppendFormatted(out, conversion.c_str(), va_arg(*args, ptrdiff_t));
      return AppendFormatted(out, conversion.c_str(), va_arg(*args, int));
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      if (length == "l") return AppendFormatted(out, conversion.c_str(), va_arg(*args, unsigned long));
      if (length == "ll") return AppendFormatted(out, conversion.c_str(), va_arg(*args, unsigned long long));
      if (length == "j") return AppendFormatted(out, conversion.c_str(), va_arg(*args, uintmax_t));
      if (length == "z" || length == "t") return AppendFormatted(out, conversion.c_str(), va_arg(*args, size_t));
      return AppendFormatted(out, conversion.c_str(), va_arg(*args, unsigned));
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      if (length == "L") return AppendFormatted(out, conversion.c_str(), va_arg(*args, long double));
      return AppendFormatted(out, conversion.c_str(), va_arg(*args, double));
    case 'p': return AppendFormatted(out, conversion.c_str(), va_arg(*args, void*));
    case 'n':
      (void)va_arg(*args, void*);  // counts are not reported
      return;
    case 'c':
    case 's': break;
    default:
      out->append(conversion);  // not a conversion: kept as written
      return;
  }
  bool wide = length == "l";
  if (!wide) {
    if (letter == 'c') return AppendFormatted(out, conversion.c_str(), va_arg(*args, int));
    return AppendFormatted(out, conversion.c_str(), va_arg(*args, const char*));
  }
  std::wstring text;
  if (letter == 'c') {
    text.assign(1, static_cast<wchar_t>(va_arg(*args, wint_t)));
  } else {
    const wchar_t* p = va_arg(*args, const wchar_t*);
    text = p ? p : L"(null)";
  }
  std::string narrow = WideToAnsi(text);
  // The conversion loses its 'l': the converted text is formatted as bytes.
  conversion.erase(conversion.size() - 2, 1);
  conversion.back() = 's';
  AppendFormatted(out, conversion.c_str(), narrow.c_str());
}

}  // namespace

int FormatAnsi(char* buffer, size_t size, const char* format, va_list args) {
  va_list ap;
  va_copy(ap, args);
  std::string out;
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      out += *p++;
      continue;
    }
    if (p[1] == '%') {
      out += '%';
      p += 2;
      continue;
    }
    std::string conversion(1, '%');
    ++p;
    while (*p && std::strchr("-+ #0'", *p)) conversion += *p++;
    auto number = [&]() {
      if (*p == '*') {
        conversion += std::to_string(va_arg(ap, int));
        ++p;
      } else {
        while (*p >= '0' && *p <= '9') conversion += *p++;
      }
    };
    number();
    if (*p == '.') {
      conversion += *p++;
      number();
    }
    std::string length;
    while (*p && std::strchr("hljztL", *p)) length += *p++;
    if (!*p) {
      out += conversion + length;
      break;
    }
    char letter = *p++;
    if (letter == 'S' || letter == 'C') {  // the wide forms of %s and %c
      length.assign(1, 'l');
      letter = static_cast<char>(letter + ('a' - 'A'));
    }
    FormatOne(&out, conversion + length + letter, length, letter, &ap);
  }
  va_end(ap);
  if (size) {
    size_t n = out.size() < size - 1 ? out.size() : size - 1;
    std::memcpy(buffer, out.data(), n);
    buffer[n] = '\0';
  }
  return static_cast<int>(out.size());
}

}  // namespace platform
