#include <cstring>

#include "platform/SystemMessages.h"

namespace platform {

namespace {

// The LOAD_LIBRARY_SEARCH_* flags exist where kernel32 exports
// AddDllDirectory (Windows 8, or Windows 7 with KB2533623): the way the
// LoadLibraryEx page says to find out, rather than guessing from a failure.
bool HasSearchFlags() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

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
  if (HasSearchFlags()) return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Without the flags, the system folder's own path, so that no other
  // folder is searched either.
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
