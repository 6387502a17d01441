#include "platform/host/machine/RegFile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/CodePages.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/SideFiles.h"
#include "platform/host/posix/ReadWrite.h"
#include "platform/host/posix/UniqueFd.h"

namespace fs = std::filesystem;

namespace platform::host {

RegNode::~RegNode() {
  std::vector<std::unique_ptr<RegNode>> pending;
  auto takeChildren = [&pending](RegNode& node) {
    for (auto& [name, child] : node.subkeys) pending.push_back(std::move(child));
    node.subkeys.clear();
  };
  takeChildren(*this);
  while (!pending.empty()) {
    std::unique_ptr<RegNode> node = std::move(pending.back());
    pending.pop_back();
    takeChildren(*node);
  }
}

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

// The kinds of data a .reg file holds as text (REG_LINK too, unlike the
// registry calls' string types).
bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ || type == REG_LINK;
}

std::vector<uint8_t> WideBytes(const std::wstring& w) {
  const auto* p = reinterpret_cast<const uint8_t*>(w.data());
  return std::vector<uint8_t>(p, p + w.size() * sizeof(wchar_t));
}

std::wstring BytesToWide(const std::vector<uint8_t>& data) {
  std::wstring w(data.size() / sizeof(wchar_t), L'\0');
  if (!w.empty()) std::memcpy(w.data(), data.data(), w.size() * sizeof(wchar_t));
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
  // text is UTF-8; the string data of hex(...) entries is UTF-16LE, or
  // ANSI in acp for a REGEDIT4 file.
  Parser(std::string_view text, const std::wstring& rootName, const std::string& fileName, RegNode* root,
         std::string* error, bool regedit4 = false, UINT acp = 1252)
      : text_(text),
        rootName_(rootName),
        fileName_(fileName),
        root_(root),
        error_(error),
        regedit4_(regedit4),
        acp_(acp) {}

  bool Run() {
    if (text_.size() >= 3 && std::memcmp(text_.data(), "\xEF\xBB\xBF", 3) == 0) pos_ = 3;
    std::string line;
    bool sawHeader = false;
    const char* header = regedit4_ ? "REGEDIT4" : "Windows Registry Editor Version 5.00";
    while (NextLogicalLine(&line)) {
      std::string t = Trim(line);
      if (t.empty() || t[0] == ';') continue;
      if (!sawHeader) {
        if (t != header) return Fail(std::string("expected the header \"") + header + "\"");
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
    bool hex = false;
    while (pos_ < text_.size()) {
      size_t nl = text_.find('\n', pos_);
      std::string_view raw = text_.substr(pos_, nl == std::string_view::npos ? std::string_view::npos : nl - pos_);
      pos_ = nl == std::string_view::npos ? text_.size() : nl + 1;
      ++line_;
      std::string piece = Trim(std::string(raw));
      // Only hex data continues on the next line. Its first line says so;
      // the joined text is never searched again (long values run to
      // thousands of lines).
      hex = hex || piece.find("=hex") != std::string::npos;
      if (!piece.empty() && piece.back() == '\\' && hex) {
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
    size_t depth = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
      if (i == rest.size() || rest[i] == L'\\') {
        if (part.empty()) {
          if (i == rest.size() && !rest.empty()) break;
          if (rest.empty()) break;
          return Fail("empty key name component");
        }
        if (Utf16Length(part) > kMaxKeyNameChars) return Fail("key name longer than 255 characters");
        if (++depth > kMaxKeyDepth) return Fail("key deeper than 512 levels");
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
      if (Utf16Length(name) > kMaxValueNameChars) return Fail("value name longer than 16383 characters");
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
        std::wstring text;
        if (regedit4_) {
          size_t bad = 0;
          if (!DecodeStrict(acp_, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &text,
                            &bad))
            return Fail("string data not in code page " + std::to_string(acp_));
        } else {
          if (bytes.size() % 2) return Fail("string data with an odd number of bytes");
          if (LoneSurrogateAt(bytes.data(), bytes.size()) != std::string_view::npos)
            return Fail("string data with a lone UTF-16 surrogate");
          text = Utf16LeToWide(bytes.data(), bytes.size());
        }
        v->data = WideBytes(text);
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
  bool regedit4_;
  UINT acp_;
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

// Digit by digit into out: a value of megabytes is written in one pass,
// without copies.
void AppendHex(std::string& out, const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  out.reserve(out.size() + size * 3);
  for (size_t i = 0; i < size; ++i) {
    if (i) out += ',';
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
}
void AppendHex(std::string& out, const std::vector<uint8_t>& bytes) { AppendHex(out, bytes.data(), bytes.size()); }

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

// acp is 0 for the UTF-16LE string data of version 5.00, else the code page
// of REGEDIT4 string data; *lossy is set when that code page cannot hold it.
void FormatValue(std::string& out, const std::wstring& name, const RegValue& v, UINT acp, bool* lossy) {
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
    out += "hex:";
    AppendHex(out, v.data);
  } else {
    std::snprintf(b, sizeof b, "hex(%x):", v.type);
    out += b;
    if (IsStringType(v.type)) {
      std::vector<uint8_t> padded = v.data;
      padded.resize((padded.size() + sizeof(wchar_t) - 1) / sizeof(wchar_t) * sizeof(wchar_t));
      std::wstring text = BytesToWide(padded);
      std::string ansi;
      if (acp && (text.empty() || ToMultiByte(acp, text, &ansi))) {
        std::wstring back;
        if (!text.empty() && (!ToWide(acp, ansi, &back) || back != text)) *lossy = true;
        AppendHex(out, reinterpret_cast<const uint8_t*>(ansi.data()), ansi.size());
      } else {
        // A code page that cannot hold the text: the file cannot stay REGEDIT4.
        if (acp) *lossy = true;
        AppendHex(out, WideToUtf16Le(text));
      }
    } else {
      AppendHex(out, v.data);
    }
  }
  out += "\r\n";
}

// Depth first without recursion. A key is written only when it holds values,
// has no subkeys or is the root: the others come back from the paths of their
// subkeys, so the output grows with the content, not with depth times keys.
std::string FormatBody(const RegNode& root, const std::wstring& rootName, UINT acp, bool* lossy) {
  std::string out;
  std::string path = WideToUtf8(rootName);
  auto emit = [&](const RegNode& node, bool always) {
    if (!always && node.values.empty() && !node.subkeys.empty()) return;
    out += "[" + path + "]\r\n";
    for (const auto& [name, value] : node.values) FormatValue(out, name, value, acp, lossy);
    out += "\r\n";
  };
  struct Frame {
    const RegNode* node;
    std::map<std::wstring, std::unique_ptr<RegNode>, NoCaseLess>::const_iterator next;
    size_t pathLength;
  };
  emit(root, true);
  std::vector<Frame> stack{{&root, root.subkeys.begin(), path.size()}};
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.node->subkeys.end()) {
      stack.pop_back();
      continue;
    }
    const auto& [name, child] = *top.next++;
    path.resize(top.pathLength);
    path += "\\" + WideToUtf8(name);
    emit(*child, false);
    stack.push_back({child.get(), child->subkeys.begin(), path.size()});
  }
  return out;
}

const char kHeader5[] = "Windows Registry Editor Version 5.00";
const char kHeader4[] = "REGEDIT4";

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() && bytes.compare(0, prefix.size(), prefix) == 0;
}

// The first line that is not blank, for telling REGEDIT4 from version 5.00.
std::string_view FirstLine(std::string_view text) {
  size_t b = text.find_first_not_of(" \t\r\n");
  if (b == std::string_view::npos) return {};
  size_t e = text.find_first_of("\r\n", b);
  return text.substr(b, e == std::string_view::npos ? std::string_view::npos : e - b);
}

}  // namespace

bool ParseRegText(std::string_view text, const std::wstring& rootName, const std::string& fileName, RegNode* root,
                  std::string* error) {
  Parser p(text, rootName, fileName, root, error);
  return p.Run();
}

std::string FormatRegText(const RegNode& root, const std::wstring& rootName) {
  bool lossy = false;
  return std::string(kHeader5) + "\r\n\r\n" + FormatBody(root, rootName, 0, &lossy);
}

namespace {

// The bytes this program writes for root in form.
std::string FormatCanonical(const RegNode& root, const std::wstring& rootName, const RegFileForm& form);

// The UTF-8 text of a .reg file in any known form, and that form.
bool DecodeRegFile(std::string_view bytes, const std::string& fileName, UINT acp, std::string* text, RegFileForm* form,
                   std::string* error) {
  auto refuse = [&](const std::string& what) {
    *error = fileName + ": " + what + " is not a registry file (expected \"" + kHeader5 +
             "\" in UTF-16LE with a byte-order mark or in UTF-8, or \"" + kHeader4 + "\" in code page " +
             std::to_string(acp) + ")";
    return false;
  };
  // Text that would not come back the same when written is refused, never
  // replaced: the file is then left as it is.
  auto refuseAt = [&](size_t line, const std::string& what) {
    *error = fileName + ":" + std::to_string(line) + ": " + what + "; the file is left as it is";
    return false;
  };
  auto refuseByte = [&](std::string_view all, size_t at, const std::string& what) {
    size_t line = 1;
    for (size_t i = 0; i < at; ++i) line += all[i] == '\n';
    char byte[16];
    std::snprintf(byte, sizeof byte, "byte 0x%02X ", static_cast<unsigned char>(all[at]));
    return refuseAt(line, byte + what);
  };
  *form = RegFileForm{RegEncoding::kUtf8, acp, {}, {}};
  if (StartsWith(bytes, std::string_view("\xFF\xFE\0\0", 4)) || StartsWith(bytes, std::string_view("\0\0\xFE\xFF", 4)))
    return refuse("UTF-32");
  if (StartsWith(bytes, "\xFE\xFF")) return refuse("UTF-16 big-endian");
  if (StartsWith(bytes, "\xFF\xFE")) {
    if (bytes.size() % 2) return refuse("UTF-16 with an odd number of bytes");
    form->encoding = RegEncoding::kUtf16Le;
    const auto* units = reinterpret_cast<const uint8_t*>(bytes.data()) + 2;
    size_t bad = LoneSurrogateAt(units, bytes.size() - 2);
    if (bad != std::string_view::npos) {
      size_t line = 1;
      for (size_t i = 0; i < bad; ++i) line += units[2 * i] == '\n' && units[2 * i + 1] == 0;
      char what[64];
      std::snprintf(what, sizeof what, "a lone surrogate 0x%02X%02X is not UTF-16", units[2 * bad + 1], units[2 * bad]);
      return refuseAt(line, what);
    }
    *text = WideToUtf8(Utf16LeToWide(units, bytes.size() - 2));
    return true;
  }
  if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0') return refuse("UTF-16 without a byte-order mark");
  if (bytes.size() >= 2 && bytes[0] == '\0' && bytes[1] != '\0') return refuse("UTF-16 big-endian");
  if (FirstLine(bytes) == kHeader4) {
    form->encoding = RegEncoding::kRegedit4;
    std::wstring wide;
    size_t bad = 0;
    if (!DecodeStrict(acp, bytes, &wide, &bad))
      return refuseByte(bytes, bad, "is not a character of code page " + std::to_string(acp));
    *text = WideToUtf8(wide);
    return true;
  }
  size_t skip = 0;
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    form->encoding = RegEncoding::kUtf8Bom;
    skip = 3;
  }
  size_t bad = InvalidUtf8At(bytes.substr(skip));
  if (bad != std::string_view::npos) return refuseByte(bytes, skip + bad, "is not valid UTF-8");
  text->assign(bytes.substr(skip));
  return true;
}

}  // namespace

bool ParseRegFileBytes(std::string_view bytes, const std::wstring& rootName, const std::string& fileName, UINT acp,
                       RegNode* root, RegFileForm* form, std::string* error) {
  std::string text;
  // Only a file read into an empty tree is the whole content, to be written
  // back as it was; one merged into a tree is not.
  const bool whole = root->values.empty() && root->subkeys.empty();
  if (!DecodeRegFile(bytes, fileName, acp, &text, form, error)) return false;
  if (!Parser(text, rootName, fileName, root, error, form->encoding == RegEncoding::kRegedit4, acp).Run()) return false;
  if (whole) {
    form->canonical = FormatCanonical(*root, rootName, *form);
    form->original.assign(bytes);
  }
  return true;
}

std::wstring FirstRegKeyPath(std::string_view bytes, UINT acp) {
  std::string text, error;
  RegFileForm form;
  if (!DecodeRegFile(bytes, "", acp, &text, &form, &error)) return {};
  for (size_t pos = 0; pos < text.size();) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line = std::string_view(text).substr(pos, end - pos);
    size_t b = line.find_first_not_of(" \t");
    if (b != std::string_view::npos && line[b] == '[') {
      size_t close = line.rfind(']');
      if (close != std::string_view::npos && close > b) return Utf8ToWide(line.substr(b + 1, close - b - 1));
    }
    pos = end + 1;
  }
  return {};
}

std::string FormatRegFileBytes(const RegNode& root, const std::wstring& rootName, const RegFileForm& form) {
  std::string bytes = FormatCanonical(root, rootName, form);
  return !form.original.empty() && bytes == form.canonical ? form.original : bytes;
}

namespace {

std::string FormatCanonical(const RegNode& root, const std::wstring& rootName, const RegFileForm& form) {
  switch (form.encoding) {
    case RegEncoding::kUtf8: return FormatRegText(root, rootName);
    case RegEncoding::kUtf8Bom: return "\xEF\xBB\xBF" + FormatRegText(root, rootName);
    case RegEncoding::kUtf16Le: {
      std::vector<uint8_t> bytes = WideToUtf16Le(Utf8ToWide(FormatRegText(root, rootName)));
      return "\xFF\xFE" + std::string(bytes.begin(), bytes.end());
    }
    case RegEncoding::kRegedit4: break;
  }
  bool lossy = false;
  std::wstring text = Utf8ToWide(std::string(kHeader4) + "\r\n\r\n" + FormatBody(root, rootName, form.acp, &lossy));
  std::string ansi;
  std::wstring back;
  if (!lossy && ToMultiByte(form.acp, text, &ansi) && ToWide(form.acp, ansi, &back) && back == text) return ansi;
  // Text the code page cannot hold would be lost: version 5.00 in UTF-16LE,
  // which reg import reads as well, keeps all of it.
  return FormatCanonical(root, rootName, RegFileForm{RegEncoding::kUtf16Le, form.acp, {}, {}});
}

}  // namespace

namespace {

// A hive is read only from a file of its own: a link planted at its name
// would let the reader show what lies outside the machine.
bool ReadWholeFile(const fs::path& file, std::string* out, std::string* error) {
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0) {
    *error = file.string() + (errno == ELOOP ? ": is a symbolic link, which is not followed" : ": cannot be read: ") +
             (errno == ELOOP ? "" : std::strerror(errno));
    return false;
  }
  out->clear();
  if (!ReadAll(fd.Get(), out)) {
    *error = file.string() + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  return true;
}

// A new file in folder beside target under a name no one can predict;
// never opens an existing file or a link.
int CreateTemporary(int folder, const std::string& target, std::string* name) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[12];
    if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
    *name = target + ".tmp";
    for (unsigned char r : random) *name += kLetters[r % (sizeof kLetters - 1)];
    int fd = ::openat(folder, name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

bool ReadRegFile(const fs::path& file, const std::wstring& rootName, UINT acp, RegNode* root, RegFileForm* form,
                 std::string* error) {
  std::string bytes;
  if (!ReadWholeFile(file, &bytes, error)) return false;
  return ParseRegFileBytes(bytes, rootName, file.string(), acp, root, form, error);
}

bool WriteRegFileAtomic(const fs::path& file, const RegNode& root, const std::wstring& rootName,
                        const RegFileForm& form, std::string* error, const fs::path& within) {
  // Everything happens in the folder opened once, one step at a time from
  // the machine's root: a folder on the way swapped for a link while the
  // hive is written cannot send the file elsewhere.
  fs::path top = within;
  if (top.empty()) {
    const Machine* m = Machine::Current();
    if (m) top = m->Root();
  }
  UniqueFd folder(top.empty() ? (errno = ENOENT, -1) : OpenFolderWithin(top, file.parent_path()));
  if (folder.Get() < 0) {
    *error = SideFileError(file.parent_path(), errno);
    return false;
  }
  const std::string name = file.filename().string();
  std::string tmp;
  UniqueFd fd(CreateTemporary(folder.Get(), name, &tmp));
  if (fd.Get() < 0) {
    *error = file.string() + ": cannot create a temporary file beside it: " + std::strerror(errno);
    return false;
  }
  // On the disk before the rename: a power cut then leaves the old hive or
  // the new one, never a name for bytes not yet written.
  bool written = WriteAll(fd.Get(), FormatRegFileBytes(root, rootName, form)) && ::fsync(fd.Get()) == 0;
  int saved = errno;
  // Closed here, for a failed close of the written file to count.
  if (fd.Close() != 0 && written) {
    written = false;
    saved = errno;
  }
  if (!written) {
    *error = (file.parent_path() / tmp).string() + ": cannot be written: " + std::strerror(saved);
    ::unlinkat(folder.Get(), tmp.c_str(), 0);
    return false;
  }
  if (::renameat(folder.Get(), tmp.c_str(), folder.Get(), name.c_str()) != 0) {
    *error = file.string() + ": cannot be replaced: " + std::strerror(errno);
    ::unlinkat(folder.Get(), tmp.c_str(), 0);
    return false;
  }
  // The rename itself reaches the disk with the folder.
  UniqueFd listing(::openat(folder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing.Get() < 0 || ::fsync(listing.Get()) != 0) {
    *error = file.string() + ": its folder cannot be flushed: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace platform::host
