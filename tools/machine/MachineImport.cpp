#include "MachineImport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/FileSystem.h"
#include "platform/host/machine/Machine.h"
#include "platform/host/machine/RawSmbios.h"
#include "platform/host/machine/RegFile.h"
#include "platform/host/posix/ReadWrite.h"
#include "platform/host/posix/UniqueFd.h"
#include "platform/host/machine/Utf.h"

namespace fs = std::filesystem;
using namespace platform::host;

namespace velk_machine {

namespace {

const wchar_t kMachineRoot[] = L"HKEY_LOCAL_MACHINE";
const wchar_t kUsersRoot[] = L"HKEY_USERS";
const wchar_t kUserRoot[] = L"HKEY_CURRENT_USER";

// Regular files only: a pipe or a device at the name would stop the import
// or never end it.
bool ReadFileBytes(const fs::path& file, std::string* out, std::string* error) {
  UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
    *error = file.string() + ": cannot be read";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = file.string() + ": not a regular file; refused";
    return false;
  }
  int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags >= 0) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  out->clear();
  if (!ReadAll(fd.Get(), out)) {
    *error = file.string() + ": cannot be read";
    return false;
  }
  return true;
}

}  // namespace

bool IsSid(const std::wstring& text) {
  // S-1-<authority>-<subauthority>...: at most 15 subauthorities, each a
  // 32-bit number, the authority a 48-bit one.
  if (text.size() < 5 || text.compare(0, 4, L"S-1-") != 0) return false;
  size_t parts = 0, digits = 0;
  for (size_t i = 4; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == L'-') {
      if (digits == 0 || digits > (parts == 0 ? 15u : 10u)) return false;
      if (parts > 0 && std::wcstoull(text.substr(i - digits, digits).c_str(), nullptr, 10) > 0xFFFFFFFFull)
        return false;
      ++parts;
      digits = 0;
    } else if (text[i] >= L'0' && text[i] <= L'9') {
      ++digits;
    } else {
      return false;
    }
  }
  return parts <= 16;
}

namespace {

bool CheckSid(const std::wstring& sid, const std::string& where, std::string* error) {
  if (IsSid(sid)) return true;
  std::string shown;
  for (char c : WideToUtf8(sid)) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
    shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? std::string(hex) : std::string(1, c);
  }
  *error = where + ": \"" + shown + "\" is not a SID (expected S-1- followed by numbers); refused";
  return false;
}

bool HasPrefixNoCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix) &&
         (text.size() == prefix.size() || text[prefix.size()] == L'\\');
}

const RegNode* Walk(const RegNode& root, std::initializer_list<const wchar_t*> path) {
  const RegNode* node = &root;
  for (const wchar_t* p : path)
    if (!node || !(node = node->Child(p))) return nullptr;
  return node;
}

// A string value up to its first terminator; empty when missing or not text.
std::wstring StringValue(const RegNode* key, const wchar_t* name) {
  if (!key) return {};
  RegValue* v = const_cast<RegNode*>(key)->FindValue(name);
  if (!v || (v->type != REG_SZ && v->type != REG_EXPAND_SZ && v->type != REG_MULTI_SZ)) return {};
  std::wstring text(reinterpret_cast<const wchar_t*>(v->data.data()), v->data.size() / sizeof(wchar_t));
  return text.c_str();
}

bool ParseNumber(const std::wstring& text, int base, UINT* out) {
  if (text.empty() || text.size() > 8) return false;
  wchar_t* end = nullptr;
  unsigned long v = std::wcstoul(text.c_str(), &end, base);
  if (*end) return false;
  *out = static_cast<UINT>(v);
  return true;
}

struct UserHive {
  RegNode root;
  RegFileForm form;
};

struct Capture {
  UINT acp = 0;
  UINT uiLanguage = 0;
  std::wstring user;
  std::vector<std::wstring> loggedOn;
  std::vector<std::wstring> hives;                      // profiles that have a hive, exported keys or not
  std::vector<std::pair<DWORD, std::wstring>> entries;  // attributes, Windows path
};

std::vector<std::wstring> SplitSids(const std::wstring& list) {
  std::vector<std::wstring> out;
  std::wstringstream items(list);
  std::wstring sid;
  while (std::getline(items, sid, L','))
    if (!sid.empty()) out.push_back(sid);
  return out;
}

// Each SID of a list, checked; false naming the first that is not one.
bool CheckSids(const std::vector<std::wstring>& sids, const std::string& where, std::string* error) {
  for (const auto& sid : sids)
    if (!CheckSid(sid, where, error)) return false;
  return true;
}

// machine.txt ("name=value" lines) and folders.txt ("<8 hex digits> <path>").
bool ReadCapture(const fs::path& folder, Capture* capture, ImportRequest* request, std::string* error) {
  std::string text;
  if (!ReadFileBytes(folder / "machine.txt", &text, error)) return false;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string name = line.substr(0, eq);
    std::wstring value = Utf8ToWide(line.substr(eq + 1));
    if (name == "acp") ParseNumber(value, 10, &capture->acp);
    if (name == "ui_language") ParseNumber(value, 10, &capture->uiLanguage);
    if (name == "user") capture->user = value;
    if (name == "logged_on") capture->loggedOn = SplitSids(value);
    if (name == "hives") capture->hives = SplitSids(value);
  }
  const std::string where = (folder / "machine.txt").string();
  if (!capture->user.empty() && !CheckSid(capture->user, where, error)) return false;
  if (!CheckSids(capture->loggedOn, where, error) || !CheckSids(capture->hives, where, error)) return false;
  std::error_code ec;
  std::vector<fs::path> exports;
  for (const auto& e : fs::directory_iterator(folder / "registry", ec)) {
    if (e.path().extension() != ".reg") continue;
    if (!e.is_regular_file(ec) || e.is_symlink(ec)) {
      *error = e.path().string() + ": not a regular file; refused";
      return false;
    }
    exports.push_back(e.path());
  }
  std::sort(exports.begin(), exports.end());
  request->exports.insert(request->exports.begin(), exports.begin(), exports.end());
  if (request->smbios.empty() && fs::exists(folder / "smbios.bin", ec)) request->smbios = folder / "smbios.bin";
  if (!fs::exists(folder / "folders.txt", ec)) return true;
  if (!ReadFileBytes(folder / "folders.txt", &text, error)) return false;
  std::istringstream entries(text);
  int number = 0;
  while (std::getline(entries, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    UINT attributes = 0;
    if (line.size() < 11 || line[8] != ' ' || !ParseNumber(Utf8ToWide(line.substr(0, 8)), 16, &attributes)) {
      *error = (folder / "folders.txt").string() + ":" + std::to_string(number) +
               ": expected \"<attributes in 8 hex digits> <path>\"";
      return false;
    }
    capture->entries.emplace_back(attributes, Utf8ToWide(line.substr(9)));
  }
  return true;
}

// The profile's folder as the profile list gives it, with the references
// a profile list holds expanded.
bool ProfilePath(const RegNode& hklm, const std::wstring& sid, std::wstring* path, std::string* error) {
  const RegNode* list =
      Walk(hklm, {L"SOFTWARE", L"Microsoft", L"Windows NT", L"CurrentVersion", L"ProfileList", sid.c_str()});
  std::wstring text = StringValue(list, L"ProfileImagePath");
  if (text.empty()) {
    *error = "user " + WideToUtf8(sid) +
             ": no ProfileImagePath in the profile list (export HKLM\\SOFTWARE\\Microsoft\\Windows "
             "NT\\CurrentVersion\\ProfileList too)";
    return false;
  }
  for (const auto& [name, value] :
       {std::pair<std::wstring, std::wstring>{L"%SystemDrive%", L"C:"}, {L"%SystemRoot%", L"C:\\Windows"}}) {
    if (text.size() >= name.size() && EqualsNoCase(text.substr(0, name.size()), name))
      text = value + text.substr(name.size());
  }
  if (text.find(L'%') != std::wstring::npos) {
    *error =
        "user " + WideToUtf8(sid) + ": profile path " + WideToUtf8(text) + " holds a reference the host cannot expand";
    return false;
  }
  *path = text;
  return true;
}

// A folder and the folders above it that are missing.
bool MakeFolderTree(platform::FileSystem& files, const std::wstring& path) {
  for (size_t slash = path.find(L'\\', 3); slash != std::wstring::npos; slash = path.find(L'\\', slash + 1)) {
    std::wstring above = path.substr(0, slash);
    if (!files.IsDirectory(above.c_str())) files.MakeFolder(above.c_str());
  }
  return files.IsDirectory(path.c_str()) || files.MakeFolder(path.c_str());
}

bool MakeFolders(const Capture& capture, std::string* report, std::string* error) {
  platform::FileSystem& files = platform::FileSystem::Default();
  for (const auto& [attributes, path] : capture.entries) {
    bool ok;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      ok = MakeFolderTree(files, path);
    } else {
      MakeFolderTree(files, path.substr(0, path.rfind(L'\\')));
      HANDLE h = files.OpenFile(path.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
      ok = h != INVALID_HANDLE_VALUE && files.CloseFile(h);
    }
    if (!ok) {
      *error = "cannot make " + WideToUtf8(path) + " on the machine";
      return false;
    }
  }
  // Attributes last: a read-only folder is filled first.
  const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  for (const auto& [attributes, path] : capture.entries) {
    if ((attributes & kept) && !files.SetAttributes(path.c_str(), attributes & kept)) {
      *error = "cannot set the attributes of " + WideToUtf8(path);
      return false;
    }
  }
  *report += "folders: " + std::to_string(capture.entries.size()) + " entries (names and attributes)\n";
  return true;
}

}  // namespace

bool ImportMachine(const ImportRequest& given, std::string* report, std::string* error) {
  ImportRequest request = given;
  Capture capture;
  if (!request.capture.empty() && !ReadCapture(request.capture, &capture, &request, error)) return false;
  UINT readAcp = request.acp ? request.acp : capture.acp ? capture.acp : 1252;

  std::error_code ec;
  fs::create_directories(request.machine / "registry", ec);
  fs::path hklmFile = fs::absolute(request.machine, ec) / "registry" / "HKLM.reg";
  RegNode hklm;
  RegFileForm hklmForm;
  bool haveForm = false;
  if (fs::exists(hklmFile, ec)) {
    if (!ReadRegFile(hklmFile, kMachineRoot, readAcp, &hklm, &hklmForm, error)) return false;
    haveForm = true;
  }

  std::map<std::wstring, UserHive, NoCaseLess> users;
  std::vector<std::wstring> fromUsersKey;  // SIDs exported through HKEY_USERS
  auto parseUser = [&](const std::wstring& sid, const std::wstring& rootName, const std::string& bytes,
                       const fs::path& file) {
    UserHive& hive = users[sid];
    RegFileForm form;
    if (!ParseRegFileBytes(bytes, rootName, file.string(), readAcp, &hive.root, &form, error)) return false;
    hive.form = form;
    return true;
  };
  size_t machineFiles = 0;
  for (const auto& file : request.exports) {
    std::string bytes;
    if (!ReadFileBytes(file, &bytes, error)) return false;
    std::wstring first = FirstRegKeyPath(bytes, readAcp);
    // A file naming no key is parsed as HKLM so that its real fault is told.
    if (first.empty() || HasPrefixNoCase(first, kMachineRoot)) {
      RegFileForm form;
      if (!ParseRegFileBytes(bytes, kMachineRoot, file.string(), readAcp, &hklm, &form, error)) return false;
      if (!haveForm) hklmForm = form;
      haveForm = true;
      ++machineFiles;
    } else if (HasPrefixNoCase(first, kUsersRoot) && first.size() > 11) {
      std::wstring sid = first.substr(11, first.find(L'\\', 11) - 11);
      if (!CheckSid(sid, file.string(), error)) return false;
      if (!parseUser(sid, std::wstring(kUsersRoot) + L"\\" + sid, bytes, file)) return false;
      if (std::none_of(fromUsersKey.begin(), fromUsersKey.end(),
                       [&sid](const std::wstring& s) { return EqualsNoCase(s, sid); }))
        fromUsersKey.push_back(sid);
    } else if (HasPrefixNoCase(first, kUserRoot)) {
      *error = file.string() + ": an HKEY_CURRENT_USER export needs the SID of its user (--user SID FILE)";
      return false;
    } else {
      *error = file.string() + ": keys under " + WideToUtf8(first.substr(0, first.find(L'\\'))) +
               " cannot be imported (expected HKEY_LOCAL_MACHINE or HKEY_USERS\\<SID> keys)";
      return false;
    }
  }
  if (!request.current.empty() && !CheckSid(request.current, "--current", error)) return false;
  for (const auto& [sid, file] : request.userExports)
    if (!CheckSid(sid, "--user", error)) return false;
  for (const auto& [sid, file] : request.userExports) {
    std::string bytes;
    if (!ReadFileBytes(file, &bytes, error) || !parseUser(sid, kUserRoot, bytes, file)) return false;
  }
  if (machineFiles || !users.empty() || haveForm) {
    if (!WriteRegFileAtomic(hklmFile, hklm, kMachineRoot, hklmForm, error, fs::absolute(request.machine, ec)))
      return false;
    *report += "registry/HKLM.reg: " + std::to_string(machineFiles) + " export(s) merged\n";
  }

  MachineConfig config;
  config.root = fs::absolute(request.machine, ec);
  // An option wins over the capture's own report, which wins over the exports.
  const RegNode* nls = Walk(hklm, {L"SYSTEM", L"CurrentControlSet", L"Control", L"Nls"});
  UINT exportedAcp = 0, exportedLanguage = 0;
  bool haveAcp = nls && ParseNumber(StringValue(Walk(*nls, {L"CodePage"}), L"ACP"), 10, &exportedAcp);
  bool haveLanguage = nls && ParseNumber(StringValue(Walk(*nls, {L"Language"}), L"Default"), 16, &exportedLanguage);
  config.acp = request.acp ? request.acp : capture.acp ? capture.acp : haveAcp ? exportedAcp : 1252;
  config.uiLanguage = request.uiLanguage   ? request.uiLanguage
                      : capture.uiLanguage ? capture.uiLanguage
                      : haveLanguage       ? exportedLanguage
                                           : 1033;
  if (!request.current.empty())
    config.user = request.current;
  else if (!capture.user.empty())
    config.user = capture.user;
  else if (!request.userExports.empty())
    config.user = request.userExports.front().first;
  else if (!fromUsersKey.empty())
    config.user = fromUsersKey.front();
  // Users exported through HKEY_USERS were logged on; a capture says so itself.
  config.loggedOn = request.capture.empty() ? fromUsersKey : capture.loggedOn;

  // A profile whose hive held none of the exported keys still has one.
  for (const auto& sid : capture.hives) users.try_emplace(sid);
  Machine machine(config);
  for (auto& [sid, hive] : users) {
    std::wstring profile;
    fs::path file;
    if (!ProfilePath(hklm, sid, &profile, error)) return false;
    if (!machine.MapPath(profile + L"\\NTUSER.DAT", &file)) {
      *error = "user " + WideToUtf8(sid) + ": profile path " + WideToUtf8(profile) + " is not on a drive";
      return false;
    }
    if (!WriteRegFileAtomic(file, hive.root, kUserRoot, hive.form, error, config.root)) return false;
    *report += "user " + WideToUtf8(sid) + ": " + WideToUtf8(profile) + "\\NTUSER.DAT\n";
  }

  std::ofstream ini(request.machine / "machine.ini", std::ios::binary | std::ios::trunc);
  ini << "[machine]\nacp=" << config.acp << " ui_language=" << config.uiLanguage << "\n";
  if (!config.user.empty()) ini << "user=" << WideToUtf8(config.user) << "\n";
  std::string loggedOn;
  for (const auto& sid : config.loggedOn) loggedOn += (loggedOn.empty() ? "" : ",") + WideToUtf8(sid);
  if (!loggedOn.empty()) ini << "logged_on=" << loggedOn << "\n";
  ini.close();
  if (!ini) {
    *error = (request.machine / "machine.ini").string() + ": cannot be written";
    return false;
  }
  *report += "machine.ini: acp=" + std::to_string(config.acp) + " ui_language=" + std::to_string(config.uiLanguage) +
             (config.user.empty() ? "" : " user=" + WideToUtf8(config.user)) +
             (loggedOn.empty() ? "" : " logged_on=" + loggedOn) + "\n";

  if (!request.smbios.empty()) {
    std::string bytes;
    std::vector<BYTE> raw;
    std::string why;
    if (!ReadFileBytes(request.smbios, &bytes, error)) return false;
    if (!RawSmbiosFromDump(std::vector<BYTE>(bytes.begin(), bytes.end()), &raw, &why)) {
      *error = request.smbios.string() + ": " + why;
      return false;
    }
    std::ofstream out(request.machine / "smbios.bin", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
    out.close();
    if (!out) {
      *error = (request.machine / "smbios.bin").string() + ": cannot be written";
      return false;
    }
    *report += "smbios.bin: " + std::to_string(raw.size()) + " bytes\n";
  }

  if (!capture.entries.empty()) {
    ::setenv("VELK_MACHINE", config.root.c_str(), 1);
    Machine::Reset();
    if (!MakeFolders(capture, report, error)) return false;
  }
  return true;
}

}  // namespace velk_machine
