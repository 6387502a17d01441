// FindFirstFileW's name patterns.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Whether a name matches a FindFirstFileW pattern: case-insensitive, "*.*"
// and "*" match every name, '?' matches one character or, at the end of the
// name or before a dot, none; "*." and ".?" / ".*" follow the DOS rules.
bool MatchFileName(std::wstring_view pattern, std::wstring_view name);

// MatchFileName in two steps, for a search that matches many names against
// one pattern: the pattern with its DOS wildcards marked, then a match.
std::wstring TranslatePattern(std::wstring_view pattern);
bool MatchTranslated(std::wstring_view translated, std::wstring_view name);
bool HasWildcards(std::wstring_view text);

}  // namespace platform
