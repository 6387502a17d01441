// The key-file step of the run: convert, put the converted file in place,
// advance the completion state.
#include <cstdio>
#include <string>

#include "MigratorApp.h"
#include "ReqDatConverter.h"
#include "platform/FileSystem.h"
#include "platform/LastError.h"
#include "platform/Port.h"
#include "velkras2/RasError.h"
#include "velkras2/RasLog.h"

namespace {

// The step's own line, then the call that failed and its code.
void LogFailure(RasLog* log, const char* line, const char* call) {
  char detail[64];
  std::snprintf(detail, sizeof detail, "%s() = %lu", call, static_cast<unsigned long>(platform::GetLastErrorCode()));
  RasLog_Write(log, "[error]", line);
  RasLog_Write(log, "[error]", detail);
}

}  // namespace

void CMigratorApp::ConvertKeyFile(const std::wstring& keyFile) {
  RasLog* log = RasLog_Get();
  platform::FileSystem& fs = platform::Use<platform::FileSystem>();
  std::wstring converted = keyFile + L".new";
  RasLog_Write(log, "[info]", "Start converting");
  // A run that ended after writing the converted file may have left a key
  // file that no binding opens; the converted file is then the only copy of
  // the key and goes in its place instead of being converted over.
  bool recovering = ReqDatConverter::ConvertedFileShouldReplace(keyFile);
  if (recovering) RasLog_Write(log, "[info]", "req.dat does not open; the complete req.dat.new takes its place");
  if (recovering || ReqDatConverter::Convert(keyFile)) {
    // One rename: req.dat is the old file or the new one at every instant.
    if (!fs.ReplaceEntry(converted.c_str(), keyFile.c_str())) {
      LogFailure(log, "failed CopyFile", "MoveFileExW");
      // req.dat is untouched. A recovered file is kept: it is the only copy.
      if (!recovering && !fs.RemoveFile(converted.c_str())) LogFailure(log, "failed DeleteFile", "DeleteFileW");
    }
  } else {
    WriteCompletionState(4);
    RasLog_Write(log, "[error]", "failed ReqDatConverter");
    const RasError* error = RasGetLastError();
    char text[2047];
    std::snprintf(text, sizeof text, "0x%02x: %s @%s", static_cast<unsigned>(error->code), error->message,
                  error->location);
    RasLog_Write(log, "[error]", text);
  }
  if (ReadCompletionState() == 1) {
    WriteCompletionState(2);
  } else if (ReadCompletionState() == 0) {
    WriteCompletionState(3);
  }
  RasLog_Write(log, "[info]", "Finish converting");
}
