// Text comparison as Windows does it for paths and names.
#pragma once

#include <string_view>

namespace platform {

// Whole-text comparison without regard to letter case
// (CompareStringOrdinal with ignoreCase on Windows).
bool EqualsIgnoreCase(std::wstring_view a, std::wstring_view b);

}  // namespace platform
