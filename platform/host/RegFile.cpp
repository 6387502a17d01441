#include "platform/host/RegFile.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace platform::host {

RegValue* RegNode::FindValue(std::wstring_view name) {
  for (auto& [n, v] : values)
    if (EqualsNoCase(n, name)) return &v;
  return nullptr;
}

void RegNode::SetValue(const std::wstring& name, RegValue value) {
  if (RegValue* v = FindValue(name)) {
    *v = std::move(value);
    return;
  }
  values.emplace_back(name, std::move(value));
}

bool RegNode::DeleteValue(std::wstring_view name) {
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (EqualsNoCase(it->first, name)) {
      values.erase(it);
      return true;
    }
  }
  return false;
}

RegNode* RegNode::Child(const std::wstring& name) const {
  auto it = subkeys.find(name);
  return it == subkeys.end() ? nullptr : it->second.get();
}

RegNode* RegNode::CreateChild(const std::wstring& name) {
  auto& slot = subkeys[name];
  if (!slot) slot = std::make_unique<RegNode>();
  return slot.get();
}

RegValue MakeString(DWORD type, std::wstring_view text) {
  RegValue v;
  v.type = type;
  std::wstring with(text);
  with.push_back(L'\0');
  const auto* p = reinterpret_cast<const uint8_t*>(with.data());
  v.data.assign(p, p + with.size() * sizeof(wchar_t));
  return v;
}

RegValue MakeMultiString(const std::vector<std::wstring>& items) {
  std::wstring all;
  for (const auto& i : items) {
    all += i;
    all.push_back(L'\0');
  }
  RegValue v = MakeString(REG_MULTI_SZ, all);
  return v;
}

RegValue MakeDword(DWORD value) {
  RegValue v;
  v.type = REG_DWORD;
  v.data.resize(4);
  std::memcpy(v.data.data(), &value, 4);
  return v;
}

namespace {

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ || type == REG_LINK;
}

std::vector<uint8_t> WideBytes(const std::wstring& w) {
  const auto* p = reinterpret_cast<const uint8_t*>(w.data());
  return std::vector<uint8_t>(p, p + w.size() * sizeof(wchar_t));
}

std::wstring BytesToWide(const std::vector<uint8_t>& data) {
  std::wstring w(data.size() / sizeof(wchar_t), L'\0');
  std::memcpy(w.data(), data.data(), w.size() * sizeof(wchar_t));
  return w;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Parser {
 public:
  Parser(std::string_view text, const std::wstring& rootName, const std::string& fileName, RegNode* root,
         std::string* error)
      : text_(text), rootName_(rootName), fileName_(fileName), root_(root), error_(error) {}

  bool Run() {
    if (text_.size() >= 3 && std::memcmp(text_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
    std::string line;
    bool sawHeader = false;
    while (NextLogicalLine(&line)) {
      std::string t = Trim(line);
      if (t.empty() || t[0] == ';') continue;
      if (!sawHeader) {
        if (t != "Windows Registry Editor Version 5.00")
          return Fail("expected the header \"Windows Registry Editor Version 5.00\"");
        sawHeader = true;
        continue;
      }
      if (t[0] == '[') {
        if (!Section(t)) return false;
      } else if (!Value(t)) {
        return false;
      }
    }
    return true;
  }

 private:
  static std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
  }

  // Joins lines continued with a trailing backslash (hex data only).
  bool NextLogicalLine(std::string* out) {
    if (pos_ >= text_.size()) return false;
    out->clear();
    startLine_ = line_ + 1;
    while (pos_ < text_.size()) {
      size_t nl = text_.find('\n', pos_);
      std::string_view raw = text_.substr(pos_, nl == std::string_view::npos ? std::string_view::npos : nl - pos_);
      pos_ = nl == std::string_view::npos ? text_.size() : nl + 1;
      ++line_;
      std::string piece = Trim(std::string(raw));
      // Only hex data continues on the next line.
      if (!piece.empty() && piece.back() == '\\' && (*out + piece).find("=hex") != std::string::npos) {
        piece.pop_back();
        *out += piece;
        continue;
      }
      *out += piece;
      return true;
    }
    return true;
  }

  bool Fail(const std::string& what) {
    *error_ = fileName_ + ":" + std::to_string(startLine_) + ": " + what;
    return false;
  }

  bool Section(const std::string& t) {
    if (t.back() != ']') return Fail("unterminated key name");
    std::string inner = t.substr(1, t.size() - 2);
    if (!inner.empty() && inner[0] == '-') return Fail("key deletion entries are not supported in a hive file");
    std::wstring path = Utf8ToWide(inner);
    if (path.size() < rootName_.size() || !EqualsNoCase(path.substr(0, rootName_.size()), rootName_) ||
        (path.size() > rootName_.size() && path[rootName_.size()] != L'\\'))
      return Fail("key outside " + WideToUtf8(rootName_));
    current_ = root_;
    std::wstring rest = path.size() > rootName_.size() ? path.substr(rootName_.size() + 1) : L"";
    std::wstring part;
    for (size_t i = 0; i <= rest.size(); ++i) {
      if (i == rest.size() || rest[i] == L'\\') {
        if (part.empty()) {
          if (i == rest.size() && !rest.empty()) break;
          if (rest.empty()) break;
          return Fail("empty key name component");
        }
        current_ = current_->CreateChild(part);
        part.clear();
      } else {
        part += rest[i];
      }
    }
    return true;
  }

  bool Value(const std::string& t) {
    if (!current_) return Fail("value outside a key");
    std::wstring name;
    size_t i = 0;
    if (t[0] == '@') {
      i = 1;
    } else if (t[0] == '"') {
      std::string n;
      if (!QuotedString(t, &i, &n)) return Fail("unterminated value name");
      name = Utf8ToWide(n);
    } else {
      return Fail("expected a key in brackets or a \"name\"=value line");
    }
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    if (i >= t.size() || t[i] != '=') return Fail("expected '=' after the value name");
    ++i;
    while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
    std::string data = t.substr(i);
    RegValue v;
    if (!Data(data, &v)) return false;
    current_->SetValue(name, std::move(v));
    return true;
  }

  // A quoted string starting at t[*i] == '"'; \\ and \" are escapes.
  static bool QuotedString(const std::string& t, size_t* i, std::string* out) {
    size_t k = *i + 1;
    while (k < t.size()) {
      char c = t[k];
      if (c == '\\' && k + 1 < t.size()) {
        *out += t[k + 1];
        k += 2;
        continue;
      }
      if (c == '"') {
        *i = k + 1;
        return true;
      }
      *out += c;
      ++k;
    }
    return false;
  }

  bool Data(const std::string& d, RegValue* v) {
    if (d.empty()) return Fail("missing value data");
    if (d == "-") return Fail("value deletion entries are not supported in a hive file");
    if (d[0] == '"') {
      size_t i = 0;
      std::string s;
      if (!QuotedString(d, &i, &s)) return Fail("unterminated string value");
      if (Trim(d.substr(i)).size() != 0) return Fail("text after the string value");
      *v = MakeString(REG_SZ, Utf8ToWide(s));
      return true;
    }
    if (d.compare(0, 6, "dword:") == 0) {
      std::string h = d.substr(6);
      if (h.empty() || h.size() > 8) return Fail("dword needs 1 to 8 hex digits");
      DWORD x = 0;
      for (char c : h) {
        int k = HexDigit(c);
        if (k < 0) return Fail("bad hex digit in dword");
        x = (x << 4) | static_cast<DWORD>(k);
      }
      *v = MakeDword(x);
      return true;
    }
    if (d.compare(0, 3, "hex") == 0) {
      size_t i = 3;
      DWORD type = REG_BINARY;
      if (i < d.size() && d[i] == '(') {
        size_t close = d.find(')', i);
        if (close == std::string::npos || close == i + 1 || close - i > 9) return Fail("bad hex(type)");
        type = 0;
        for (size_t k = i + 1; k < close; ++k) {
          int x = HexDigit(d[k]);
          if (x < 0) return Fail("bad hex(type)");
          type = (type << 4) | static_cast<DWORD>(x);
        }
        i = close + 1;
      }
      if (i >= d.size() || d[i] != ':') return Fail("expected ':' after hex");
      std::vector<uint8_t> bytes;
      std::string byte;
      for (size_t k = i + 1; k <= d.size(); ++k) {
        char c = k < d.size() ? d[k] : ',';
        if (c == ' ' || c == '\t') continue;
        if (c == ',') {
          if (byte.empty()) {
            if (k == d.size()) break;
            return Fail("empty byte in hex data");
          }
          if (byte.size() > 2) return Fail("bad byte '" + byte + "' in hex data");
          int hi = byte.size() == 2 ? HexDigit(byte[0]) : 0;
          int lo = HexDigit(byte.back());
          if (hi < 0 || lo < 0) return Fail("bad byte '" + byte + "' in hex data");
          bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
          byte.clear();
        } else {
          byte += c;
        }
      }
      v->type = type;
      if (IsStringType(type)) {
        if (bytes.size() % 2) return Fail("string data with an odd number of bytes");
        v->data = WideBytes(Utf16LeToWide(bytes.data(), bytes.size()));
      } else {
        v->data = std::move(bytes);
      }
      return true;
    }
    return Fail("unknown value data '" + d.substr(0, 20) + "'");
  }

  std::string_view text_;
  const std::wstring& rootName_;
  const std::string& fileName_;
  RegNode* root_;
  std::string* error_;
  RegNode* current_ = nullptr;
  size_t pos_ = 0;
  int line_ = 0;
  int startLine_ = 0;
};

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(b, sizeof b, "%s%02x", i ? "," : "", bytes[i]);
    out += b;
  }
  return out;
}

// A REG_SZ that round-trips through the quoted form: one terminator at the end,
// none inside, no line breaks.
bool PlainString(const RegValue& v, std::wstring* text) {
  if (v.type != REG_SZ || v.data.size() % sizeof(wchar_t) || v.data.empty()) return false;
  std::wstring w = BytesToWide(v.data);
  if (w.back() != L'\0') return false;
  w.pop_back();
  if (w.find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos) return false;
  *text = w;
  return true;
}

void FormatValue(std::string& out, const std::wstring& name, const RegValue& v) {
  if (name.empty())
    out += "@=";
  else
    out += "\"" + Escape(WideToUtf8(name)) + "\"=";
  std::wstring text;
  char b[32];
  if (PlainString(v, &text)) {
    out += "\"" + Escape(WideToUtf8(text)) + "\"";
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    DWORD x;
    std::memcpy(&x, v.data.data(), 4);
    std::snprintf(b, sizeof b, "dword:%08x", x);
    out += b;
  } else if (v.type == REG_BINARY) {
    out += "hex:" + Hex(v.data);
  } else {
    std::snprintf(b, sizeof b, "hex(%x):", v.type);
    out += b;
    if (IsStringType(v.type)) {
      std::vector<uint8_t> padded = v.data;
      padded.resize((padded.size() + sizeof(wchar_t) - 1) / sizeof(wchar_t) * sizeof(wchar_t));
      out += Hex(WideToUtf16Le(BytesToWide(padded)));
    } else {
      out += Hex(v.data);
    }
  }
  out += "\r\n";
}

void FormatKey(std::string& out, const RegNode& node, const std::string& path) {
  out += "[" + path + "]\r\n";
  for (const auto& [name, value] : node.values) FormatValue(out, name, value);
  out += "\r\n";
  for (const auto& [name, child] : node.subkeys) FormatKey(out, *child, path + "\\" + WideToUtf8(name));
}

}  // namespace

bool ParseRegText(std::string_view text, const std::wstring& rootName, const std::string& fileName, RegNode* root,
                  std::string* error) {
  Parser p(text, rootName, fileName, root, error);
  return p.Run();
}

std::string FormatRegText(const RegNode& root, const std::wstring& rootName) {
  std::string out = "Windows Registry Editor Version 5.00\r\n\r\n";
  FormatKey(out, root, WideToUtf8(rootName));
  return out;
}

bool ReadRegFile(const fs::path& file, const std::wstring& rootName, RegNode* root, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    *error = file.string() + ": cannot be read";
    return false;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  return ParseRegText(ss.str(), rootName, file.string(), root, error);
}

bool WriteRegFileAtomic(const fs::path& file, const RegNode& root, const std::wstring& rootName, std::string* error) {
  std::error_code ec;
  fs::create_directories(file.parent_path(), ec);
  fs::path tmp = file;
  tmp += ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    std::string text = FormatRegText(root, rootName);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      *error = tmp.string() + ": cannot be written";
      fs::remove(tmp, ec);
      return false;
    }
  }
  fs::rename(tmp, file, ec);
  if (ec) {
    *error = file.string() + ": cannot be replaced: " + ec.message();
    fs::remove(tmp, ec);
    return false;
  }
  return true;
}

}  // namespace platform::host
