#pragma once

#include <string>

#include "platform/WinTypes.h"

void RemoveSparkleRegForProfile(HKEY list, const wchar_t* sid);
// True when the profile's NTUSER.DAT was mounted as HKEY_USERS\<sid>.
bool LoadProfileHive(HKEY list, const wchar_t* sid);
void UnloadProfileHive(const wchar_t* sid);
// Deletes root\path when it has no subkeys; true when deleted.
bool DeleteKeyIfNoSubkeys(HKEY root, const std::wstring& path);
