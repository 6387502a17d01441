// The key-file step of the run: convert, put the converted file in place,
// advance the completion state.
#include <cstdio>
#include <string>

#include "MigratorApp.h"
#include "ReqDatConverter.h"
#include "platform/FileSystem.h"
#include "platform/Port.h"
#include "velkras2/RasError.h"
#include "velkras2/RasLog.h"

void CMigratorApp::ConvertKeyFile(const std::wstring& keyFile) {
  RasLog* log = RasLog_Get();
  RasLog_Write(log, "[info]", "Start converting");
  if (ReqDatConverter::Convert(keyFile)) {
    platform::FileSystem& fs = platform::Use<platform::FileSystem>();
    std::wstring converted = keyFile + L".new";
    if (!fs.CopyEntry(converted.c_str(), keyFile.c_str(), FALSE)) RasLog_Write(log, "[error]", "failed CopyFile");
    if (!fs.RemoveFile(converted.c_str())) RasLog_Write(log, "[error]", "failed DeleteFile");
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
