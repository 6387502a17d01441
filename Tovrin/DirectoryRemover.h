// Removes a folder's entries matching a pattern, the folder when that
// empties it, and then every parent folder that has become empty.
#pragma once

#include <memory>
#include <algorithm>
#include <string>

#include "platform/FileSystem.h"
#include "platform/WinTypes.h"

// A path buffer with room for 1024 characters inside the object; longer
// paths move to the heap. Each level of a walk appends to it and cuts it
// back to its own length.
class CPathBuffer {
 public:
  static constexpr size_t kInlineChars = 1024;

  CPathBuffer() { m_inline[0] = L'\0'; }
  CPathBuffer(const CPathBuffer&) = delete;
  CPathBuffer& operator=(const CPathBuffer&) = delete;

  const wchar_t* c_str() const { return m_data; }
  size_t size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  wchar_t operator[](size_t i) const { return m_data[i]; }
  bool OnHeap() const { return m_data != m_inline; }

  void Assign(const std::wstring& text) {
    m_size = 0;
    Append(text.c_str(), text.size());
  }
  void Append(const wchar_t* text, size_t chars);
  void Append(const std::wstring& text) { Append(text.c_str(), text.size()); }
  void Append(const wchar_t* text);
  // Cuts the text back to chars characters (never lengthens it).
  void Cut(size_t chars) {
    if (chars < m_size) {
      m_size = chars;
      m_data[m_size] = L'\0';
    }
  }

 private:
  wchar_t m_inline[kInlineChars + 1];
  std::unique_ptr<wchar_t[]> m_heap;
  wchar_t* m_data = m_inline;
  size_t m_size = 0;
  size_t m_capacity = kInlineChars;
};

class CPinnedFolders;

class CDirectoryRemover {
 public:
  // Removes the entries of folder matching pattern ("*.*" for all), the
  // folder itself when it is empty then, and the parents that become
  // empty. Failures are logged as Warning lines. For folders on
  // administrators' ground, named by path.
  void Remove(const std::wstring& folder, const std::wstring& pattern);
  // The same for the folder the last component of chain names (held or,
  // when the chain stopped short, missing), for folders a user owns: the
  // tree is walked through held folders, and the climb removes at most
  // climb folders of the chain above it, never one above those.
  void RemoveIn(CPinnedFolders& chain, const std::wstring& pattern, size_t climb);

 private:
  // Empties the open folder that m_path names of the entries matching
  // the pattern; the folder itself stays for the caller to remove.
  void RemoveTree(HANDLE folder);
  void RemoveEntry(HANDLE folder, const platform::FindData& entry);
  void LogFolderFailure(DWORD error);

  CPathBuffer m_path;
  std::wstring m_pattern;
};
