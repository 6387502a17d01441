#include "platform/host/machine/Machine.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include "platform/host/machine/Utf.h"

namespace fs = std::filesystem;

namespace platform::host {

namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool ParseUint(const std::string& text, UINT* out) {
  if (text.empty() || text.size() > 9) return false;
  UINT v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<UINT>(c - '0');
  }
  *out = v;
  return true;
}

std::vector<std::wstring> SplitList(const std::string& text) {
  std::vector<std::wstring> out;
  std::string item;
  for (char c : text + ",") {
    if (c == ',' || c == ' ' || c == '\t') {
      if (!item.empty()) out.push_back(Utf8ToWide(item));
      item.clear();
    } else {
      item += c;
    }
  }
  return out;
}

std::mutex g_machineLock;
bool g_loaded = false;
const Machine* g_machine = nullptr;
// Every machine loaded stays alive to the end of the process: callers may
// still hold one that a later Reset() replaced.
std::vector<std::unique_ptr<Machine>>& Loaded() {
  static std::vector<std::unique_ptr<Machine>> all;
  return all;
}

}  // namespace

bool LoadMachineConfig(const fs::path& root, MachineConfig* config, std::string* error) {
  *config = MachineConfig{};
  config->root = root;
  fs::path file = root / "machine.ini";
  std::ifstream in(file, std::ios::binary);
  if (!in) return true;  // every setting has a default
  std::string line;
  int number = 0;
  bool inMachine = false;
  auto fail = [&](const std::string& what) {
    *error = file.string() + ":" + std::to_string(number) + ": " + what;
    return false;
  };
  while (std::getline(in, line)) {
    ++number;
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t[0] == '[') {
      if (t.back() != ']') return fail("unterminated section header");
      inMachine = t == "[machine]";
      if (!inMachine) return fail("unknown section " + t);
      continue;
    }
    if (!inMachine) return fail("setting outside the [machine] section");
    // Several settings may share a line: "acp=1252  ui_language=1033".
    std::istringstream words(t);
    std::string word;
    while (words >> word) {
      size_t eq = word.find('=');
      if (eq == std::string::npos || eq == 0) return fail("expected name=value, got '" + word + "'");
      std::string name = word.substr(0, eq);
      std::string value = word.substr(eq + 1);
      if (name == "acp") {
        if (!ParseUint(value, &config->acp)) return fail("acp must be a code page number");
      } else if (name == "ui_language") {
        if (!ParseUint(value, &config->uiLanguage)) return fail("ui_language must be a language id");
      } else if (name == "user") {
        config->user = Utf8ToWide(value);
      } else if (name == "logged_on") {
        // The value list may continue with comma-separated items only.
        config->loggedOn = SplitList(value);
      } else {
        return fail("unknown setting '" + name + "'");
      }
    }
  }
  return true;
}

const Machine* Machine::Current() {
  std::lock_guard<std::mutex> lock(g_machineLock);
  if (g_loaded) return g_machine;
  g_loaded = true;
  const char* env = std::getenv("VELK_MACHINE");
  if (!env || !*env) {
    std::fprintf(stderr, "velk: no machine: set VELK_MACHINE to a machine folder\n");
    return nullptr;
  }
  std::error_code ec;
  fs::path root = fs::absolute(env, ec);
  if (ec || !fs::is_directory(root, ec)) {
    std::fprintf(stderr, "velk: machine folder %s does not exist\n", env);
    return nullptr;
  }
  MachineConfig config;
  std::string error;
  if (!LoadMachineConfig(root, &config, &error)) {
    std::fprintf(stderr, "velk: %s\n", error.c_str());
    return nullptr;
  }
  Loaded().push_back(std::make_unique<Machine>(std::move(config)));
  g_machine = Loaded().back().get();
  return g_machine;
}

void Machine::Reset() {
  std::lock_guard<std::mutex> lock(g_machineLock);
  g_loaded = false;
  g_machine = nullptr;
}

bool Machine::MapPath(std::wstring_view windowsPath, fs::path* hostPath) const {
  // A Windows path ends at its first null character.
  windowsPath = windowsPath.substr(0, windowsPath.find(L'\0'));
  if (windowsPath.size() < 2 || windowsPath[1] != L':') return false;
  // Drives are the letters A to Z only: any other character before the
  // colon names a drive no PC has, and must never become a folder name.
  wchar_t letter = windowsPath[0];
  if (letter >= L'a' && letter <= L'z') letter = static_cast<wchar_t>(letter - L'a' + L'A');
  if (letter < L'A' || letter > L'Z') return false;
  if (windowsPath.size() > 2 && windowsPath[2] != L'\\' && windowsPath[2] != L'/') return false;
  std::string drive = "drive_";
  drive += static_cast<char>('a' + (letter - L'A'));
  fs::path out = config_.root / drive;
  std::wstring rest(windowsPath.substr(2));
  std::wstring part;
  auto flush = [&]() -> bool {
    if (part.empty() || part == L".") {
      part.clear();
      return true;
    }
    if (part == L"..") {
      // Never climb above the drive folder.
      if (out != config_.root / drive) out = out.parent_path();
      part.clear();
      return true;
    }
    std::string name = WideToUtf8(part);
    fs::path exact = out / name;
    std::error_code ec;
    if (!fs::exists(exact, ec) && fs::is_directory(out, ec)) {
      for (const auto& entry : fs::directory_iterator(out, ec)) {
        if (EqualsNoCase(Utf8ToWide(entry.path().filename().string()), part)) {
          exact = entry.path();
          break;
        }
      }
    }
    out = exact;
    part.clear();
    return true;
  };
  for (wchar_t c : rest) {
    if (c == L'\\' || c == L'/') {
      flush();
    } else {
      part += c;
    }
  }
  flush();
  *hostPath = out;
  return true;
}

bool Machine::UnmapPath(const fs::path& hostPath, std::wstring* windowsPath) const {
  fs::path rel = hostPath.lexically_relative(config_.root);
  auto it = rel.begin();
  if (it == rel.end()) return false;
  std::string first = it->string();
  if (first.size() != 7 || first.compare(0, 6, "drive_") != 0) return false;
  std::wstring out;
  out += static_cast<wchar_t>(towupper(static_cast<wint_t>(first[6])));
  out += L":";
  bool any = false;
  for (++it; it != rel.end(); ++it) {
    if (it->empty()) continue;
    out += L"\\";
    out += Utf8ToWide(it->string());
    any = true;
  }
  if (!any) out += L"\\";
  *windowsPath = out;
  return true;
}

}  // namespace platform::host
