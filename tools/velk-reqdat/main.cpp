// velk-reqdat: looks into and writes PC environment key files (req.dat) for
// the people who support the client.
//
//   velk-reqdat inspect FILE [--key BINDING] [--show-value]
//   velk-reqdat encrypt FILE --value VALUE --key BINDING
//   velk-reqdat rebind IN OUT --from BINDING --to BINDING
//   velk-reqdat --version
//
// BINDING: product-id=ID    the old binding, a Windows product ID
//          smbios=TEXT      the new binding, an SMBIOS identity text (the
//                           UUID as 36 characters, or manufacturer and
//                           serial number run together)
//          machine-old      this machine's product ID
//          machine-new      this machine's SMBIOS identity
//          machine          what the migration program binds to: the SMBIOS
//                           identity, else the product ID
// Without --key, inspect tries machine-new, then machine-old. The key value
// is masked unless --show-value is given. Files written carry the layout
// the migration program writes: [Key] Value and a fresh Sign.
//
// Files are read as the migration program reads them: regular files of at
// most 1 MiB. A value holding CR, LF or NUL would break the key text's
// lines, and one that the reader would give back otherwise (blanks or tabs
// at either end, enclosing quotes) would not survive it: both are refused
// as usage errors. Files are written as a new file moved into place.
//
// Exit codes: 0 done; 1 the file could not be opened, read, decrypted with
// any key tried, or written; 2 usage.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KeyFileCipher.h"
#include "KeyFileReader.h"
#include "SystemInfoPrivate.h"
#include "platform/ByteStreams.h"
#include "platform/Port.h"
#include "platform/DllSearch.h"
#include "velkras2/Buffer.h"
#include "velkras2/IniReader.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"
#include "velkras2/Secret.h"
#include "velkras2/SystemInfo.h"
#include "velk/Version.h"

namespace {

// Strings that held a key value or a plaintext are cleared before they go;
// they are built with their final size reserved, so no copy is left behind
// by growing.
void Wipe(std::string& s) { Secret_Clear(s.data(), s.size()); }

struct Binding {
  std::string name;  // as shown: "product-id=...", "smbios=..."
  unsigned char key[32];
  ~Binding() { Secret_Clear(key, sizeof key); }
};

struct BufferFree {
  void operator()(Buffer* b) const { Buffer_Free(b); }
};
using BufferPtr = std::unique_ptr<Buffer, BufferFree>;

int Usage() {
  std::fprintf(stderr,
               "usage: velk-reqdat inspect FILE [--key BINDING] [--show-value]\n"
               "       velk-reqdat encrypt FILE --value VALUE --key BINDING\n"
               "       velk-reqdat rebind IN OUT --from BINDING --to BINDING\n"
               "       velk-reqdat --version\n"
               "BINDING: product-id=ID | smbios=TEXT | machine-old | machine-new | machine\n");
  return 2;
}

void PrintRecord(const char* what) {
  const RasError* e = RasGetLastError();
  std::fprintf(stderr, "velk-reqdat: %s: 0x%02x: %s @%s\n", what, static_cast<unsigned>(e->code), e->message,
               e->location);
}

bool Derive(const std::string& identity, Binding* b) {
  return SystemInfo_DeriveKey(identity.data(), static_cast<uint32_t>(identity.size()), b->key);
}

// The bindings a BINDING argument names; false with a message when it
// names none or the machine cannot give one.
bool ParseBinding(const std::string& text, Binding* b) {
  if (text.rfind("product-id=", 0) == 0) {
    std::string id = text.substr(11);
    b->name = text;
    // The registry's string data is hashed with its terminator.
    return Derive(std::string(id.c_str(), id.size() + 1), b);
  }
  if (text.rfind("smbios=", 0) == 0) {
    b->name = text;
    return Derive(text.substr(7), b);
  }
  if (text == "machine-old") {
    b->name = "machine-old (this machine's product ID)";
    if (SystemInfo_GetOldUniqueId(b->key)) return true;
    PrintRecord("no product ID");
    return false;
  }
  if (text == "machine-new") {
    char identity[kSmbiosTextSize] = {};
    if (!SystemInfo_ReadSmbiosId(identity)) {
      std::fprintf(stderr, "velk-reqdat: this machine's firmware gives no SMBIOS identity\n");
      return false;
    }
    b->name = std::string("machine-new (smbios=") + identity + ")";
    return Derive(identity, b);
  }
  if (text == "machine") {
    b->name = "machine (as the migration program binds)";
    if (SystemInfo_GetUniqueId(b->key)) return true;
    PrintRecord("no machine key");
    return false;
  }
  std::fprintf(stderr, "velk-reqdat: unknown binding %s\n", text.c_str());
  return false;
}

bool ReadFile(const std::string& path, BufferPtr* out) {
  out->reset(Buffer_New());
  if (!*out) return PrintRecord("cannot read"), false;
  const char* problem = nullptr;
  switch (ReadKeyFile(path.c_str(), out->get())) {
    case KeyFileRead::kOk: return true;
    case KeyFileRead::kOpenFailed: problem = "cannot open"; break;
    case KeyFileRead::kNotRegular: problem = "not a regular file, not read:"; break;
    case KeyFileRead::kReadFailed: problem = "cannot read"; break;
    case KeyFileRead::kTooLarge: problem = "larger than a key file (1 MiB), not read:"; break;
    case KeyFileRead::kNoMemory: problem = "out of memory reading"; break;
  }
  std::fprintf(stderr, "velk-reqdat: %s %s\n", problem, path.c_str());
  return false;
}

// Writes a new file beside path and moves it over path in one step: a run
// that ends on the way leaves path as it was (rebind F F included).
bool WriteFile(const std::string& path, const Buffer* data) {
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  const std::string fresh = path + ".velk-reqdat-new";
  FILE* f = streams.CreateNew(fresh.c_str());
  bool ok = f && streams.Write(data->data, data->length, f) == data->length && streams.Commit(f) == 0;
  if (f) ok = streams.Close(f) == 0 && ok;
  ok = ok && streams.Replace(fresh.c_str(), path.c_str()) == 0;
  if (!ok) {
    if (f) streams.Remove(fresh.c_str());
    std::fprintf(stderr, "velk-reqdat: cannot write %s\n", path.c_str());
  }
  return ok;
}

struct Opened {
  std::string plaintext;
  std::string value;
  bool whole = false;  // the final step accepted the padding
  bool hasSign = false;
  bool signMatches = false;
  ~Opened() {
    Wipe(plaintext);
    Wipe(value);
  }
};

// Decrypts with the binding's key; opened when the text holds [Key] Value,
// whole or not.
bool Open(const Buffer* file, const Binding& b, Opened* out) {
  KeyFileParts parts;
  parts.file = Buffer_New();
  if (!parts.file || !Buffer_Append(parts.file, file->data, file->length)) return false;
  KeyFileOpened opened = OpenKeyFileBytes(b.key, parts);
  if (opened != KeyFileOpened::kOk && opened != KeyFileOpened::kDamaged) return false;
  // The plaintext without the terminator the reader needed.
  out->plaintext.assign(reinterpret_cast<const char*>(parts.file->data), parts.file->length - 1);
  out->value.assign(reinterpret_cast<const char*>(parts.value->data), parts.value->length);
  out->whole = opened == KeyFileOpened::kOk;
  char* sign = nullptr;
  out->hasSign = IniReader_Read(parts.reader, "Key", "Sign", &sign) && sign;
  if (sign) RasUtil_Free(sign);
  out->signMatches = out->hasSign && KeyFileSignatureMatches(b.key, parts);
  return true;
}

// The key file the migration program writes for value under the binding.
BufferPtr Seal(const Binding& b, const std::string& value) {
  KeyFileParts parts;
  parts.value = Buffer_New();
  if (!parts.value || !Buffer_Append(parts.value, value.data(), static_cast<uint32_t>(value.size())) ||
      !SealKeyValue(b.key, parts))
    return nullptr;
  BufferPtr sealed(parts.plaintext);
  parts.plaintext = nullptr;
  return sealed;
}

// Why the key text's reader would return another value than this one, or
// null: it trims blanks and tabs at either end and removes one pair of
// enclosing quotes.
const char* NotCarriedBack(const std::string& value) {
  if (value.empty()) return nullptr;
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  if (blank(value.front()) || blank(value.back())) return "blanks or tabs at either end are trimmed when it is read";
  // A lone quote counts: the reader takes it for both ends.
  if ((value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return "enclosing quotes are removed when it is read";
  return nullptr;
}

// Whether the sealed file opens with the binding to exactly value.
bool GivesBack(const Buffer* sealed, const Binding& b, const std::string& value) {
  Opened o;
  return Open(sealed, b, &o) && o.whole && o.value == value;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// Prints the text line by line; the key value is hidden unless show is set.
void PrintLines(const std::string& plaintext, const std::string& value, bool show) {
  size_t pos = 0;
  while (pos < plaintext.size()) {
    size_t end = plaintext.find("\r\n", pos);
    std::string line = plaintext.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    size_t eq = line.find('=');
    std::string name = eq == std::string::npos ? "" : line.substr(0, eq);
    name.erase(0, name.find_first_not_of(" \t"));
    name.erase(name.find_last_not_of(" \t") + 1);
    if (!show && EqualsNoCase(name, "Value"))
      std::printf("%s<%zu bytes hidden; --show-value shows them>\n", line.substr(0, eq + 1).c_str(), value.size());
    else
      std::printf("%s\n", line.c_str());
    Wipe(line);
    pos = end == std::string::npos ? plaintext.size() : end + 2;
  }
}

int Inspect(const std::vector<std::string>& args) {
  std::string file, keyArg;
  bool show = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--key" && i + 1 < args.size())
      keyArg = args[++i];
    else if (args[i] == "--show-value")
      show = true;
    else if (file.empty() && args[i].rfind("--", 0) != 0)
      file = args[i];
    else
      return Usage();
  }
  if (file.empty()) return Usage();
  BufferPtr content;
  if (!ReadFile(file, &content)) return 1;
  std::vector<Binding> tries;
  for (const std::string& k :
       keyArg.empty() ? std::vector<std::string>{"machine-new", "machine-old"} : std::vector<std::string>{keyArg}) {
    Binding b;
    if (ParseBinding(k, &b)) tries.push_back(b);
  }
  std::printf("File: %s (%u bytes%s)\n", file.c_str(), content->length,
              content->length % 16 ? ", not whole cipher blocks: cut or damaged" : "");
  for (const Binding& b : tries) {
    Opened o;
    if (!Open(content.get(), b, &o)) continue;
    std::printf("Binding: %s\n", b.name.c_str());
    if (!o.whole) std::printf("Damaged: the last block's padding is rejected (cut at a block boundary or changed)\n");
    std::printf("Signature: %s\n", !o.hasSign ? "absent" : o.signMatches ? "matches" : "does not match");
    std::printf("Text:\n");
    PrintLines(o.plaintext, o.value, show);
    return 0;
  }
  std::printf("Binding: none of the keys tried opens the file\n");
  return 1;
}

int Encrypt(const std::vector<std::string>& args) {
  std::string file, value, keyArg;
  bool hasValue = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--key" && i + 1 < args.size())
      keyArg = args[++i];
    else if (args[i] == "--value" && i + 1 < args.size())
      value = args[++i], hasValue = true;
    else if (file.empty() && args[i].rfind("--", 0) != 0)
      file = args[i];
    else
      return Usage();
  }
  if (file.empty() || !hasValue || keyArg.empty()) return Usage();
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
    std::fprintf(stderr, "velk-reqdat: the value must be one line: CR, LF and NUL are refused\n");
    return 2;
  }
  if (const char* why = NotCarriedBack(value)) {
    Wipe(value);
    std::fprintf(stderr, "velk-reqdat: the key file could not give this value back whole: %s\n", why);
    return 2;
  }
  Binding b;
  if (!ParseBinding(keyArg, &b)) return 1;
  BufferPtr sealed = Seal(b, value);
  if (sealed && !GivesBack(sealed.get(), b, value)) {
    Wipe(value);
    std::fprintf(stderr, "velk-reqdat: the key file could not give this value back whole; not written\n");
    return 2;
  }
  Wipe(value);
  if (!sealed) return PrintRecord("cannot encrypt"), 1;
  if (!WriteFile(file, sealed.get())) return 1;
  std::printf("Wrote %s (%u bytes) bound to %s\n", file.c_str(), sealed->length, b.name.c_str());
  return 0;
}

int Rebind(const std::vector<std::string>& args) {
  std::string in, out, from, to;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--from" && i + 1 < args.size())
      from = args[++i];
    else if (args[i] == "--to" && i + 1 < args.size())
      to = args[++i];
    else if (in.empty() && args[i].rfind("--", 0) != 0)
      in = args[i];
    else if (out.empty() && args[i].rfind("--", 0) != 0)
      out = args[i];
    else
      return Usage();
  }
  if (in.empty() || out.empty() || from.empty() || to.empty()) return Usage();
  Binding old, fresh;
  if (!ParseBinding(from, &old) || !ParseBinding(to, &fresh)) return 1;
  BufferPtr content;
  if (!ReadFile(in, &content)) return 1;
  Opened o;
  if (!Open(content.get(), old, &o)) {
    std::fprintf(stderr, "velk-reqdat: %s does not open with %s\n", in.c_str(), old.name.c_str());
    return 1;
  }
  // Its value may be cut short: a new signature must not cover that.
  if (!o.whole) {
    std::fprintf(stderr, "velk-reqdat: %s is damaged (cut or changed); not rebound\n", in.c_str());
    return 1;
  }
  BufferPtr sealed = Seal(fresh, o.value);
  if (!sealed) return PrintRecord("cannot encrypt"), 1;
  if (!WriteFile(out, sealed.get())) return 1;
  std::printf("Wrote %s (%u bytes) bound to %s\n", out.c_str(), sealed->length, fresh.name.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything loads a DLL by name.
  if (DWORD error = platform::RestrictDllSearchToSystem())
    std::fprintf(stderr, "velk-reqdat: restricting the DLL search failed (%lu)\n", static_cast<unsigned long>(error));
  if (argc < 2) return Usage();
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "inspect") return Inspect(args);
  if (command == "encrypt") return Encrypt(args);
  if (command == "rebind") return Rebind(args);
  if (command == "--version") return std::printf("velk-reqdat (velk-access) %s\n", VELK_VERSION), 0;
  return Usage();
}
