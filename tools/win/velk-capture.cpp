// velk-capture: writes what the kit reads on this PC into one folder, for
// `velk-machine import --capture FOLDER` on a Linux host:
//
//   machine.txt        acp, ui_language, user (who ran this), logged_on,
//                      hives (the profiles whose hive could be read)
//   registry/*.reg     reg.exe exports of the HKLM keys the kit reads and of
//                      each profile's keys (HKEY_USERS\<SID>\...; a profile
//                      that is not logged on has its hive loaded for it)
//   smbios.bin         the raw SMBIOS data GetSystemFirmwareTable('RSMB') gives
//   folders.txt        "<attributes, 8 hex digits> <path>" of each profile's
//                      folders under its local application data the kit
//                      visits: names and attributes only, never contents
//
//   velk-capture.exe FOLDER
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/UniqueHandle.h"

namespace {

const wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// The HKLM keys the kit reads: version values and the profile list, code
// page and language, the network adapters' device, class and connection keys.
const wchar_t* const kMachineKeys[] = {
    L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
    L"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage",
    L"SYSTEM\\CurrentControlSet\\Control\\Nls\\Language",
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}",
    L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}",
    L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET",
    L"SOFTWARE\\TESSMAR",
};
const DWORD kRsmb = ('R' << 24) | ('S' << 16) | ('M' << 8) | 'B';
// Below each profile's hive root.
const wchar_t* const kUserKeys[] = {L"Software\\TESSMAR", L"Software\\Pellacor"};
// Below each profile's local application data.
const wchar_t* const kUserFolders[] = {L"TESSMAR", L"Pellacor"};

void Fail(const char* call, DWORD code, const std::wstring& about) {
  std::fprintf(stderr, "velk-capture: %s failed (%lu) for %ls\n", call, code, about.c_str());
}

// The tree's handle owner, closing straight through Win32: this program
// calls Windows itself and links none of the kit's ports.
struct KeyClosed : platform::NullInvalid<HKEY> {
  static void Close(HKEY key) { RegCloseKey(key); }
};
struct KernelClosed : platform::InvalidValueOrNullInvalid {
  static void Close(HANDLE handle) { CloseHandle(handle); }
};
struct FindClosed : platform::InvalidValueInvalid {
  static void Close(HANDLE find) { FindClose(find); }
};
using Key = platform::UniqueHandle<KeyClosed>;
using Handle = platform::UniqueHandle<KernelClosed>;
using Find = platform::UniqueHandle<FindClosed>;

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

bool WriteFileBytes(const std::wstring& path, const void* data, size_t size) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    Fail("CreateFileW", GetLastError(), path);
    return false;
  }
  DWORD done = 0;
  if (!WriteFile(file.Get(), data, static_cast<DWORD>(size), &done, nullptr) || done != size) {
    Fail("WriteFile", GetLastError(), path);
    return false;
  }
  return true;
}

// reg.exe export KEY FILE /y: the form a customer's own export has. A key
// that does not exist is no failure of the capture.
void Export(const std::wstring& key, const std::wstring& file) {
  wchar_t system[MAX_PATH];
  UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    Fail("GetSystemDirectoryW", GetLastError(), key);
    return;
  }
  std::wstring command = L"\"" + std::wstring(system) + L"\\reg.exe\" export \"" + key + L"\" \"" + file + L"\" /y";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
    Fail("CreateProcessW", GetLastError(), command);
    return;
  }
  Handle process(pi.hProcess), thread(pi.hThread);
  WaitForSingleObject(pi.hProcess, 120000);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  std::printf("%s %ls\n", code == 0 ? "exported" : "not found", key.c_str());
  if (code != 0) DeleteFileW(file.c_str());
}

void Enable(const wchar_t* privilege) {
  Handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put())) {
    Fail("OpenProcessToken", GetLastError(), privilege);
    return;
  }
  TOKEN_PRIVILEGES tp = {};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (!LookupPrivilegeValueW(nullptr, privilege, &tp.Privileges[0].Luid) ||
      !AdjustTokenPrivileges(token.Get(), FALSE, &tp, sizeof tp, nullptr, nullptr))
    Fail("AdjustTokenPrivileges", GetLastError(), privilege);
}

std::wstring CurrentUserSid() {
  Handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) {
    Fail("OpenProcessToken", GetLastError(), L"TOKEN_QUERY");
    return {};
  }
  BYTE buffer[512];
  DWORD size = 0;
  if (!GetTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size)) {
    Fail("GetTokenInformation", GetLastError(), L"TokenUser");
    return {};
  }
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
    Fail("ConvertSidToStringSidW", GetLastError(), L"TokenUser");
    return {};
  }
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

struct Profile {
  std::wstring sid;
  std::wstring home;  // expanded
};

std::vector<Profile> Profiles() {
  std::vector<Profile> out;
  Key list;
  LSTATUS s = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ, list.Put());
  if (s != ERROR_SUCCESS) {
    Fail("RegOpenKeyExW", static_cast<DWORD>(s), kProfileList);
    return out;
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[260];
    DWORD chars = 260;
    if (RegEnumKeyExW(list.Get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    wchar_t raw[MAX_PATH] = {}, home[MAX_PATH] = {};
    DWORD bytes = sizeof raw - sizeof(wchar_t);
    s = RegGetValueW(list.Get(), name, L"ProfileImagePath", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                     nullptr, raw, &bytes);
    if (s != ERROR_SUCCESS) {
      Fail("RegGetValueW", static_cast<DWORD>(s), name);
      continue;
    }
    DWORD n = ExpandEnvironmentStringsW(raw, home, MAX_PATH);
    if (n == 0 || n > MAX_PATH) {
      Fail("ExpandEnvironmentStringsW", GetLastError(), raw);
      continue;
    }
    out.push_back({name, home});
  }
  return out;
}

bool IsLoggedOn(const std::wstring& sid) {
  Key key;
  return RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

void Line(std::string& out, DWORD attributes, const std::wstring& path) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08lx ", static_cast<unsigned long>(attributes));
  out += hex + Utf8(path) + "\r\n";
}

// Every entry below folder, parents before children.
void Walk(std::string& out, const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  Find find(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = folder + L"\\" + name;
    Line(out, data.dwFileAttributes, path);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
      Walk(out, path);
  } while (FindNextFileW(find.Get(), &data));
}

void Folders(std::string& out, const Profile& p) {
  std::wstring path = p.home;
  for (const wchar_t* part : {L"", L"\\AppData", L"\\AppData\\Local"}) {
    path = p.home + part;
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    Line(out, a, path);
  }
  for (const wchar_t* name : kUserFolders) {
    std::wstring folder = path + L"\\" + name;
    DWORD a = GetFileAttributesW(folder.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) continue;
    Line(out, a, folder);
    Walk(out, folder);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velk-capture.exe FOLDER\n");
    return 2;
  }
  std::wstring out = argv[1];
  CreateDirectoryW(out.c_str(), nullptr);
  std::wstring registry = out + L"\\registry";
  if (!CreateDirectoryW(registry.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    Fail("CreateDirectoryW", GetLastError(), registry);
    return 1;
  }

  int index = 0;
  for (const wchar_t* key : kMachineKeys) {
    wchar_t file[32];
    std::swprintf(file, 32, L"\\hklm-%02d.reg", index++);
    Export(std::wstring(L"HKLM\\") + key, registry + file);
  }

  Enable(L"SeBackupPrivilege");
  Enable(L"SeRestorePrivilege");
  std::string loggedOn, hives, folders;
  for (const Profile& p : Profiles()) {
    Folders(folders, p);
    bool mounted = IsLoggedOn(p.sid);
    if (mounted) {
      if (!loggedOn.empty()) loggedOn += ',';
      loggedOn += Utf8(p.sid);
    } else {
      std::wstring hive = p.home + L"\\NTUSER.DAT";
      LSTATUS s = RegLoadKeyW(HKEY_USERS, p.sid.c_str(), hive.c_str());
      if (s != ERROR_SUCCESS) {
        Fail("RegLoadKeyW", static_cast<DWORD>(s), hive);
        continue;
      }
    }
    if (!hives.empty()) hives += ',';
    hives += Utf8(p.sid);
    index = 0;
    for (const wchar_t* key : kUserKeys) {
      wchar_t file[32];
      std::swprintf(file, 32, L"-%02d.reg", index++);
      Export(L"HKU\\" + p.sid + L"\\" + key, registry + L"\\" + p.sid + file);
    }
    if (!mounted) {
      LSTATUS s = RegUnLoadKeyW(HKEY_USERS, p.sid.c_str());
      if (s != ERROR_SUCCESS) Fail("RegUnLoadKeyW", static_cast<DWORD>(s), p.sid);
    }
  }
  if (!WriteFileBytes(out + L"\\folders.txt", folders.data(), folders.size())) return 1;

  std::string machine =
      "acp=" + std::to_string(GetACP()) + "\r\nui_language=" + std::to_string(GetUserDefaultUILanguage()) +
      "\r\nuser=" + Utf8(CurrentUserSid()) + "\r\nlogged_on=" + loggedOn + "\r\nhives=" + hives + "\r\n";
  if (!WriteFileBytes(out + L"\\machine.txt", machine.data(), machine.size())) return 1;

  UINT size = GetSystemFirmwareTable(kRsmb, 0, nullptr, 0);
  std::vector<BYTE> smbios(size);
  if (size == 0 || GetSystemFirmwareTable(kRsmb, 0, smbios.data(), size) != size) {
    Fail("GetSystemFirmwareTable", GetLastError(), L"RSMB");
  } else if (!WriteFileBytes(out + L"\\smbios.bin", smbios.data(), smbios.size())) {
    return 1;
  }
  std::printf("captured into %ls\n", out.c_str());
  return 0;
}
