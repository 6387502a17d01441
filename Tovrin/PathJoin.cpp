#include "PathJoin.h"

#include <vector>

#include "platform/WinTypes.h"

namespace {

// The part that ".." never climbs above: "C:\", "\\server\share\", "\".
size_t RootLength(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return 3;
  if (path.size() >= 2 && path[1] == L':') return 2;
  if (path.compare(0, 2, L"\\\\") == 0) {
    size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos) return path.size();
    size_t share = path.find(L'\\', server + 1);
    return share == std::wstring::npos ? path.size() : share + 1;
  }
  return !path.empty() && path[0] == L'\\' ? 1 : 0;
}

std::wstring Canonicalize(const std::wstring& path) {
  size_t root = RootLength(path);
  std::vector<std::wstring> parts;
  std::wstring part;
  bool trailing = false;
  auto flush = [&](bool last) {
    if (part == L".") {
      trailing = !last;
    } else if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
      trailing = !last;
    } else {
      parts.push_back(part);
      trailing = false;
    }
    part.clear();
  };
  for (size_t i = root; i < path.size(); ++i) {
    if (path[i] == L'\\') {
      flush(false);
    } else {
      part += path[i];
    }
  }
  bool endsInSlash = path.size() > root && path.back() == L'\\';
  if (!endsInSlash) flush(true);
  std::wstring out = path.substr(0, root);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += L'\\';
    out += parts[i];
  }
  if ((endsInSlash || trailing) && !parts.empty()) out += L'\\';
  return out;
}

}  // namespace

bool AppendToPath(std::wstring& path, std::wstring_view more) {
  while (!more.empty() && more.front() == L'\\') more.remove_prefix(1);
  std::wstring joined = path;
  if (!joined.empty() && joined.back() != L'\\') joined += L'\\';
  joined += more;
  if (joined.size() >= MAX_PATH) {
    path.clear();
    return false;
  }
  path = Canonicalize(joined);
  return true;
}
