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

namespace {

constexpr DWORD kMaxKeyFile = 1 << 20;

// The whole file, when it can be read (a key file is small).
bool ReadKeyFile(const std::wstring& path, std::string* bytes) {
  platform::FileSystem& fs = platform::Use<platform::FileSystem>();
  platform::FileHandle file(fs.OpenFile(path.c_str(), GENERIC_READ, OPEN_EXISTING));
  if (!file.Valid()) return false;
  bytes->clear();
  char chunk[1024];
  DWORD n = 0;
  while (fs.ReadBytes(file.Get(), chunk, sizeof chunk, &n) && n > 0) {
    bytes->append(chunk, n);
    if (bytes->size() > kMaxKeyFile) return false;
  }
  return true;
}

bool WriteKeyFile(const std::wstring& path, const std::string& bytes) {
  platform::FileSystem& fs = platform::Use<platform::FileSystem>();
  platform::FileHandle file(fs.OpenFile(path.c_str(), GENERIC_WRITE, CREATE_ALWAYS));
  DWORD n = 0;
  return file.Valid() && fs.WriteBytes(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n) &&
         n == bytes.size();
}

}  // namespace

void CMigratorApp::ConvertKeyFile(const std::wstring& keyFile) {
  RasLog* log = RasLog_Get();
  RasLog_Write(log, "[info]", "Start converting");
  if (ReqDatConverter::Convert(keyFile)) {
    platform::FileSystem& fs = platform::Use<platform::FileSystem>();
    std::wstring converted = keyFile + L".new";
    // A copy that fails half way may leave the key file cut or gone; then
    // its old bytes are put back, and if even that fails the converted
    // file is the only copy of the key and stays.
    std::string before;
    bool saved = ReadKeyFile(keyFile, &before);
    bool keepConverted = false;
    if (!fs.CopyEntry(converted.c_str(), keyFile.c_str(), FALSE)) {
      RasLog_Write(log, "[error]", "failed CopyFile");
      std::string after;
      if (saved && !(ReadKeyFile(keyFile, &after) && after == before) && !WriteKeyFile(keyFile, before)) {
        RasLog_Write(log, "[error]", "failed to restore req.dat; req.dat.new is kept");
        keepConverted = true;
      }
    }
    if (!keepConverted && !fs.RemoveFile(converted.c_str())) RasLog_Write(log, "[error]", "failed DeleteFile");
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
