#include "Paths.h"

#include <cwchar>

#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Port.h"

BOOL GetLocalAppDataFolder(wchar_t path[MAX_PATH]) {
  HRESULT hr = platform::Use<platform::KnownFolders>().GetFolderPath(CSIDL_LOCAL_APPDATA, path);
  if (hr == S_OK) return TRUE;
  path[0] = L'\0';
  uint32_t code = static_cast<uint32_t>(hr);
  platform::SetLastErrorCode((code & 0xFFFF0000u) == 0x80070000u ? (code & 0xFFFFu) : ERROR_FILE_NOT_FOUND);
  return FALSE;
}

BOOL AppendBounded(wchar_t* buffer, size_t room, const wchar_t* suffix) {
  size_t used = std::wcslen(buffer);
  size_t add = std::wcslen(suffix);
  if (used + add + 1 > room) return FALSE;
  std::wmemcpy(buffer + used, suffix, add + 1);
  return TRUE;
}
