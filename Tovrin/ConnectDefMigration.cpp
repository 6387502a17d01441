// Moves every profile's client folder from the maker's former folder to
// its current one.
#include "ConnectDefMigration.h"

#include <cwchar>

#include "Errors.h"
#include "Frame.h"
#include "Log.h"
#include "PinnedFolders.h"
#include "ProfileList.h"
#include "platform/Clock.h"
#include "platform/Export.h"
#include "platform/FileSystem.h"
#include "platform/Port.h"

using platform::Use;

namespace {

const wchar_t kLocalSuffix[] = L"\\AppData\\Local";

void LogLink(const std::wstring& path) { Log(Warning, "skipped link %ls", path.c_str()); }

}  // namespace

void MigrateConnectDefFolder(const std::wstring& localAppData, size_t anchorChars) {
  platform::FileSystem& files = Use<platform::FileSystem>();
  const std::wstring formerMaker = localAppData + L"\\Pellacor";
  const std::wstring formerProduct = formerMaker + L"\\velk";
  const std::wstring currentMaker = localAppData + L"\\TESSMAR";
  const std::wstring currentProduct = currentMaker + L"\\velk";

  // The profile folder is administrators' ground; everything below it is
  // the user's, so each folder is opened inside the one above and held.
  CPinnedFolders local;
  CPinnedFolders::Outcome outcome = local.Pin(localAppData.substr(0, anchorChars), localAppData.substr(anchorChars));
  if (outcome == CPinnedFolders::Outcome::Link) return LogLink(local.Path());
  if (outcome != CPinnedFolders::Outcome::Pinned) return;
  DWORD attributes = 0;
  platform::FolderHandle former(files.OpenFolder(local.Last(), L"Pellacor", &attributes));
  if (!former.Valid()) return;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return LogLink(formerMaker);
  if (!EntryExistsIn(former.Get(), L"velk", &attributes)) return;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return LogLink(formerProduct);
  Log(Info, "Found %ls", formerProduct.c_str());
  if (!EntryExistsIn(local.Last(), L"TESSMAR", &attributes)) {
    Log(Info, "Not Found %ls", currentMaker.c_str());
    if (files.MakeFolderIn(local.Last(), L"TESSMAR")) Log(Info, "Success to create %ls", currentMaker.c_str());
  }
  platform::FolderHandle current(files.OpenFolder(local.Last(), L"TESSMAR", &attributes));
  if (current.Valid() && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return LogLink(currentMaker);
  // One rename of the whole folder: an existing target, a link included,
  // is never merged into or followed.
  if (current.Valid() && files.MoveEntryIn(former.Get(), L"velk", current.Get(), L"velk"))
    Log(Info, "Success to migrate %ls", currentProduct.c_str());
  // Goes only when nothing else is left in it; a folder held open cannot go.
  former.Reset();
  if (files.RemoveFolderIn(local.Last(), L"Pellacor")) Log(Info, "Success to remove %ls", formerMaker.c_str());
}

VELK_EXPORT UINT WINAPI ConnectDefMigration(MSIHANDLE install) {
  g_logger.m_hInstall = install;
  Log(Banner, "####### ConnectDefMigration log PID=%08x #######",
      static_cast<unsigned>(Use<platform::Clock>().ProcessId()));
  GuardScriptRedirections(install);
  return NoThrow<UINT>(ERROR_INSTALL_FAILURE, [] {
    bool listed = ForEachProfileSid([](HKEY list, const wchar_t* sid) {
      std::wstring local = LookupProfilePath(list, sid, kLocalSuffix);
      if (!local.empty()) MigrateConnectDefFolder(local, local.size() - std::wcslen(kLocalSuffix));
    });
    return listed ? static_cast<UINT>(ERROR_SUCCESS) : static_cast<UINT>(ERROR_INSTALL_FAILURE);
  });
}
