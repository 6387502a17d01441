#include "ReqDatConverter.h"

#include <cstdint>
#include <cstdio>

#include "KeyFileCipher.h"
#include "KeyFileReader.h"
#include "platform/ByteStreams.h"
#include "platform/CodePages.h"
#include "platform/LastError.h"
#include "platform/Port.h"
#include "velkras2/Buffer.h"
#include "velkras2/RasError.h"
#include "velkras2/Secret.h"
#include "velkras2/SystemInfo.h"

namespace {

const char kFunction[] = "ReqDatConverter::Convert";
const char kFile[] = "ReqDatConverter.cpp";
constexpr unsigned kLineOpenInput = 52;
constexpr unsigned kLineNotRegular = 54;
constexpr unsigned kLineReadInput = 61;
constexpr unsigned kLineTooLarge = 62;
constexpr unsigned kLineCut = 66;
constexpr unsigned kLineNoValue = 81;
constexpr unsigned kLineDamaged = 84;
constexpr unsigned kLineOpenOutput = 123;
constexpr unsigned kLineWriteOutput = 128;
constexpr uint64_t kCipherBlockBytes = 16;

// Reads the file at path into parts.file and opens it with key. A failure
// to read is kFailed, recorded only when record is set.
KeyFileOpened OpenKeyFile(const std::string& path, const unsigned char* key, bool record, KeyFileParts& parts) {
  parts.file = Buffer_New();
  if (!parts.file) return KeyFileOpened::kFailed;
  unsigned line = 0;
  const char* message = nullptr;
  switch (ReadKeyFile(path.c_str(), parts.file)) {
    case KeyFileRead::kOk: return OpenKeyFileBytes(key, parts);
    case KeyFileRead::kOpenFailed: line = kLineOpenInput, message = "fopen failed :%s"; break;
    case KeyFileRead::kNotRegular: line = kLineNotRegular, message = "not a regular file :%s"; break;
    case KeyFileRead::kReadFailed: line = kLineReadInput, message = "fread failed :%s"; break;
    case KeyFileRead::kTooLarge: line = kLineTooLarge, message = "file too large :%s"; break;
    case KeyFileRead::kNoMemory: return KeyFileOpened::kFailed;
  }
  if (record) RasSetLastError(kFunction, kFile, line, 255, platform::GetLastErrorCode(), message, path.c_str());
  return KeyFileOpened::kFailed;
}

}  // namespace

bool ReqDatConverter::Convert(const std::wstring& path) {
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  std::string input = platform::WideToAnsi(path);
  std::string output = input + ".new";

  SecretBytes<kMachineKeyBytes> oldKey;
  if (!SystemInfo_GetOldUniqueId(oldKey.bytes)) return false;

  KeyFileParts parts;
  switch (OpenKeyFile(input, oldKey.bytes, true, parts)) {
    case KeyFileOpened::kOk: break;
    case KeyFileOpened::kFailed: return false;
    case KeyFileOpened::kCut:
      RasSetLastError(kFunction, kFile, kLineCut, 255, ERROR_INVALID_DATA, "truncated file :%s", input.c_str());
      return false;
    case KeyFileOpened::kNoValue:
      RasSetLastError(kFunction, kFile, kLineNoValue, 225, 0, "Key Value is not found");
      return false;
    case KeyFileOpened::kDamaged:
      RasSetLastError(kFunction, kFile, kLineDamaged, 255, ERROR_INVALID_DATA, "damaged file :%s", input.c_str());
      return false;
  }

  SecretBytes<kMachineKeyBytes> newKey;
  if (!SystemInfo_GetUniqueId(newKey.bytes) || !SealKeyValue(newKey.bytes, parts)) return false;

  // A new file, never one that stands there: a link at the name would have
  // the key written into its target, and truncating a hard link to req.dat
  // would empty the key file itself.
  FILE* out = streams.CreateNew(output.c_str());
  if (!out) {
    RasSetLastError(kFunction, kFile, kLineOpenOutput, 255, platform::GetLastErrorCode(), "fopen failed :%s",
                    output.c_str());
    return false;
  }
  // The new file replaces req.dat afterwards, so it must be whole and on the
  // disk first: a short write, or one that only fails when the stream is
  // flushed or closed, does not count as complete.
  bool complete = streams.Write(parts.plaintext->data, parts.plaintext->length, out) == parts.plaintext->length &&
                  streams.Commit(out) == 0;
  DWORD writeError = platform::GetLastErrorCode();
  bool closed = streams.Close(out) == 0;
  if (!complete || !closed) {
    RasSetLastError(kFunction, kFile, kLineWriteOutput, 255, complete ? platform::GetLastErrorCode() : writeError,
                    "fwrite failed :%s", output.c_str());
    return false;
  }
  return true;
}

bool ReqDatConverter::ConvertedFileShouldReplace(const std::wstring& path) {
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  std::string keyFile = platform::WideToAnsi(path);
  std::string converted = keyFile + ".new";
  // Only what an interrupted copy over req.dat leaves: the file present but
  // empty or cut inside a cipher block. A missing key file or a whole one of
  // another machine is the conversion's to report, and it stays as it is.
  platform::StreamFileStatus key, status;
  if (streams.Status(keyFile.c_str(), &key) != 0 || (key.size != 0 && key.size % kCipherBlockBytes == 0)) return false;
  if (streams.Status(converted.c_str(), &status) != 0) return false;
  // Only a file of its own takes the key's place: a link there would make
  // req.dat the link.
  FILE* own = streams.OpenOwn(converted.c_str(), "rb");
  if (!own) return false;
  streams.Close(own);
  SecretBytes<kMachineKeyBytes> newKey;
  if (!SystemInfo_GetUniqueId(newKey.bytes)) return false;
  KeyFileParts parts;
  return OpenKeyFile(converted, newKey.bytes, false, parts) == KeyFileOpened::kOk &&
         KeyFileSignatureMatches(newKey.bytes, parts);
}
