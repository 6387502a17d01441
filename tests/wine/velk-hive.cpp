// velk-hive: makes and inspects user hive files for the Wine cases.
//
//   velk-hive.exe save FILE KEY...   a hive holding the keys (paths like
//                                    SOFTWARE\TESSMAR\velk-access), saved
//                                    with RegSaveKeyW
//   velk-hive.exe has FILE KEY       exit 0 when the hive file holds KEY,
//                                    1 when not (RegLoadKeyW, RegUnLoadKeyW)
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const wchar_t kScratch[] = L"SOFTWARE\\velk-hive-scratch";
const wchar_t kMount[] = L"velk-hive-check";

void Enable(const wchar_t* privilege) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  TOKEN_PRIVILEGES tp = {};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, privilege, &tp.Privileges[0].Luid))
    AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr);
  CloseHandle(token);
}

int Save(int argc, wchar_t** argv) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScratch);
  HKEY root;
  LSTATUS s = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr);
  if (s != ERROR_SUCCESS) {
    std::fprintf(stderr, "velk-hive: RegCreateKeyExW %ld\n", static_cast<long>(s));
    return 1;
  }
  for (int i = 3; i < argc; ++i) {
    HKEY k;
    if (RegCreateKeyExW(root, argv[i], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) == ERROR_SUCCESS) {
      const wchar_t value[] = L"1";
      RegSetValueExW(k, L"Marker", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value);
      RegCloseKey(k);
    }
  }
  DeleteFileW(argv[2]);
  s = RegSaveKeyW(root, argv[2], nullptr);
  RegCloseKey(root);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kScratch);
  if (s != ERROR_SUCCESS) {
    std::fprintf(stderr, "velk-hive: RegSaveKeyW %ld\n", static_cast<long>(s));
    return 1;
  }
  return 0;
}

int Has(wchar_t** argv) {
  LSTATUS s = RegLoadKeyW(HKEY_USERS, kMount, argv[2]);
  if (s != ERROR_SUCCESS) {
    std::fprintf(stderr, "velk-hive: RegLoadKeyW %ld\n", static_cast<long>(s));
    return 2;
  }
  std::wstring path = std::wstring(kMount) + L"\\" + argv[3];
  HKEY k;
  s = RegOpenKeyExW(HKEY_USERS, path.c_str(), 0, KEY_READ, &k);
  if (s == ERROR_SUCCESS) RegCloseKey(k);
  RegUnLoadKeyW(HKEY_USERS, kMount);
  std::printf("%s\n", s == ERROR_SUCCESS ? "present" : "absent");
  return s == ERROR_SUCCESS ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Enable(L"SeBackupPrivilege");
  Enable(L"SeRestorePrivilege");
  if (argc >= 3 && std::wstring(argv[1]) == L"save") return Save(argc, argv);
  if (argc == 4 && std::wstring(argv[1]) == L"has") return Has(argv);
  std::fprintf(stderr, "usage: velk-hive save FILE KEY... | velk-hive has FILE KEY\n");
  return 2;
}
