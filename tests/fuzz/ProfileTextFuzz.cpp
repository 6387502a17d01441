// What the per-user actions read from a profile list and an installer:
// SID names, home directory texts with environment references, folder
// paths of any length, and the file-name patterns of the host searches.
// Input: pieces separated by a zero byte, taken as UTF-8.
#include <cstdint>
#include <string>
#include <vector>

#include "DirectoryRemover.h"
#include "ProfileList.h"
#include "RemoveRakAll.h"
#include "platform/host/machine/FileNames.h"
#include "platform/host/machine/Utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0x10000) return 0;
  std::vector<std::wstring> parts;
  std::string piece;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      parts.push_back(platform::host::Utf8ToWide(piece));
      piece.clear();
    } else {
      piece += static_cast<char>(data[i]);
    }
  }
  while (parts.size() < 3) parts.emplace_back();

  IsSystemProfile(parts[0].c_str());
  platform::host::MatchFileName(parts[0], parts[1]);
  platform::host::ExpandReferences(parts[2], [](const std::wstring& name, std::wstring* value) {
    if (name.size() % 2) return false;
    *value = name + name;
    return true;
  });
  _pde::ComputeRelativeDataPath(parts[1], parts[2]);

  // The working path grows past its inline room and is cut back by levels.
  CPathBuffer path;
  path.Assign(parts[0]);
  size_t levels[4];
  for (size_t round = 0; round < 4; ++round) {
    levels[round] = path.size();
    path.Append(L"\\");
    path.Append(parts[1 + round % 2]);
  }
  for (size_t round = 4; round-- > 0;) {
    path.Cut(levels[round]);
    if (path.size() != levels[round] || path.c_str()[path.size()] != L'\0') __builtin_trap();
  }
  return 0;
}
