#include "platform/host/machine/InfFile.h"

#include <fstream>
#include <sstream>

#include "platform/host/machine/Utf.h"

namespace platform::host {

namespace {

std::wstring Trim(std::wstring_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == L' ' || s[b] == L'\t' || s[b] == L'\r')) ++b;
  while (e > b && (s[e - 1] == L' ' || s[e - 1] == L'\t' || s[e - 1] == L'\r')) --e;
  return std::wstring(s.substr(b, e - b));
}

// Splits at commas outside quotes; quotes are removed ("" is a quote).
std::vector<std::wstring> Fields(std::wstring_view text) {
  std::vector<std::wstring> out;
  std::wstring cur;
  bool quoted = false;
  bool any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c == L'"') {
      if (quoted && i + 1 < text.size() && text[i + 1] == L'"') {
        cur += L'"';
        ++i;
      } else {
        quoted = !quoted;
      }
      any = true;
    } else if (c == L',' && !quoted) {
      out.push_back(Trim(cur));
      cur.clear();
    } else {
      cur += c;
      any = true;
    }
  }
  if (any || !out.empty()) out.push_back(Trim(cur));
  return out;
}

// Cuts a ';' comment that is not inside quotes.
std::wstring_view StripComment(std::wstring_view line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == L'"') quoted = !quoted;
    if (line[i] == L';' && !quoted) return line.substr(0, i);
  }
  return line;
}

}  // namespace

InfFile InfFile::Parse(std::string_view bytes) {
  std::wstring text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE)
    text = Utf16LeToWide(reinterpret_cast<const uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
  else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
    text = Utf8ToWide(bytes.substr(3));
  else
    text = Utf8ToWide(bytes);

  InfFile inf;
  Section* current = nullptr;
  std::wstring logical;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(L'\n', pos);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = Trim(StripComment(std::wstring_view(text).substr(pos, end - pos)));
    pos = end + 1;
    // A trailing backslash continues the line.
    if (!line.empty() && line.back() == L'\\') {
      logical += line.substr(0, line.size() - 1);
      if (pos <= text.size()) continue;
      line.clear();
    }
    line = logical + line;
    logical.clear();
    if (line.empty()) continue;
    if (line.front() == L'[') {
      size_t close = line.find(L']');
      inf.sections_.push_back(
          Section{Trim(line.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1)), {}});
      current = &inf.sections_.back();
      continue;
    }
    if (!current) continue;  // text before the first section is ignored, as SetupAPI does
    InfLine l;
    size_t eq = std::wstring::npos;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] == L'"') quoted = !quoted;
      if (line[i] == L'=' && !quoted) {
        eq = i;
        break;
      }
    }
    if (eq != std::wstring::npos) {
      std::vector<std::wstring> k = Fields(line.substr(0, eq));
      l.key = k.empty() ? L"" : k.front();
      l.fields = Fields(std::wstring_view(line).substr(eq + 1));
    } else {
      l.fields = Fields(line);
    }
    current->lines.push_back(std::move(l));
  }
  return inf;
}

bool InfFile::Load(const std::filesystem::path& file, InfFile* inf) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  *inf = Parse(ss.str());
  return true;
}

bool InfFile::HasSection(std::wstring_view name) const {
  for (const auto& s : sections_)
    if (EqualsNoCase(s.name, name)) return true;
  return false;
}

std::vector<const InfLine*> InfFile::Lines(std::wstring_view section) const {
  std::vector<const InfLine*> out;
  for (const auto& s : sections_)
    if (EqualsNoCase(s.name, section))
      for (const auto& l : s.lines) out.push_back(&l);
  return out;
}

bool InfFile::Value(std::wstring_view section, std::wstring_view key, std::wstring* value) const {
  for (const InfLine* l : Lines(section)) {
    if (!EqualsNoCase(l->key, key)) continue;
    *value = l->fields.empty() ? L"" : Expand(l->fields.front());
    return true;
  }
  return false;
}

std::wstring InfFile::Expand(std::wstring_view text) const {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'%') {
      out += text[i];
      continue;
    }
    size_t close = text.find(L'%', i + 1);
    if (close == std::wstring_view::npos) {
      out += text.substr(i);
      break;
    }
    std::wstring_view name = text.substr(i + 1, close - i - 1);
    if (name.empty()) {
      out += L'%';
    } else {
      std::wstring found;
      bool known = false;
      for (const InfLine* l : Lines(L"Strings")) {
        if (EqualsNoCase(l->key, name)) {
          found = l->fields.empty() ? L"" : l->fields.front();
          known = true;
          break;
        }
      }
      out += known ? found : L"%" + std::wstring(name) + L"%";
    }
    i = close;
  }
  return out;
}

}  // namespace platform::host
