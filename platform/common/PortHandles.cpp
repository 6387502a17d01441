// RAII owners shared by both builds; they release through the ports.
#include "platform/Installer.h"
#include "platform/Port.h"
#include "platform/Registry.h"
#include "platform/Token.h"

namespace platform {

void RegKey::Reset() {
  if (key_) {
    Use<Registry>().CloseKey(key_);
    key_ = nullptr;
  }
}

MsiRecord::MsiRecord(UINT fields) : handle_(Use<Installer>().CreateRecord(fields)) {}

MsiRecord::~MsiRecord() {
  if (handle_) Use<Installer>().CloseHandle(handle_);
}

TokenHandle::~TokenHandle() {
  if (handle_) Use<Token>().CloseToken(handle_);
}

}  // namespace platform
