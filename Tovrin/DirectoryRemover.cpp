#include "DirectoryRemover.h"

#include <cstring>
#include <cwchar>

#include "Errors.h"
#include "Log.h"
#include "PinnedFolders.h"
#include "platform/Hresult.h"
#include "platform/LastError.h"
#include "platform/Port.h"

using platform::Use;

namespace {

// "X:" or "\\server\share": the climb never tries to remove a volume.
bool IsVolumeRoot(const CPathBuffer& path) {
  if (path.size() == 2 && path[1] == L':') return true;
  if (path.size() < 2 || path[0] != L'\\' || path[1] != L'\\') return false;
  int separators = 0;
  for (size_t i = 2; i < path.size(); ++i)
    if (path[i] == L'\\') ++separators;
  return separators <= 1;
}

bool IsLink(DWORD attributes) { return attributes & FILE_ATTRIBUTE_REPARSE_POINT; }

}  // namespace

void CPathBuffer::Append(const wchar_t* text) { Append(text, std::wcslen(text)); }

void CPathBuffer::Append(const wchar_t* text, size_t chars) {
  if (m_size + chars > m_capacity) {
    size_t capacity = std::max(m_capacity * 2, m_size + chars);
    auto heap = std::make_unique<wchar_t[]>(capacity + 1);
    std::wmemcpy(heap.get(), m_data, m_size);
    m_heap = std::move(heap);
    m_data = m_heap.get();
    m_capacity = capacity;
  }
  std::wmemmove(m_data + m_size, text, chars);
  m_size += chars;
  m_data[m_size] = L'\0';
}

void CDirectoryRemover::LogFolderFailure(DWORD error) {
  Log(Warning, "remove failed - %ls\\ %s", m_path.c_str(), ErrorText(platform::HresultFromWin32(error)).c_str());
}

void CDirectoryRemover::Remove(const std::wstring& folder, const std::wstring& pattern) {
  platform::FileSystem& files = Use<platform::FileSystem>();
  size_t end = folder.size();
  while (end > 0 && folder[end - 1] == L'\\') --end;
  if (end == 0) return;  // no folder named: nothing to remove
  m_path.Assign(folder.substr(0, end));
  m_pattern = pattern;

  // A folder that is itself a link is left as it is: walking it would
  // remove what lies outside.
  platform::FindData self;
  platform::FindHandle probe(files.FindFirst(m_path.c_str(), &self));
  if (probe.Valid() && IsLink(self.attributes) && (self.attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    Log(Warning, "skipped link %ls", m_path.c_str());
  } else {
    probe.Reset();
    DWORD attributes = 0;
    platform::FolderHandle top(files.OpenFolder(nullptr, m_path.c_str(), &attributes));
    if (top.Valid()) RemoveTree(top.Get());
    top.Reset();
    if (!files.RemoveFolder(m_path.c_str())) LogFolderFailure(platform::GetLastErrorCode());
  }

  for (;;) {
    const wchar_t* last = std::wcsrchr(m_path.c_str(), L'\\');
    if (!last || last == m_path.c_str()) break;
    m_path.Cut(static_cast<size_t>(last - m_path.c_str()));
    if (IsVolumeRoot(m_path)) break;
    if (files.RemoveFolder(m_path.c_str())) continue;
    DWORD error = platform::GetLastErrorCode();
    if (error != ERROR_DIR_NOT_EMPTY) LogFolderFailure(error);
    break;
  }
}

void CDirectoryRemover::RemoveIn(CPinnedFolders& chain, const std::wstring& pattern, size_t climb) {
  platform::FileSystem& files = Use<platform::FileSystem>();
  m_pattern = pattern;
  const size_t target = chain.Components();
  if (target == 0) return;
  climb = std::min(climb, target - 1);
  // A level below one the chain could not reach: removing it fails as
  // RemoveDirectoryW fails on a path whose folders are missing.
  const DWORD missing = ERROR_PATH_NOT_FOUND;

  m_path.Assign(chain.PathOf(target));
  if (chain.Complete()) {
    RemoveTree(chain.Last());
    if (!chain.RemoveLast()) LogFolderFailure(platform::GetLastErrorCode());
  } else if (chain.Depth() == target - 1) {
    // Only the folder itself is missing: its parent is held.
    if (!files.RemoveFolderIn(chain.Last(), chain.NameOf(target).c_str()))
      LogFolderFailure(platform::GetLastErrorCode());
  } else {
    LogFolderFailure(missing);
  }

  for (size_t level = target - 1; level + climb >= target && level > 0; --level) {
    m_path.Assign(chain.PathOf(level));
    DWORD error;
    if (level == chain.Depth()) {
      if (chain.RemoveLast()) continue;
      error = platform::GetLastErrorCode();
    } else if (level == chain.Depth() + 1) {
      if (files.RemoveFolderIn(chain.Last(), chain.NameOf(level).c_str())) continue;
      error = platform::GetLastErrorCode();
    } else {
      error = missing;
    }
    if (error != ERROR_DIR_NOT_EMPTY) LogFolderFailure(error);
    break;
  }
}

void CDirectoryRemover::RemoveTree(HANDLE folder) {
  platform::FileSystem& files = Use<platform::FileSystem>();
  const size_t n = m_path.size();
  platform::FindData entry;
  platform::FindHandle find(files.FindFirstIn(folder, m_pattern.c_str(), &entry));
  if (find.Valid()) {
    do {
      m_path.Cut(n);
      m_path.Append(L"\\");
      m_path.Append(entry.name);
      RemoveEntry(folder, entry);
    } while (files.FindNext(find.Get(), &entry));
    find.Reset();
  }
  m_path.Cut(n);
}

void CDirectoryRemover::RemoveEntry(HANDLE folder, const platform::FindData& entry) {
  platform::FileSystem& files = Use<platform::FileSystem>();
  if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (std::wcscmp(entry.name, L".") == 0 || std::wcscmp(entry.name, L"..") == 0) return;
    // A link of any kind goes itself; what it points to is never walked.
    bool link = IsLink(entry.attributes);
    if (!link) {
      DWORD attributes = 0;
      platform::FolderHandle child(files.OpenFolder(folder, entry.name, &attributes));
      // A link put in the folder's place since the listing is a link too.
      link = child.Valid() && IsLink(attributes);
      if (child.Valid() && !link) RemoveTree(child.Get());
    }
    if (files.RemoveFolderIn(folder, entry.name)) return;
    if (link)
      Log(Warning, "remove failed - %ls %s", entry.name, ErrorText(PlainHresultFromLastError()).c_str());
    else
      LogFolderFailure(platform::GetLastErrorCode());
    return;
  }
  if (entry.attributes & FILE_ATTRIBUTE_SYSTEM) {
    Log(Warning, "skipped system file %ls", entry.name);
    return;
  }
  if (entry.attributes & FILE_ATTRIBUTE_READONLY) files.SetAttributesIn(folder, entry.name, FILE_ATTRIBUTE_NORMAL);
  if (!files.RemoveFileIn(folder, entry.name))
    Log(Warning, "remove failed - %ls %s", entry.name, ErrorText(PlainHresultFromLastError()).c_str());
}
