#include "ProfileList.h"

#include "Errors.h"
#include "platform/CodePages.h"

using platform::Use;

bool IsSystemProfile(const wchar_t* sid) {
  static const wchar_t kPrefix[] = L"S-1-5-";
  for (size_t i = 0; i < 6; ++i)
    if (sid[i] != kPrefix[i]) return false;
  auto digit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
  if (!digit(sid[6])) return false;
  int n = sid[6] - L'0';
  if (digit(sid[7])) n = n * 10 + (sid[7] - L'0');
  return n <= 20 && n != 16;
}

bool ForEachProfileSid(const ProfileStep& step) {
  platform::Registry& registry = Use<platform::Registry>();
  platform::RegKey list;
  LSTATUS status = registry.OpenKey(HKEY_LOCAL_MACHINE, kProfileListKey, KEY_READ, list.Put());
  if (status != ERROR_SUCCESS) {
    LogRegError("RegOpenKeyEx", status);
    return false;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[kProfileNameChars];
    DWORD nameChars = kProfileNameChars;
    status = registry.EnumKey(list.Get(), index, name, &nameChars);
    if (status == ERROR_NO_MORE_ITEMS) {
      Log(Info, "RegEnumKey end");
      break;
    }
    if (status != ERROR_SUCCESS) {
      LogRegError("RegEnumKey", status);
      break;
    }
    if (!IsSystemProfile(name)) step(list.Get(), name);
  }
  return true;
}

std::wstring LookupProfilePath(HKEY list, const wchar_t* sid, const wchar_t* suffix) {
  platform::Registry& registry = Use<platform::Registry>();
  platform::RegKey profile;
  LSTATUS status = registry.OpenKey(list, sid, KEY_READ, profile.Put());
  if (status != ERROR_SUCCESS) {
    LogRegError("RegOpenKeyEx", status);
    return {};
  }
  // The read is limited to the 260 characters; the extra one only ends a
  // value stored without terminator.
  wchar_t value[kProfilePathChars + 1] = {};
  DWORD bytes = kProfilePathChars * sizeof(wchar_t);
  status = registry.QueryValue(profile.Get(), L"ProfileImagePath", nullptr, reinterpret_cast<BYTE*>(value), &bytes);
  if (status != ERROR_SUCCESS) {
    LogRegError("RegQueryValueEx", status);
    return {};
  }
  profile.Reset();
  value[bytes / sizeof(wchar_t)] = L'\0';
  std::wstring path = std::wstring(value) + suffix;
  if (Use<platform::FileSystem>().PathExists(path.c_str())) return path;
  Log(Warning, "Profile Not Found (%s)", platform::WideToAnsi(sid).c_str());
  return {};
}
