// Removes every profile's client data, then the "_installed_??" entries of
// the folder named by the bin parameter.
#include <cwctype>

#include "DirectoryRemover.h"
#include "Errors.h"
#include "Frame.h"
#include "Log.h"
#include "PathJoin.h"
#include "PinnedFolders.h"
#include "ProfileList.h"
#include "RemoveRakAll.h"
#include "platform/Export.h"
#include "platform/FileSystem.h"
#include "platform/Port.h"

using platform::Use;

namespace {

const wchar_t kDataFolder[] = L"TESSMAR\\velk\\velk-access";
// The climb after a removal goes no higher than the maker's folder
// (TESSMAR\velk, then TESSMAR): never the local application data folder.
constexpr size_t kClimbFolders = 2;
// Where the data lies in a profile whose local folder is elsewhere.
const std::wstring kDefaultRelativeDataPath = std::wstring(L"\\AppData\\Local\\") + kDataFolder;

bool SameChars(wchar_t a, wchar_t b) {
  return std::towupper(static_cast<wint_t>(a)) == std::towupper(static_cast<wint_t>(b));
}

}  // namespace

_pde::_pde() {
  platform::KnownFolders& folders = Use<platform::KnownFolders>();
  wchar_t profile[MAX_PATH] = {};
  HRESULT hr = folders.GetFolderPath(CSIDL_PROFILE, profile);
  if (FAILED(hr)) ThrowHresult(hr);
  wchar_t local[MAX_PATH] = {};
  hr = folders.GetFolderPath(CSIDL_LOCAL_APPDATA, local);
  if (FAILED(hr)) ThrowHresult(hr);
  m_relativeDataPath = ComputeRelativeDataPath(profile, local);
}

std::wstring _pde::ComputeRelativeDataPath(const std::wstring& profile, const std::wstring& local) {
  std::wstring data = local;
  AppendToPath(data, kDataFolder);
  size_t n = profile.size();
  while (n > 0 && profile[n - 1] == L'\\') --n;
  // The cut is only meaningful when the folder lies inside the profile:
  // anything else would make up a path that other profiles do not have.
  bool inside = n > 0 && data.size() > n && data[n] == L'\\';
  for (size_t i = 0; inside && i < n; ++i) inside = SameChars(profile[i], data[i]);
  if (inside) return data.substr(n);
  Log(Warning, "local application data %ls is not inside the profile %ls; using %ls", local.c_str(), profile.c_str(),
      kDefaultRelativeDataPath.c_str());
  return kDefaultRelativeDataPath;
}

void _pde::OnProfileDirectory(std::wstring home) {
  // A home that could not be expanded is empty: the data path alone would
  // name a folder at the root of the current drive, not one of a profile.
  if (home.empty()) return;
  platform::FileSystem& files = Use<platform::FileSystem>();
  // Everything below the home folder is the user's to rearrange: each
  // folder is opened inside the one above, never through a link.
  CPinnedFolders chain;
  CPinnedFolders::Outcome outcome = chain.Pin(home, m_relativeDataPath);
  if (outcome == CPinnedFolders::Outcome::Link) {
    Log(Warning, "skipped link %ls", chain.Path().c_str());
    return;
  }
  if (outcome != CPinnedFolders::Outcome::Pinned || files.IsSystemFolder(nullptr, chain.LastAttributes())) return;
  CDirectoryRemover remover;
  remover.RemoveIn(chain, L"*.*", kClimbFolders);
  if (chain.Pin(home, m_relativeDataPath + L" LE") == CPinnedFolders::Outcome::Link) {
    Log(Warning, "skipped link %ls", chain.Path().c_str());
    return;
  }
  remover.RemoveIn(chain, L"*.*", kClimbFolders);
}

HRESULT CTovrinModule::RemoveRakAll(HWND window, CActionParameters& params) {
  CLogScope scope(g_logger, Info, "CTovrinModule::RemoveRakAll");
  try {
    _pde handler;
    handler.Enumerate();
    const std::wstring& bin = params.Get("bin");
    if (!bin.empty()) {
      CDirectoryRemover remover;
      remover.Remove(bin, L"_installed_??");
    }
  } catch (const HresultException& e) {
    LogError(e.hr);
  }
  return S_OK;
}

VELK_EXPORT UINT WINAPI RemoveRakAll(MSIHANDLE install) {
  return RunInstallerForm(install, "RemoveRakAll", &CTovrinModule::RemoveRakAll);
}

VELK_EXPORT HRESULT WINAPI RunRemoveRakAllW(HWND window, HINSTANCE instance, LPWSTR commandLine, int show) {
  return RunCommandLineForm(window, commandLine, "RunRemoveRakAllW", &CTovrinModule::RemoveRakAll);
}
