// The profile handler of the data removal.
#pragma once

#include <string>

#include "ProfileList.h"

// The name is the one the log lines have always carried ("CProfileDirectoryEnumerator<_pde>").
// NOLINTNEXTLINE(bugprone-reserved-identifier): the name the log lines carry.
class _pde : public CProfileDirectoryEnumerator<_pde> {
 public:
  static constexpr const char* kHandlerName = "_pde";

  // Takes the data directory's place relative to a home directory from
  // the current user's folders; raises a failed folder query.
  _pde();
  void OnProfileDirectory(std::wstring home);

  // The data directory inside local, relative to profile. A local folder
  // outside the profile gives the standard place, with a Warning line.
  static std::wstring ComputeRelativeDataPath(const std::wstring& profile, const std::wstring& local);

 private:
  std::wstring m_relativeDataPath;
};
