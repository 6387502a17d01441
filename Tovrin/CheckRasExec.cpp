// Looks for a running client, asks the user once to exit it (at basic UI,
// none or in session 0: not at all), and flags a client still running in RASXX_RUNNING.
#include <cwchar>
#include <string>
#include <vector>

#include "Errors.h"
#include "Frame.h"
#include "InstallerProperty.h"
#include "Log.h"
#include "PathJoin.h"
#include "Privilege.h"
#include "RunningClient.h"
#include "Strings.h"
#include "platform/Clock.h"
#include "platform/Export.h"
#include "platform/Hresult.h"
#include "platform/Installer.h"
#include "platform/LastError.h"
#include "platform/Port.h"
#include "platform/Processes.h"
#include "platform/StringTable.h"
#include "platform/TextCompare.h"
#include "platform/Token.h"
#include "platform/UserDialog.h"

using platform::Use;

namespace {

enum Row { kV1, kEx, kLe, kCurrent, kRows };

struct Candidate {
  const wchar_t* property;
  const wchar_t* relative;
  const char* logLine;
  std::wstring path;  // empty: never matches
  bool running = false;
};

// The order in which a process's path is compared with the candidates.
constexpr Row kCompareOrder[] = {kLe, kV1, kEx, kCurrent};

// Compares one process with the candidates; true on a match, which ends
// the walk. A process that cannot be opened or read is passed over.
bool MatchProcess(platform::Processes& processes, DWORD id, Candidate* rows, const char* currentRunningLine) {
  platform::ProcessHandle process(processes.Open(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
  if (!process) return false;
  wchar_t path[MAX_PATH] = {};
  DWORD length = processes.MainModulePath(process.Get(), path, MAX_PATH);
  if (length == 0) return false;
  if (length > MAX_PATH - 1) length = MAX_PATH - 1;
  path[length] = L'\0';
  std::wstring_view module(path, length);
  for (Row row : kCompareOrder) {
    Candidate& c = rows[row];
    if (c.path.empty() || !platform::EqualsIgnoreCase(module, c.path)) continue;
    c.running = true;
    Log(Info, "module = %ls", path);
    if (row == kCurrent) Log(Info, "%s", currentRunningLine);
    return true;
  }
  return false;
}

// Walks the session-wide list, or the snapshot when that list is not
// available; S_OK, or the failure that left no list at all.
HRESULT WalkProcesses(Candidate* rows) {
  platform::Processes& processes = Use<platform::Processes>();
  std::vector<DWORD> ids;
  if (processes.ListSessionProcesses(&ids)) {
    for (DWORD id : ids)
      if (MatchProcess(processes, id, rows, "bRasTmRunning = TRUE")) break;
    return S_OK;
  }
  platform::SnapshotHandle snapshot(processes.CreateSnapshot());
  if (!snapshot) return LogFailedCall(Error, "CreateToolhelp32Snapshot");
  DWORD id = 0;
  if (!processes.FirstInSnapshot(snapshot.Get(), &id)) return LogFailedCall(Error, "Process32First");
  do {
    if (MatchProcess(processes, id, rows, "bRasV2Running = TRUE")) break;
  } while (processes.NextInSnapshot(snapshot.Get(), &id));
  return S_OK;
}

// A drive path ("C:\...") or a UNC path ("\\server\..."): what the
// installer makes of a folder property that a directory table resolved.
bool IsAbsolutePath(const std::wstring& path) {
  if (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/'))
    return (path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z');
  return path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\';
}

// Without an install folder the client being installed cannot be found:
// the package did not set TARGETDIR before the check.
void WarnOfTargetDir(const std::wstring& value) {
  if (value.empty())
    Log(Warning, "TARGETDIR is empty: the client being installed is not looked for");
  else if (!IsAbsolutePath(value))
    Log(Warning, "TARGETDIR = %ls is not an absolute path: the client being installed is not found there",
        value.c_str());
}

HRESULT FindRunningClient(MSIHANDLE install) {
  Candidate rows[kRows] = {
      {L"RASV1_INSTALLED", L"bin\\velk-access.exe", "rasV1InstalledPath = %ls", {}, false},
      {L"RASEX_INSTALLED", L"bin\\velk-access-ex.exe", "rasExInstalledPath = %ls", {}, false},
      {L"RASLE_INSTALLED", L"bin\\velk-access-LE.exe", "rasLeInstalledPath = %ls", {}, false},
      {L"TARGETDIR", L"bin\\velk-access.exe", "rasTmInstalledPath = %ls", {}, false},
  };
  HRESULT targetDirStatus = S_OK;
  bool anyCandidate = false;
  for (Candidate& row : rows) {
    std::wstring value;
    HRESULT hr = GetInstallerProperty(install, row.property, value);
    if (&row == &rows[kCurrent]) targetDirStatus = hr;
    if (FAILED(hr)) continue;
    if (&row == &rows[kCurrent]) WarnOfTargetDir(value);
    row.path = value;
    // A folder too long for a path would otherwise overrun the candidate.
    if (!AppendToPath(row.path, row.relative)) {
      Log(Warning, "PathAppendW(%ls) = %s", row.property,
          ErrorText(platform::HresultFromWin32(ERROR_FILENAME_EXCED_RANGE)).c_str());
      continue;
    }
    Log(Info, row.logLine, row.path.c_str());
    anyCandidate = true;
  }
  if (anyCandidate) {
    HRESULT hr = WalkProcesses(rows);
    if (FAILED(hr)) return hr;
    for (const Candidate& row : rows)
      if (row.running) return E_ABORT;
  }
  return FAILED(targetDirStatus) ? ERROR_INSTALL_FAILURE : S_OK;
}

// A failure of the check itself (exhausted memory): logged and reported to
// the installer with its own code.
HRESULT InternalFailure(MSIHANDLE install, HRESULT hr) noexcept {
  try {
    LogError(hr);
  } catch (...) {
  }
  ReportInstallerError(install, INSTALLMESSAGE_ERROR, hr);
  return ERROR_INSTALL_FAILURE;
}

void AskToExitClient() {
  std::wstring text;
  if (!Use<platform::StringTable>().LoadText(kTovrinStrings, IDS_CLIENT_RUNNING, &text))
    LogFailedCall(Warning, "LoadString");
  Use<platform::UserDialog>().ShowMessage(nullptr, text.c_str(), L"velk-access", MB_OK);
}

// What a UILevel level is called in the reason for showing no box.
const char* UiLevelName(unsigned level) {
  switch (level) {
    case INSTALLUILEVEL_NONE: return "no user interface";
    case INSTALLUILEVEL_BASIC: return "basic user interface";
    default: return "neither full nor reduced user interface";
  }
}

// Why no box can be shown to this installation, or empty when one can. A
// custom action shows a dialog only at full or reduced UI: not at basic UI
// (msiexec /qb, /passive, a progress bar at most) nor at none (/qn). A
// process in session 0 (SYSTEM under a deployment tool, a service) may sit
// in a visible window station that no user ever sees; a station without
// display surfaces shows nothing either.
std::string NoMessageBoxReason(MSIHANDLE install) {
  std::wstring level;
  if (SUCCEEDED(GetInstallerProperty(install, L"UILevel", level)) && !level.empty() &&
      level.find_first_not_of(L"0123456789") == std::wstring::npos) {
    // Flags such as INSTALLUILEVEL_ENDDIALOG (0x80) sit above the level.
    const auto masked = static_cast<unsigned>(std::wcstoul(level.c_str(), nullptr, 10) & 0x0F);
    if (masked != INSTALLUILEVEL_FULL && masked != INSTALLUILEVEL_REDUCED)
      return "UILevel is " + std::to_string(masked) + " (" + UiLevelName(masked) + ")";
  }
  DWORD session = 0;
  // Where the session cannot be told, the window station decides.
  if (Use<platform::Processes>().ProcessIdToSessionId(Use<platform::Clock>().ProcessId(), &session) && session == 0)
    return "the process runs in session 0, which no user sees";
  if (!Use<platform::UserDialog>().HasVisibleWindowStation()) return "no visible window station";
  return {};
}

UINT FlagRunningClient(MSIHANDLE install) {
  UINT rc = Use<platform::Installer>().SetProperty(install, L"RASXX_RUNNING", L"1");
  if (rc != ERROR_SUCCESS) {
    LogFailedCall(Error, "MsiSetPropertyW", platform::HresultFromWin32(rc));
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
}

UINT CheckRunningClient(MSIHANDLE install) {
  {
    platform::TokenHandle token;
    if (!Use<platform::Token>().OpenProcessToken(TOKEN_ADJUST_PRIVILEGES, token.Put())) {
      Log(Error, "OpenProcessToken Error");
      return ERROR_SUCCESS;
    }
    // Without it fewer processes open; the check goes on all the same.
    EnablePrivilege(token.Get(), L"SeDebugPrivilege");
  }
  HRESULT r = IsRasExec(install);
  if (r != E_ABORT) return FAILED(r) ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;

  // Unattended, a box would hang the installation until it is killed.
  const std::string reason = NoMessageBoxReason(install);
  if (!reason.empty()) {
    Log(Warning, "No message box: %s; the running client is flagged without asking", reason.c_str());
    return FlagRunningClient(install);
  }
  AskToExitClient();
  r = IsRasExec(install);
  if (r != E_ABORT) return FAILED(r) ? ERROR_INSTALL_FAILURE : ERROR_SUCCESS;
  return FlagRunningClient(install);
}

}  // namespace

HRESULT IsRasExec(MSIHANDLE install) {
  BeginInstallerCall(install);
  CLogScope scope(g_logger, Info, "IsRasExec");
  return CatchToHresult([&] { return FindRunningClient(install); }, E_UNEXPECTED,
                        [&](HRESULT hr) { return InternalFailure(install, hr); });
}

VELK_EXPORT UINT WINAPI CheckRasExec(MSIHANDLE install) {
  BeginInstallerCall(install);
  CLogScope scope(g_logger, Info, "CheckRasExec");
  return NoThrow<UINT>(ERROR_INSTALL_FAILURE, [&] { return CheckRunningClient(install); });
}
