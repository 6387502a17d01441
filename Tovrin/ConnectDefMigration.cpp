// Moves every profile's client folder from the maker's former folder to
// its current one.
#include "ConnectDefMigration.h"

#include "Errors.h"
#include "Frame.h"
#include "Log.h"
#include "ProfileList.h"
#include "platform/Clock.h"
#include "platform/Export.h"
#include "platform/FileSystem.h"
#include "platform/Port.h"

using platform::Use;

bool PathEntryExists(const std::wstring& path) {
  platform::FindData data;
  platform::FindHandle find(Use<platform::FileSystem>().FindFirst(path.c_str(), &data));
  return find.Valid();
}

void MigrateConnectDefFolder(const std::wstring& localAppData) {
  platform::FileSystem& files = Use<platform::FileSystem>();
  const std::wstring formerMaker = localAppData + L"\\Pellacor";
  const std::wstring formerProduct = formerMaker + L"\\velk";
  const std::wstring currentMaker = localAppData + L"\\TESSMAR";
  const std::wstring currentProduct = currentMaker + L"\\velk";

  if (!PathEntryExists(formerProduct)) return;
  Log(Info, "Found %ls", formerProduct.c_str());
  if (!PathEntryExists(currentMaker)) {
    Log(Info, "Not Found %ls", currentMaker.c_str());
    if (files.MakeFolder(currentMaker.c_str())) Log(Info, "Success to create %ls", currentMaker.c_str());
  }
  // One rename of the whole folder: an existing target is never merged into.
  if (files.MoveEntry(formerProduct.c_str(), currentProduct.c_str()))
    Log(Info, "Success to migrate %ls", currentProduct.c_str());
  // Goes only when nothing else is left in it.
  if (files.RemoveFolder(formerMaker.c_str())) Log(Info, "Success to remove %ls", formerMaker.c_str());
}

VELK_EXPORT UINT WINAPI ConnectDefMigration(MSIHANDLE install) {
  g_logger.m_hInstall = install;
  Log(Banner, "####### ConnectDefMigration log PID=%08x #######",
      static_cast<unsigned>(Use<platform::Clock>().ProcessId()));
  return NoThrow<UINT>(ERROR_INSTALL_FAILURE, [] {
    bool listed = ForEachProfileSid([](HKEY list, const wchar_t* sid) {
      std::wstring local = LookupProfilePath(list, sid, L"\\AppData\\Local");
      if (!local.empty()) MigrateConnectDefFolder(local);
    });
    return listed ? static_cast<UINT>(ERROR_SUCCESS) : static_cast<UINT>(ERROR_INSTALL_FAILURE);
  });
}
