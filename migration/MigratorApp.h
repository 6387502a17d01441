// The migration program's application object: one run re-binds the user's
// PC environment key file, removes the previous generation's data and ends.
#pragma once

#include <string>

#include "framework/WinApp.h"
#include "platform/WinTypes.h"

class CMigratorApp : public CWinApp {
 public:
  CMigratorApp();
  ~CMigratorApp() override;

  // The whole run; returns FALSE on every path, so the process ends.
  BOOL InitInstance() override;
  // Closes the log; the process exit code, always 0.
  int ExitInstance() override;
  // Logs the exception, shows the error box and ends the process with 0.
  long ProcessWndProcException(CException* e, const AppMessage* message) override;

  // The completion state of the data directory (see CompletionStateFile.h).
  int ReadCompletionState();
  void WriteCompletionState(int value);
  // Starts the removal of the legacy folders, deletes the legacy registry
  // keys and advances the completion state.
  void CleanupLegacyData();
  // Converts the key file, puts the result in place and advances the
  // completion state; logs its own outcome.
  void ConvertKeyFile(const std::wstring& keyFile);

  const wchar_t* DataDirectory() const { return m_dataDirectory; }

 private:
  void ShowErrorBox();

  std::wstring m_caption;  // never assigned: the error box has an empty title, as the client's always had
  wchar_t m_dataDirectory[MAX_PATH];
};

// Writes the exception's text to the log as an "[error]" line.
void LogException(CException* e);
