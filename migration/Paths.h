// Paths of the migration program.
#pragma once

#include <cstddef>

#include "platform/WinTypes.h"

// The data directory below the local application data folder.
constexpr wchar_t kDataDirectorySuffix[] = L"\\TESSMAR\\velk\\velk-access";
constexpr wchar_t kCompletionStateName[] = L"_completed_mig";

// SHGetSpecialFolderPathW(null, path, CSIDL_LOCAL_APPDATA, FALSE): the
// user's local application data folder into path (MAX_PATH characters).
// FALSE on failure, with the reason as the thread's last error.
BOOL GetLocalAppDataFolder(wchar_t path[MAX_PATH]);

// Appends suffix to the terminated text in buffer (room characters with
// the terminator). FALSE, with buffer unchanged, when the result would not
// fit.
BOOL AppendBounded(wchar_t* buffer, size_t room, const wchar_t* suffix);
