#include "MigratorApp.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "AppException.h"
#include "CompletionStateFile.h"
#include "LegacyData.h"
#include "MigrationStrings.h"
#include "Paths.h"
#include "ReqDatConverter.h"
#include "platform/CodePages.h"
#include "platform/LastError.h"
#include "platform/NamedMutex.h"
#include "platform/Port.h"
#include "platform/StringTable.h"
#include "platform/Token.h"
#include "platform/UserDialog.h"
#include "velkras2/RasError.h"
#include "velkras2/RasLog.h"

namespace {

const char kSourceFile[] = "MigratorApp.cpp";
constexpr unsigned kLineNoLocalFolder = 45;
constexpr unsigned kLineDataDirectoryTooLong = 48;
constexpr wchar_t kLogName[] = L"\\velk-access-migration.log";
constexpr wchar_t kKeyFileName[] = L"\\req.dat";

void Info(const char* text) { RasLog_Write(RasLog_Get(), "[info]", text); }

// Held by the one run of a user that may work. The name lives in the
// session's own namespace and carries the user's SID: another user of the
// same session (runas) has a run of their own.
constexpr wchar_t kRunMutexStem[] = L"Local\\TESSMAR.Velk.Migration.";

class RunLock {
 public:
  RunLock() {
    platform::NamedMutex& mutexes = platform::Use<platform::NamedMutex>();
    std::wstring sid;
    if (!platform::Use<platform::Token>().CurrentUserSid(&sid)) {
      Unlocked("GetTokenInformation");
      return;
    }
    handle_ = platform::MutexHandle(mutexes.Create((kRunMutexStem + sid).c_str(), TRUE));
    if (!handle_) {
      Unlocked("CreateMutexW");
      return;
    }
    busy_ = platform::GetLastErrorCode() == ERROR_ALREADY_EXISTS;
  }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  // Another run of the user holds the lock.
  bool Busy() const { return busy_; }
  // Once the log is open: one line when the run goes on without the lock.
  void LogWhenUnlocked() const {
    if (!failedCall_) return;
    char line[96];
    std::snprintf(line, sizeof line, "%s() = %lu: the run goes on without its lock", failedCall_,
                  static_cast<unsigned long>(error_));
    RasLog_Write(RasLog_Get(), "[error]", line);
  }

 private:
  void Unlocked(const char* call) {
    failedCall_ = call;
    error_ = platform::GetLastErrorCode();
  }
  platform::MutexHandle handle_;
  bool busy_ = false;
  const char* failedCall_ = nullptr;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace

CMigratorApp::CMigratorApp() : CWinApp(nullptr), m_dataDirectory{} {}

CMigratorApp::~CMigratorApp() = default;

BOOL CMigratorApp::InitInstance() {
  CWinApp::InitInstance();
  // A second run of the user while one works ends at once and touches
  // nothing: two runs would convert and replace the key file over each
  // other. A run that cannot make the lock works all the same (it is
  // started once per user and may not come again) and says so in the log.
  RunLock lock;
  if (lock.Busy()) return FALSE;
  try {
    if (!GetLocalAppDataFolder(m_dataDirectory))
      throw new AppException("CMigratorApp::InitInstance", kSourceFile, kLineNoLocalFolder,
                             L"SHGetSpecialFolderPath failed");
    if (!AppendBounded(m_dataDirectory, MAX_PATH, kDataDirectorySuffix)) {
      // Windows could not hold such a data directory; nothing is touched.
      m_dataDirectory[0] = L'\0';
      platform::SetLastErrorCode(ERROR_FILENAME_EXCED_RANGE);
      throw new AppException("CMigratorApp::InitInstance", kSourceFile, kLineDataDirectoryTooLong,
                             L"data directory path too long");
    }

    // A path that does not convert at all cannot be opened either (and must
    // not become a relative one).
    std::string logPath;
    bool converted = platform::ToMultiByte(CP_ACP, m_dataDirectory, &logPath) && !logPath.empty();
    logPath += platform::WideToAnsi(kLogName);
    RasLog* log = RasLog_Get();
    if (!converted || !RasLog_Open(log, logPath.c_str())) throw new RasException(RasGetLastError());
    lock.LogWhenUnlocked();

    int state = ReadCompletionState();
    char line[64];
    std::snprintf(line, sizeof line, "InitialStatus : %d", state);
    Info(line);

    if (state == 0 || state == 1) ConvertKeyFile(std::wstring(m_dataDirectory) + kKeyFileName);
    CleanupLegacyData();
  } catch (CException* e) {
    LogException(e);
    ShowErrorBox();
    e->Delete();
  }
  return FALSE;
}

int CMigratorApp::ExitInstance() {
  RasLog_Close(RasLog_Get());
  return CWinApp::ExitInstance();
}

long CMigratorApp::ProcessWndProcException(CException* e, const AppMessage*) {
  LogException(e);
  ShowErrorBox();
  e->Delete();
  std::exit(0);
}

int CMigratorApp::ReadCompletionState() { return ReadCompletionStateAt(m_dataDirectory); }

void CMigratorApp::WriteCompletionState(int value) { WriteCompletionStateAt(m_dataDirectory, value); }

void CMigratorApp::CleanupLegacyData() {
  StartLegacyFolderRemoval(m_dataDirectory);
  DeleteLegacyRegistryKeys();
  if (ReadCompletionState() == 1) {
    WriteCompletionState(0);
  } else if (ReadCompletionState() == 2) {
    WriteCompletionState(3);
  }
}

void CMigratorApp::ShowErrorBox() {
  std::wstring text;
  platform::Use<platform::StringTable>().LoadText(kMigrationStrings, IDS_MIGRATION_FAILED, &text);
  platform::Use<platform::UserDialog>().ShowMessage(nullptr, text.c_str(), m_caption.c_str(), MB_ICONERROR);
}

void LogException(CException* e) {
  wchar_t text[1024] = {};
  e->GetErrorMessage(text, 1023);
  RasLog_Write(RasLog_Get(), "[error]", platform::WideToAnsi(text).c_str());
}
