// Path joining with the rules of the shell's PathAppendW.
#pragma once

#include <string>

// Appends the relative path `more` to `path` as PathAppendW does in a
// buffer of MAX_PATH characters: backslashes leading `more` are dropped,
// one backslash separates the two (none when `path` is empty or already
// ends in one), and "." and ".." components are resolved. When the joined
// path would not fit in MAX_PATH characters with its terminator, `path`
// becomes empty and the result is false.
bool AppendToPath(std::wstring& path, std::wstring_view more);
