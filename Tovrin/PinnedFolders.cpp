#include "PinnedFolders.h"

#include "platform/LastError.h"
#include "platform/Port.h"

using platform::Use;

CPinnedFolders::Outcome CPinnedFolders::Pin(const std::wstring& anchor, const std::wstring& below) {
  platform::FileSystem& files = Use<platform::FileSystem>();
  m_folders.clear();
  m_names.clear();
  m_ends.clear();
  m_path = anchor;
  while (!m_path.empty() && m_path.back() == L'\\') m_path.pop_back();
  m_ends.push_back(m_path.size());
  for (size_t start = 0; start < below.size();) {
    size_t end = below.find(L'\\', start);
    if (end == std::wstring::npos) end = below.size();
    if (end > start) {
      m_names.push_back(below.substr(start, end - start));
      m_path += L'\\' + m_names.back();
      m_ends.push_back(m_path.size());
    }
    start = end + 1;
  }

  for (size_t level = 0; level <= m_names.size(); ++level) {
    m_stop = level;
    DWORD attributes = 0;
    std::wstring anchorPath = PathOf(0);
    platform::FolderHandle folder(files.OpenFolder(
        level == 0 ? nullptr : Last(), level == 0 ? anchorPath.c_str() : NameOf(level).c_str(), &attributes));
    if (!folder.Valid()) {
      m_error = platform::GetLastErrorCode();
      bool missing = m_error == ERROR_FILE_NOT_FOUND || m_error == ERROR_PATH_NOT_FOUND || m_error == ERROR_DIRECTORY;
      return missing ? Outcome::Missing : Outcome::Failed;
    }
    // The anchor may be a link an administrator made; nothing below it may.
    if (level > 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      m_error = ERROR_ACCESS_DENIED;
      return Outcome::Link;
    }
    m_folders.push_back(std::move(folder));
    m_lastAttributes = attributes;
  }
  m_error = ERROR_SUCCESS;
  return Outcome::Pinned;
}

BOOL CPinnedFolders::RemoveLast() {
  size_t level = Depth();
  if (level == 0) {  // the anchor is never removed
    platform::SetLastErrorCode(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  m_folders.pop_back();  // a folder held open cannot go
  return Use<platform::FileSystem>().RemoveFolderIn(Last(), NameOf(level).c_str());
}

bool EntryExistsIn(HANDLE folder, const wchar_t* name, DWORD* attributes) {
  platform::FindData data;
  platform::FindHandle find(Use<platform::FileSystem>().FindFirstIn(folder, name, &data));
  if (find.Valid()) *attributes = data.attributes;
  return find.Valid();
}
