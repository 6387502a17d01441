// The machine's user profiles, found in the profile list of the registry.
#pragma once

#include <functional>
#include <string>

#include "Errors.h"
#include "Log.h"
#include "TextReads.h"
#include "platform/FileSystem.h"
#include "platform/Hresult.h"
#include "platform/Port.h"
#include "platform/Registry.h"

inline constexpr wchar_t kProfileListKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
// Room for a profile's SID and for a home directory, terminator included.
inline constexpr DWORD kProfileNameChars = 260;
inline constexpr DWORD kProfilePathChars = 260;

// True for the profile of a system account (S-1-5-n with n at most 20 and
// not 16, n read from at most two digits), which the walk skips.
bool IsSystemProfile(const wchar_t* sid);

// Calls step(open list key, SID) for every user profile in list order;
// false (after an Error line) when the list cannot be opened.
using ProfileStep = std::function<void(HKEY list, const wchar_t* sid)>;
bool ForEachProfileSid(const ProfileStep& step);

// The stored home directory of a profile (unexpanded) followed by suffix,
// when that path exists; otherwise empty, with the reason logged.
std::wstring LookupProfilePath(HKEY list, const wchar_t* sid, const wchar_t* suffix);

// Visits the expanded home directory of every profile, system accounts
// included, through T::OnProfileDirectory(std::wstring). A bad entry ends
// the walk with an HresultException; T::kHandlerName names T in the log.
template <class T>
class CProfileDirectoryEnumerator {
 public:
  HRESULT Enumerate();
};

template <class T>
HRESULT CProfileDirectoryEnumerator<T>::Enumerate() {
  static const std::string scopeName = std::string("CProfileDirectoryEnumerator<") + T::kHandlerName + ">::Enumerate";
  CLogScope scope(g_logger, Info, scopeName.c_str());
  platform::Registry& registry = platform::Use<platform::Registry>();
  platform::RegKey list;
  LSTATUS status = registry.OpenKey(HKEY_LOCAL_MACHINE, kProfileListKey, KEY_READ, list.Put());
  if (status != ERROR_SUCCESS) ThrowHresult(platform::HresultFromWin32(status));
  for (DWORD index = 0;; ++index) {
    wchar_t name[kProfileNameChars];
    DWORD nameChars = kProfileNameChars;
    // The end of the list and an unreadable name both end the walk.
    if (registry.EnumKey(list.Get(), index, name, &nameChars) != ERROR_SUCCESS) return S_OK;
    platform::RegKey profile;
    status = registry.OpenKey(list.Get(), name, KEY_READ, profile.Put());
    if (status != ERROR_SUCCESS) ThrowHresult(platform::HresultFromWin32(status));
    DWORD type = 0;
    std::wstring value;
    status = ReadRegistryText(profile.Get(), L"ProfileImagePath", &type, &value);
    if (status != ERROR_SUCCESS) ThrowHresult(platform::HresultFromWin32(status));
    if (!platform::IsStringType(type)) ThrowHresult(kDataTypeMismatch);
    wchar_t directory[kProfilePathChars];
    DWORD needed = platform::Use<platform::FileSystem>().ExpandEnvironment(value.c_str(), directory, kProfilePathChars);
    if (needed == 0)
      directory[0] = L'\0';
    else if (needed > kProfilePathChars)
      ThrowHresult(E_INVALIDARG);
    static_cast<T*>(this)->OnProfileDirectory(std::wstring(directory));
  }
}
