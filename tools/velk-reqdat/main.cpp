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
// Exit codes: 0 done; 1 the file could not be opened, read, decrypted with
// any key tried, or written; 2 usage.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SystemInfoPrivate.h"
#include "platform/ByteStreams.h"
#include "platform/Port.h"
#include "platform/Runtime.h"
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
  FILE* f = platform::Use<platform::ByteStreams>().Open(path.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "velk-reqdat: cannot open %s\n", path.c_str());
    return false;
  }
  out->reset(Buffer_New());
  char chunk[1024];
  size_t n;
  bool ok = *out != nullptr;
  while (ok && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) ok = Buffer_Append(out->get(), chunk, static_cast<uint32_t>(n));
  ok = ok && !std::ferror(f);
  std::fclose(f);
  if (!ok) std::fprintf(stderr, "velk-reqdat: cannot read %s\n", path.c_str());
  return ok;
}

bool WriteFile(const std::string& path, const Buffer* data) {
  FILE* f = platform::Use<platform::ByteStreams>().Open(path.c_str(), "wb");
  bool ok = f && std::fwrite(data->data, 1, data->length, f) == data->length;
  if (f) ok = std::fclose(f) == 0 && ok;
  if (!ok) std::fprintf(stderr, "velk-reqdat: cannot write %s\n", path.c_str());
  return ok;
}

struct Opened {
  std::string plaintext;
  std::string value;
  bool hasValue = false;
  std::string sign;
  bool hasSign = false;
  ~Opened() {
    Wipe(plaintext);
    Wipe(value);
  }
};

std::string Lookup(const std::string& text, const char* key, bool* found) {
  std::string terminated;
  terminated.reserve(text.size() + 1);
  terminated.append(text).push_back('\0');
  IniReader* reader = IniReader_New(terminated.data(), static_cast<uint32_t>(terminated.size()));
  char* value = nullptr;
  *found = reader && IniReader_Read(reader, "Key", key, &value) && value;
  std::string out = value ? value : "";
  Secret_FreeText(value);
  if (reader) IniReader_Free(reader);
  Wipe(terminated);
  return out;
}

// Decrypts with the binding's key; opened when the text holds [Key] Value.
bool Open(const Buffer* file, const Binding& b, Opened* out) {
  BufferPtr copy(Buffer_New());
  if (!copy || !Buffer_Append(copy.get(), file->data, file->length) ||
      !Buffer_Decrypt(copy.get(), EVP_aes_256_cbc(), b.key))
    return false;
  out->plaintext.assign(reinterpret_cast<const char*>(copy->data), copy->length);
  out->value = Lookup(out->plaintext, "Value", &out->hasValue);
  out->sign = Lookup(out->plaintext, "Sign", &out->hasSign);
  return out->hasValue;
}

std::string Signature(const unsigned char key[32], const std::string& value) {
  BufferPtr b(Buffer_New());
  if (!b || !Buffer_Append(b.get(), key, 32) ||
      !Buffer_Append(b.get(), value.data(), static_cast<uint32_t>(value.size())) ||
      !Buffer_Digest(b.get(), EVP_sha256()) || !Buffer_BinToHex(b.get()))
    return {};
  return std::string(reinterpret_cast<const char*>(b->data), b->length);
}

// The key file the migration program writes for value under the binding.
BufferPtr Seal(const Binding& b, const std::string& value) {
  std::string sign = Signature(b.key, value);
  std::string text;
  text.reserve(13 + value.size() + 7 + sign.size() + 2);
  text.append("[Key]\r\nValue=").append(value).append("\r\nSign=").append(sign).append("\r\n");
  BufferPtr out(Buffer_New());
  bool sealed = !sign.empty() && out && Buffer_Append(out.get(), text.data(), static_cast<uint32_t>(text.size())) &&
                Buffer_Encrypt(out.get(), EVP_aes_256_cbc(), b.key);
  Wipe(text);
  return sealed ? std::move(out) : nullptr;
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
    if (args[i] == "--key" && i + 1 < args.size()) keyArg = args[++i];
    else if (args[i] == "--show-value") show = true;
    else if (file.empty() && args[i].rfind("--", 0) != 0) file = args[i];
    else return Usage();
  }
  if (file.empty()) return Usage();
  BufferPtr content;
  if (!ReadFile(file, &content)) return 1;
  std::vector<Binding> tries;
  for (const std::string& k : keyArg.empty() ? std::vector<std::string>{"machine-new", "machine-old"}
                                             : std::vector<std::string>{keyArg}) {
    Binding b;
    if (ParseBinding(k, &b)) tries.push_back(b);
  }
  std::printf("File: %s (%u bytes%s)\n", file.c_str(), content->length,
              content->length % 16 ? ", not whole cipher blocks: cut or damaged" : "");
  for (const Binding& b : tries) {
    Opened o;
    if (!Open(content.get(), b, &o)) continue;
    std::printf("Binding: %s\n", b.name.c_str());
    std::string expected = Signature(b.key, o.value);
    std::printf("Signature: %s\n", !o.hasSign ? "absent" : EqualsNoCase(o.sign, expected) ? "matches" : "does not match");
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
    if (args[i] == "--key" && i + 1 < args.size()) keyArg = args[++i];
    else if (args[i] == "--value" && i + 1 < args.size()) value = args[++i], hasValue = true;
    else if (file.empty() && args[i].rfind("--", 0) != 0) file = args[i];
    else return Usage();
  }
  if (file.empty() || !hasValue || keyArg.empty()) return Usage();
  Binding b;
  if (!ParseBinding(keyArg, &b)) return 1;
  BufferPtr sealed = Seal(b, value);
  Wipe(value);
  if (!sealed) return PrintRecord("cannot encrypt"), 1;
  if (!WriteFile(file, sealed.get())) return 1;
  std::printf("Wrote %s (%u bytes) bound to %s\n", file.c_str(), sealed->length, b.name.c_str());
  return 0;
}

int Rebind(const std::vector<std::string>& args) {
  std::string in, out, from, to;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--from" && i + 1 < args.size()) from = args[++i];
    else if (args[i] == "--to" && i + 1 < args.size()) to = args[++i];
    else if (in.empty() && args[i].rfind("--", 0) != 0) in = args[i];
    else if (out.empty() && args[i].rfind("--", 0) != 0) out = args[i];
    else return Usage();
  }
  if (in.empty() || out.empty() || from.empty() || to.empty()) return Usage();
  Binding old, fresh;
  if (!ParseBinding(from, &old) || !ParseBinding(to, &fresh)) return 1;
  BufferPtr content;
  if (!ReadFile(in, &content)) return 1;
  Opened o;
  if (content->length % 16 != 0 || !Open(content.get(), old, &o)) {
    std::fprintf(stderr, "velk-reqdat: %s does not open with %s\n", in.c_str(), old.name.c_str());
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
    std::fprintf(stderr, "velk-reqdat: SetDefaultDllDirectories failed (%lu)\n", static_cast<unsigned long>(error));
  if (argc < 2) return Usage();
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "inspect") return Inspect(args);
  if (command == "encrypt") return Encrypt(args);
  if (command == "rebind") return Rebind(args);
  if (command == "--version") return std::printf("velk-reqdat (velk-access) %s\n", VELK_VERSION), 0;
  return Usage();
}
