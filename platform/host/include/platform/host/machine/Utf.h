// Unicode helpers of the host build (wchar_t holds UTF-32 there).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::host {

std::string WideToUtf8(std::wstring_view text);
// Invalid sequences become U+FFFD.
std::wstring Utf8ToWide(std::string_view text);
// Surrogate pairs are combined; a lone surrogate becomes U+FFFD.
std::wstring Utf16LeToWide(const uint8_t* bytes, size_t count);
std::vector<uint8_t> WideToUtf16Le(std::wstring_view text);
// Where text stops being strict UTF-8 (a byte offset), or npos.
size_t InvalidUtf8At(std::string_view text);
// The first UTF-16 unit that is a lone surrogate, or npos.
size_t LoneSurrogateAt(const uint8_t* bytes, size_t count);
// MultiByteToWideChar with MB_ERR_INVALID_CHARS: text in codePage (not
// CP_ACP), or false with the offset of the first byte the code page does
// not define in *bad.
bool DecodeStrict(unsigned codePage, std::string_view text, std::wstring* out, size_t* bad);
// The length in UTF-16 code units, as Windows counts the characters of a name.
size_t Utf16Length(std::wstring_view text);
// Case-insensitive comparison of names the way Windows compares them.
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
int CompareNoCase(std::wstring_view a, std::wstring_view b);
std::wstring UpperCase(std::wstring_view text);

}  // namespace platform::host
