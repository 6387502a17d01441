// rc-strings: turns the STRINGTABLE blocks of a UTF-8 resource script into
// a C++ table for the host build, so that the texts are written once, in
// the .rc that windres compiles into the Windows module.
//
//   rc-strings INPUT.rc OUTPUT.cpp SYMBOL
//
// Understood: "#..." lines (pragma, include: skipped), // comments,
// "LANGUAGE <LANG_x>, <SUBLANG_y>" (names or numbers), "STRINGTABLE" with
// BEGIN/END or braces, and entries "<id>[,] \"text\"" with the escapes of
// the resource compiler ("" \" \\ \n \r \t \a). Every id must exist in
// every language of the script.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Entry {
  unsigned id;
  unsigned language;
  std::u32string text;
};

[[noreturn]] void Die(const std::string& file, int line, const std::string& what) {
  std::fprintf(stderr, "%s:%d: error: %s\n", file.c_str(), line, what.c_str());
  std::exit(1);
}

const std::map<std::string, unsigned> kPrimary = {
    {"LANG_NEUTRAL", 0x00}, {"LANG_CHINESE", 0x04},  {"LANG_GERMAN", 0x07},
    {"LANG_ENGLISH", 0x09}, {"LANG_SPANISH", 0x0a},  {"LANG_FRENCH", 0x0c},
    {"LANG_ITALIAN", 0x10}, {"LANG_JAPANESE", 0x11}, {"LANG_KOREAN", 0x12},
};
const std::map<std::string, unsigned> kSub = {
    {"SUBLANG_NEUTRAL", 0x00},
    {"SUBLANG_DEFAULT", 0x01},
    {"SUBLANG_SYS_DEFAULT", 0x02},
    {"SUBLANG_ENGLISH_US", 0x01},
    {"SUBLANG_ENGLISH_UK", 0x02},
    {"SUBLANG_JAPANESE_JAPAN", 0x01},
    {"SUBLANG_GERMAN", 0x01},
    {"SUBLANG_FRENCH", 0x01},
    {"SUBLANG_KOREAN", 0x01},
    {"SUBLANG_CHINESE_SIMPLIFIED", 0x02},
    {"SUBLANG_CHINESE_TRADITIONAL", 0x01},
};

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool Number(const std::string& s, unsigned* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  unsigned long v = std::strtoul(s.c_str(), &end, 0);
  if (*end || v > 0xFFFF) return false;
  *out = static_cast<unsigned>(v);
  return true;
}

unsigned Lookup(const std::map<std::string, unsigned>& names, const std::string& word, const std::string& file,
                int line) {
  unsigned v;
  if (Number(word, &v)) return v;
  auto it = names.find(word);
  if (it == names.end()) Die(file, line, "unknown language name " + word);
  return it->second;
}

// Decodes UTF-8; a malformed sequence is an error, not a replacement.
std::u32string Decode(const std::string& s, const std::string& file, int line) {
  std::u32string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) Die(file, line, "text is not UTF-8");
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) Die(file, line, "text is not UTF-8");
      cp = (cp << 6) | (d & 0x3F);
    }
    out += cp;
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

// The text of a quoted string starting at s[pos] == '"'; pos ends after it.
std::string Unquote(const std::string& s, size_t& pos, const std::string& file, int line) {
  std::string out;
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      if (pos + 1 < s.size() && s[pos + 1] == '"') {
        out += '"';
        ++pos;
        continue;
      }
      ++pos;
      return out;
    }
    if (c == '\\' && pos + 1 < s.size()) {
      char e = s[++pos];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'a': out += '\a'; break;
        case '\\': out += '\\'; break;
        case '"': out += '"'; break;
        default: Die(file, line, std::string("unsupported escape \\") + e);
      }
      continue;
    }
    out += c;
  }
  Die(file, line, "unterminated string");
}

std::string CppLiteral(const std::u32string& text) {
  std::string out = "L\"";
  char buf[16];
  for (char32_t c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(buf, sizeof buf, "\\U%08X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: rc-strings INPUT.rc OUTPUT.cpp SYMBOL\n");
    return 2;
  }
  std::string file = argv[1];
  std::ifstream in(file, std::ios::binary);
  if (!in) Die(file, 0, "cannot read");
  std::vector<Entry> entries;
  std::set<unsigned> languages;
  std::map<unsigned, std::set<unsigned>> idsByLanguage;
  bool haveLanguage = false;
  unsigned language = 0;
  enum { Outside, Header, Inside } state = Outside;
  std::string raw;
  int line = 0;
  while (std::getline(in, raw)) {
    ++line;
    if (line == 1 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0) raw.erase(0, 3);
    std::string t = Trim(raw);
    if (t.empty() || t[0] == '#' || t.compare(0, 2, "//") == 0) continue;
    std::istringstream words(t);
    std::string first;
    words >> first;
    if (state == Outside) {
      if (first == "LANGUAGE") {
        std::string rest = t.substr(8);
        size_t comma = rest.find(',');
        if (comma == std::string::npos) Die(file, line, "LANGUAGE needs a primary and a sub-language");
        unsigned primary = Lookup(kPrimary, Trim(rest.substr(0, comma)), file, line);
        unsigned sub = Lookup(kSub, Trim(rest.substr(comma + 1)), file, line);
        language = (sub << 10) | primary;
        haveLanguage = true;
      } else if (first == "STRINGTABLE") {
        if (!haveLanguage) Die(file, line, "STRINGTABLE before any LANGUAGE statement");
        languages.insert(language);
        state = t.find('{') != std::string::npos || t.find("BEGIN") != std::string::npos ? Inside : Header;
      } else {
        Die(file, line, "only LANGUAGE and STRINGTABLE are understood here, got " + first);
      }
      continue;
    }
    if (state == Header) {
      if (first == "BEGIN" || first == "{") state = Inside;
      continue;  // memory options and the like
    }
    if (first == "END" || first == "}") {
      state = Outside;
      continue;
    }
    size_t quote = t.find('"');
    if (quote == std::string::npos) Die(file, line, "expected <id> \"text\"");
    std::string idText = Trim(t.substr(0, quote));
    if (!idText.empty() && idText.back() == ',') idText = Trim(idText.substr(0, idText.size() - 1));
    unsigned id;
    if (!Number(idText, &id)) Die(file, line, "string id must be a number, got '" + idText + "'");
    size_t pos = quote;
    std::string text = Unquote(t, pos, file, line);
    if (!Trim(t.substr(pos)).empty() && Trim(t.substr(pos)).compare(0, 2, "//") != 0)
      Die(file, line, "unexpected text after the string");
    if (!idsByLanguage[language].insert(id).second)
      Die(file, line, "string " + std::to_string(id) + " appears twice in one language");
    entries.push_back({id, language, Decode(text, file, line)});
  }
  if (state != Outside) Die(file, line, "STRINGTABLE not closed");
  for (const auto& [lang, ids] : idsByLanguage) {
    for (const auto& [other, otherIds] : idsByLanguage) {
      for (unsigned id : ids)
        if (!otherIds.count(id)) {
          char what[96];
          std::snprintf(what, sizeof what, "string %u is in language 0x%04x but not in 0x%04x", id, lang, other);
          Die(file, line, what);
        }
    }
  }

  std::ostringstream out;
  out << "// Generated by rc-strings from " << file << "; edit the .rc instead.\n"
      << "#include \"platform/StringTable.h\"\n\nnamespace {\n\n"
      << "const platform::StringTableEntry kEntries[] = {\n";
  char head[48];
  for (const Entry& e : entries) {
    std::snprintf(head, sizeof head, "    {%u, 0x%04x, ", e.id, e.language);
    out << head << CppLiteral(e.text) << "},\n";
  }
  if (entries.empty()) out << "    {0, 0, nullptr},\n";
  out << "};\n\n}  // namespace\n\n"
      << "extern const platform::StringTableRef " << argv[3] << " = {kEntries, kEntries, " << entries.size() << "};\n";
  std::string text = out.str();
  // Leave an unchanged file alone, so that nothing rebuilds for nothing.
  std::ifstream old(argv[2], std::ios::binary);
  std::stringstream previous;
  previous << old.rdbuf();
  if (old && previous.str() == text) return 0;
  std::ofstream o(argv[2], std::ios::binary | std::ios::trunc);
  o << text;
  if (!o) Die(argv[2], 0, "cannot write");
  return 0;
}
