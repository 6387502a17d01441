#include <clocale>
#include <cstring>

#include "platform/Runtime.h"
#include "platform/host/adapters/HostRegistry.h"

namespace platform {

ComApartment::ComApartment() = default;

// Linux has no such policy; the handle discipline is the whole defence.
DWORD EnforceRedirectionTrust() { return ERROR_PROC_NOT_FOUND; }
ComApartment::~ComApartment() = default;

ActionScope::ActionScope() { static_cast<host::HostRegistry&>(Registry::Default()).BeginChangeBatch(); }
ActionScope::~ActionScope() { static_cast<host::HostRegistry&>(Registry::Default()).EndChangeBatch(); }

void SetLocaleFromEnvironment() {
  const char* name = std::setlocale(LC_ALL, "");
  // Linux's "C" locale cannot convert non-ASCII wide text at all; the host
  // stands in for a user code page with UTF-8 then.
  if (!name || std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0) std::setlocale(LC_ALL, "C.UTF-8");
}

}  // namespace platform
