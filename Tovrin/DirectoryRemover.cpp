#include "DirectoryRemover.h"

#include <cstring>
#include <cwchar>

#include "Errors.h"
#include "Log.h"
#include "platform/Hresult.h"
#include "platform/LastError.h"
#include "platform/Port.h"

using platform::Use;

namespace {

constexpr DWORD kNameSurrogateBit = 0x20000000;

// "X:" or "\\server\share": the climb never tries to remove a volume.
bool IsVolumeRoot(const CPathBuffer& path) {
  if (path.size() == 2 && path[1] == L':') return true;
  if (path.size() < 2 || path[0] != L'\\' || path[1] != L'\\') return false;
  int separators = 0;
  for (size_t i = 2; i < path.size(); ++i)
    if (path[i] == L'\\') ++separators;
  return separators <= 1;
}

}  // namespace

bool IsDirectoryLink(DWORD attributes, DWORD reparseTag) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (reparseTag & kNameSurrogateBit);
}

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

void CDirectoryRemover::Remove(const std::wstring& folder, const std::wstring& pattern) {
  platform::FileSystem& files = Use<platform::FileSystem>();
  size_t end = folder.size();
  while (end > 0 && folder[end - 1] == L'\\') --end;
  if (end == 0) return;  // no folder named: nothing to remove
  m_path.Assign(folder.substr(0, end));
  m_suffix = L"\\" + pattern;

  // A folder that is itself a link is left as it is: walking it would
  // remove what lies outside.
  platform::FindData self;
  platform::FindHandle probe(files.FindFirst(m_path.c_str(), &self));
  if (probe.Valid() && IsDirectoryLink(self.attributes, self.reparseTag)) {
    Log(Warning, "skipped link %ls", m_path.c_str());
  } else {
    probe.Reset();
    RemoveTree();
  }

  for (;;) {
    const wchar_t* last = std::wcsrchr(m_path.c_str(), L'\\');
    if (!last || last == m_path.c_str()) break;
    m_path.Cut(static_cast<size_t>(last - m_path.c_str()));
    if (IsVolumeRoot(m_path)) break;
    if (files.RemoveFolder(m_path.c_str())) continue;
    DWORD error = platform::GetLastErrorCode();
    if (error != ERROR_DIR_NOT_EMPTY)
      Log(Warning, "remove failed - %ls\\ %s", m_path.c_str(), ErrorText(platform::HresultFromWin32(error)).c_str());
    break;
  }
}

void CDirectoryRemover::RemoveTree() {
  platform::FileSystem& files = Use<platform::FileSystem>();
  const size_t n = m_path.size();
  m_path.Append(m_suffix);
  platform::FindData entry;
  platform::FindHandle find(files.FindFirst(m_path.c_str(), &entry));
  if (find.Valid()) {
    do {
      m_path.Cut(n + 1);
      m_path.Append(entry.name);
      RemoveEntry(entry);
    } while (files.FindNext(find.Get(), &entry));
    find.Reset();
  }
  m_path.Cut(n);
  if (!files.RemoveFolder(m_path.c_str()))
    Log(Warning, "remove failed - %ls\\ %s", m_path.c_str(), ErrorText(PlainHresultFromLastError()).c_str());
}

void CDirectoryRemover::RemoveEntry(const platform::FindData& entry) {
  platform::FileSystem& files = Use<platform::FileSystem>();
  if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (std::wcscmp(entry.name, L".") == 0 || std::wcscmp(entry.name, L"..") == 0) return;
    if (!IsDirectoryLink(entry.attributes, entry.reparseTag)) {
      RemoveTree();
      return;
    }
    // The link goes; what it points to stays.
    if (!files.RemoveFolder(m_path.c_str()))
      Log(Warning, "remove failed - %ls %s", entry.name, ErrorText(PlainHresultFromLastError()).c_str());
    return;
  }
  if (entry.attributes & FILE_ATTRIBUTE_SYSTEM) {
    Log(Warning, "skipped system file %ls", entry.name);
    return;
  }
  if (entry.attributes & FILE_ATTRIBUTE_READONLY) files.SetAttributes(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (!files.RemoveFile(m_path.c_str()))
    Log(Warning, "remove failed - %ls %s", entry.name, ErrorText(PlainHresultFromLastError()).c_str());
}
