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
  return h ? h : LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
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
