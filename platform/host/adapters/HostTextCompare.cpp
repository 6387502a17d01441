#include "platform/TextCompare.h"

#include "platform/host/machine/Utf.h"

namespace platform {

bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b) { return host::EqualsNoCase(a, b); }

}  // namespace platform
