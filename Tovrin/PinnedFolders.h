// A chain of folders from an anchor down, each opened inside the one above
// without following a link, and held open while the chain lives: a user who
// owns the folders can neither swap one of them for a link nor lead a name
// lookup anywhere else.
#pragma once

#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/WinTypes.h"

// Whether a search for name inside an open folder finds an entry; its
// attributes in *attributes when it does.
bool EntryExistsIn(HANDLE folder, const wchar_t* name, DWORD* attributes);

class CPinnedFolders {
 public:
  enum class Outcome { Pinned, Missing, Link, Failed };

  // Opens anchor (a whole path, administrators' ground: followed as it is)
  // and then each backslash-separated component of below inside the one
  // before. Stops at the first component that is missing or not a folder
  // (Missing), a link of any kind (Link) or that fails otherwise (Failed);
  // the folders opened so far stay held, and Path() names the one that
  // stopped the chain.
  Outcome Pin(const std::wstring& anchor, const std::wstring& below);

  // Folders held below the anchor (0: the anchor only); the anchor is
  // level 0. Components() counts those Pin was asked for.
  size_t Depth() const { return m_folders.empty() ? 0 : m_folders.size() - 1; }
  size_t Components() const { return m_names.size(); }
  bool Complete() const { return !m_folders.empty() && Depth() == Components(); }
  HANDLE Last() const { return m_folders.back().Get(); }
  HANDLE At(size_t level) const { return m_folders[level].Get(); }
  // The path text of a level up to Components() (held or not), and of
  // the component Pin stopped at.
  std::wstring PathOf(size_t level) const { return m_path.substr(0, m_ends[level]); }
  const std::wstring& NameOf(size_t level) const { return m_names[level - 1]; }
  std::wstring Path() const { return PathOf(m_stop); }
  DWORD Error() const { return m_error; }
  // The attributes of the deepest folder held, as it was opened.
  DWORD LastAttributes() const { return m_lastAttributes; }

  // Closes the deepest held folder and removes it inside its parent
  // (RemoveDirectoryW's codes, set as the last error).
  BOOL RemoveLast();

 private:
  std::vector<platform::FolderHandle> m_folders;
  std::vector<std::wstring> m_names;
  std::vector<size_t> m_ends;  // m_path's length at each level
  std::wstring m_path;
  size_t m_stop = 0;
  DWORD m_error = ERROR_SUCCESS;
  DWORD m_lastAttributes = 0;
};
