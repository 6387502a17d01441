#include "CompletionStateFile.h"

#include <cstring>
#include <memory>
#include <string>

#include "Paths.h"
#include "framework/File.h"

namespace {

std::wstring StatePath(const wchar_t* dataDirectory) {
  return std::wstring(dataDirectory) + L"\\" + kCompletionStateName;
}

}  // namespace

int ReadCompletionStateAt(const wchar_t* dataDirectory) {
  std::wstring path = StatePath(dataDirectory);
  {
    CFileFind find;
    if (!find.FindFile(path.c_str())) return 1;
  }
  std::unique_ptr<CFileException> error(new CFileException);
  CFile file;
  if (!file.Open(path.c_str(), CFile::modeRead, error.get())) throw error.release();
  char content[16] = {};
  UINT n = file.Read(content, sizeof content);
  file.Close();
  if (n == 0) return 0;
  if (std::strncmp(content, "2", sizeof content) == 0) return 2;
  if (std::strncmp(content, "3", sizeof content) == 0) return 3;
  return 1;
}

void WriteCompletionStateAt(const wchar_t* dataDirectory, int value) {
  std::unique_ptr<CFileException> error(new CFileException);
  std::wstring path = StatePath(dataDirectory);
  bool exists;
  {
    CFileFind find;
    exists = find.FindFile(path.c_str()) != FALSE;
  }
  CFile file;
  // The state is written only into a file of its own: a link at the name
  // could lead the byte into req.dat or anywhere else.
  UINT flags = CFile::modeOwnFile | (exists ? CFile::modeWrite : CFile::modeCreate | CFile::modeWrite);
  if (!file.Open(path.c_str(), flags, error.get())) throw error.release();
  if (value == 2) file.Write("2", 1);
  if (value == 3) file.Write("3", 1);
  file.Close();
}
