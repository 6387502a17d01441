// File-name rules of the host file system that tests check on their own.
#pragma once

#include <string>
#include <string_view>

#include "platform/NamePatterns.h"
#include "platform/WinTypes.h"

namespace platform::host {

// The attributes Linux lacks (read-only, hidden, system, archive) as kept in
// the extended attribute user.DOSATTRIB of a host path; 0 when none.
unsigned long StoredDosAttributes(const char* hostPath);
// The same for the entry name of an open folder (AT_FDCWD: name is a whole
// path), read relative to the folder where the kernel can, else through
// full or folder + "/" + name.
DWORD StoredDosBitsAt(int dirFd, const char* name, const std::string& folder, const std::string* full = nullptr);
// Keeps the storable bits of bits for a host path; none removes the
// attribute. False with errno.
bool WriteStoredDosBits(const std::string& hostPath, DWORD bits);
// The same for an open file or folder.
bool WriteStoredDosBitsFd(int fd, DWORD bits);

using platform::HasWildcards;
using platform::MatchFileName;
using platform::MatchTranslated;
using platform::TranslatePattern;

// ExpandEnvironmentStringsW over a lookup: %NAME% references whose name
// the lookup knows are replaced; an unknown one stays as written, and its
// closing '%' may open the next reference, as Windows does.
template <class Lookup>
std::wstring ExpandReferences(std::wstring_view text, Lookup lookup) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != L'%') {
      out += text[i++];
      continue;
    }
    size_t close = text.find(L'%', i + 1);
    if (close == std::wstring_view::npos) {
      out.append(text.substr(i));
      break;
    }
    std::wstring value;
    if (close > i + 1 && lookup(std::wstring(text.substr(i + 1, close - i - 1)), &value)) {
      out += value;
      i = close + 1;
    } else {
      out.append(text.substr(i, close - i));
      i = close;
    }
  }
  return out;
}

}  // namespace platform::host
