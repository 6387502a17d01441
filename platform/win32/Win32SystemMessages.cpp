#include <cstring>

#include "platform/SystemMessages.h"

namespace platform {

namespace {

HMODULE ModuleOf(MessageModule module) {
  const char* name = nullptr;
  switch (module) {
    case MessageModule::Kernel32: name = "kernel32.dll"; break;
    case MessageModule::Newdev: name = "newdev.dll"; break;
    case MessageModule::Setupapi: name = "setupapi.dll"; break;
    case MessageModule::None: return nullptr;
  }
  HMODULE h = GetModuleHandleA(name);
  if (h) return h;
  h = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (h || GetLastError() != ERROR_INVALID_PARAMETER) return h;
  // Windows 7 without KB2533623 knows no search flags: the system folder's
  // own path then, so that no other folder is searched either.
  char path[MAX_PATH];
  UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + std::strlen(name) >= MAX_PATH) return nullptr;
  path[length] = '\\';
  std::strcpy(path + length + 1, name);
  return LoadLibraryExA(path, nullptr, 0);
}

class Win32SystemMessages : public SystemMessages {
 public:
  DWORD Format(DWORD flags, MessageModule module, DWORD id, DWORD language, char* buffer, DWORD size) override {
    return FormatMessageA(flags, (flags & FORMAT_MESSAGE_FROM_HMODULE) ? ModuleOf(module) : nullptr, id, language,
                          buffer, size, nullptr);
  }
};

}  // namespace

SystemMessages& SystemMessages::Default() {
  static Win32SystemMessages messages;
  return messages;
}

}  // namespace platform
