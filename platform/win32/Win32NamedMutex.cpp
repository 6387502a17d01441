#include "platform/NamedMutex.h"

namespace platform {

namespace {

class Win32NamedMutex : public NamedMutex {
 public:
  HANDLE Create(const wchar_t* name, BOOL initialOwner) override {
    return CreateMutexW(nullptr, initialOwner, name && *name ? name : nullptr);
  }
  BOOL Close(HANDLE mutex) override { return CloseHandle(mutex); }
};

}  // namespace

NamedMutex& NamedMutex::Default() {
  static Win32NamedMutex mutex;
  return mutex;
}

}  // namespace platform
