#include "ActionLine.h"

namespace msilog {
namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

bool NameChar(char c) { return Digit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '.'; }

// Length of a full stop at the start of text: ".", "。" in UTF-8 or in
// code page 932; 0 when there is none.
std::size_t FullStop(std::string_view text) {
  if (!text.empty() && text[0] == '.') return 1;
  if (text.substr(0, 3) == "\xE3\x80\x82") return 3;
  if (text.substr(0, 2) == "\x81\x42") return 2;
  return 0;
}

// Length of a full stop at the end of text.
std::size_t FullStopAtEnd(std::string_view text) {
  if (!text.empty() && text.back() == '.') return 1;
  if (text.size() >= 3 && text.substr(text.size() - 3) == "\xE3\x80\x82") return 3;
  if (text.size() >= 2 && text.substr(text.size() - 2) == "\x81\x42") return 2;
  return 0;
}

// Where "h:mm:ss: " or "hh:mm:ss: " begins, or npos. Digits, colons and
// spaces are never the second byte of a code page 932 character.
std::size_t FindTime(std::string_view line, std::size_t& length) {
  for (std::size_t colon = line.find(": "); colon != std::string_view::npos; colon = line.find(": ", colon + 1)) {
    if (colon < 7) continue;
    const char* t = line.data() + colon - 7;
    if (!(Digit(t[0]) && t[1] == ':' && Digit(t[2]) && Digit(t[3]) && t[4] == ':' && Digit(t[5]) && Digit(t[6])))
      continue;
    std::size_t from = colon - 7;
    if (from > 0 && Digit(line[from - 1])) --from;
    length = colon - from;
    return from;
  }
  return std::string_view::npos;
}

}  // namespace

bool ParseActionLine(std::string_view line, ActionLine& out) {
  std::size_t timeLength = 0;
  const std::size_t at = FindTime(line, timeLength);
  // The words before the time: one or a few, no colon (which keeps out the
  // engine's "MSI (s) (7C:48) [..]: " lines and the kit's "1: " lines).
  if (at == std::string_view::npos || at < 2 || at > 64 || line[at - 1] != ' ') return false;
  const std::string_view words = line.substr(0, at);
  if (words.find(':') != std::string_view::npos) return false;
  std::size_t name = at + timeLength + 2;
  std::size_t end = name;
  while (end < line.size() && NameChar(line[end])) ++end;
  std::string_view rest = line.substr(end);
  std::size_t nameLength = end - name;
  std::size_t stop = FullStop(rest);
  if (stop == 0 && nameLength > 0 && line[end - 1] == '.' && (rest.empty() || rest[0] == ' ')) {
    // The name's own run took the full stop.
    --nameLength;
    stop = 0;
  } else if (stop == 0) {
    return false;
  }
  if (nameLength == 0) return false;
  rest.remove_prefix(stop);
  out = ActionLine{};
  out.words = words;
  out.time = line.substr(at, timeLength);
  out.name = line.substr(name, nameLength);
  // A start ends at its full stop; anything after it (a space too) makes
  // the description line, unless it is words, a number and a full stop.
  if (rest.empty()) {
    out.kind = ActionLine::kStart;
    return true;
  }
  out.kind = ActionLine::kText;
  const std::size_t last = FullStopAtEnd(rest);
  if (rest[0] != ' ' || last == 0) return true;
  std::string_view body = rest.substr(0, rest.size() - last);
  std::size_t digits = body.size();
  while (digits > 0 && Digit(body[digits - 1])) --digits;
  if (digits == body.size()) return true;
  std::size_t number = digits;
  if (number > 0 && body[number - 1] == '-') --number;
  if (number < 2 || body[number - 1] != ' ' || body.find_first_not_of(' ') >= number - 1) return true;
  out.kind = ActionLine::kEnd;
  out.value = body.substr(number);
  return true;
}

}  // namespace msilog
