#include "ReqDatConverter.h"

#include <cstdio>
#include <cstring>

#include "KeyFileReader.h"
#include "platform/ByteStreams.h"
#include "platform/CodePages.h"
#include "platform/LastError.h"
#include "platform/Port.h"
#include "velkras2/Buffer.h"
#include "velkras2/IniReader.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"
#include "velkras2/SystemInfo.h"

namespace {

const char kFunction[] = "ReqDatConverter::Convert";
const char kFile[] = "ReqDatConverter.cpp";
constexpr uint32_t kKeyBytes = 32;

// Everything a conversion allocates, freed on every path.
struct Parts {
  Buffer* file = nullptr;
  Buffer* value = nullptr;
  Buffer* signature = nullptr;
  Buffer* plaintext = nullptr;
  IniReader* reader = nullptr;
  ~Parts() {
    if (file) Buffer_Free(file);
    if (value) Buffer_Free(value);
    if (signature) Buffer_Free(signature);
    if (plaintext) Buffer_Free(plaintext);
    if (reader) IniReader_Free(reader);
  }
};

bool Append(Buffer* buffer, const char* text) {
  return Buffer_Append(buffer, text, static_cast<uint32_t>(std::strlen(text)));
}

// What opening a key file with one key gave.
enum class Opened { kOk, kFailed, kNoValue, kDamaged };

// Reads the file at path into parts.file, decrypts it with key and looks up
// its [Key] Value, which parts.value then holds. kFailed has recorded its
// cause (the reader's results only when record is set).
Opened OpenKeyFile(const std::string& path, const unsigned char* key, bool record, Parts& parts) {
  parts.file = Buffer_New();
  if (!parts.file) return Opened::kFailed;
  switch (ReadKeyFile(path.c_str(), parts.file)) {
    case KeyFileRead::kOk:
      break;
    case KeyFileRead::kOpenFailed:
      if (record) RasSetLastError(kFunction, kFile, 52, 255, platform::GetLastErrorCode(), "fopen failed :%s", path.c_str());
      return Opened::kFailed;
    case KeyFileRead::kNotRegular:
      if (record) RasSetLastError(kFunction, kFile, 54, 255, platform::GetLastErrorCode(), "not a regular file :%s", path.c_str());
      return Opened::kFailed;
    case KeyFileRead::kReadFailed:
      if (record) RasSetLastError(kFunction, kFile, 61, 255, platform::GetLastErrorCode(), "fread failed :%s", path.c_str());
      return Opened::kFailed;
    case KeyFileRead::kTooLarge:
      if (record) RasSetLastError(kFunction, kFile, 62, 255, platform::GetLastErrorCode(), "file too large :%s", path.c_str());
      return Opened::kFailed;
    case KeyFileRead::kNoMemory:
      return Opened::kFailed;
  }
  // The file is whole cipher blocks. A cut one decrypts to a text whose key
  // value may be cut as well, and that must not replace the user's key.
  if (parts.file->length % 16 != 0) {
    if (record) RasSetLastError(kFunction, kFile, 66, 255, ERROR_INVALID_DATA, "truncated file :%s", path.c_str());
    return Opened::kFailed;
  }
  // A wrong key does not fail here; it shows as a missing key value. A
  // rejected padding with a value found means a file cut at a block
  // boundary or damaged in its last block.
  bool padded = false;
  if (!Buffer_DecryptPadded(parts.file, EVP_aes_256_cbc(), key, &padded) || !Buffer_AppendNull(parts.file))
    return Opened::kFailed;
  parts.reader = IniReader_New(reinterpret_cast<const char*>(parts.file->data), parts.file->length);
  if (!parts.reader) return Opened::kFailed;
  char* keyValue = nullptr;
  if (!IniReader_Read(parts.reader, "Key", "Value", &keyValue)) return Opened::kFailed;
  if (!keyValue) return Opened::kNoValue;
  // From here on the value is freed with its buffer.
  parts.value = Buffer_New();
  if (!parts.value) {
    RasUtil_Free(keyValue);
    return Opened::kFailed;
  }
  Buffer_Attach(parts.value, keyValue);
  return padded ? Opened::kOk : Opened::kDamaged;
}

// parts.signature becomes the hexadecimal SHA-256 of key and the value.
bool Sign(const unsigned char* key, Parts& parts) {
  parts.signature = Buffer_New();
  return parts.signature && Buffer_Append(parts.signature, key, kKeyBytes) &&
         Buffer_Append(parts.signature, parts.value->data, parts.value->length) &&
         Buffer_Digest(parts.signature, EVP_sha256()) && Buffer_BinToHex(parts.signature);
}

bool OpensWith(const std::string& path, const unsigned char* key) {
  Parts parts;
  return OpenKeyFile(path, key, false, parts) == Opened::kOk;
}

// A whole file of key's binding carrying the signature of its value.
bool SignedWith(const std::string& path, const unsigned char* key) {
  Parts parts;
  char* sign = nullptr;
  bool whole = OpenKeyFile(path, key, false, parts) == Opened::kOk && Sign(key, parts) &&
               IniReader_Read(parts.reader, "Key", "Sign", &sign) && sign;
  bool matches = whole && std::strlen(sign) == parts.signature->length &&
                 std::memcmp(sign, parts.signature->data, parts.signature->length) == 0;
  if (sign) RasUtil_Free(sign);
  return matches;
}

}  // namespace

bool ReqDatConverter::Convert(const std::wstring& path) {
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  std::string input = platform::WideToAnsi(path);
  std::string output = input + ".new";

  unsigned char oldKey[kKeyBytes];
  if (!SystemInfo_GetOldUniqueId(oldKey)) return false;

  Parts parts;
  switch (OpenKeyFile(input, oldKey, true, parts)) {
    case Opened::kOk:
      break;
    case Opened::kFailed:
      return false;
    case Opened::kNoValue:
      RasSetLastError(kFunction, kFile, 81, 225, 0, "Key Value is not found");
      return false;
    case Opened::kDamaged:
      RasSetLastError(kFunction, kFile, 84, 255, ERROR_INVALID_DATA, "damaged file :%s", input.c_str());
      return false;
  }

  unsigned char newKey[kKeyBytes];
  if (!SystemInfo_GetUniqueId(newKey) || !Sign(newKey, parts)) return false;

  parts.plaintext = Buffer_New();
  if (!parts.plaintext || !Append(parts.plaintext, "[Key]\r\nValue=") ||
      !Buffer_Append(parts.plaintext, parts.value->data, parts.value->length) ||
      !Append(parts.plaintext, "\r\nSign=") ||
      !Buffer_Append(parts.plaintext, parts.signature->data, parts.signature->length) ||
      !Append(parts.plaintext, "\r\n") || !Buffer_Encrypt(parts.plaintext, EVP_aes_256_cbc(), newKey))
    return false;

  FILE* out = streams.Open(output.c_str(), "wb");
  if (!out) {
    RasSetLastError(kFunction, kFile, 123, 255, platform::GetLastErrorCode(), "fopen failed :%s", output.c_str());
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
    RasSetLastError(kFunction, kFile, 128, 255, complete ? platform::GetLastErrorCode() : writeError,
                    "fwrite failed :%s", output.c_str());
    return false;
  }
  return true;
}

bool ReqDatConverter::ConvertedFileShouldReplace(const std::wstring& path) {
  std::string keyFile = platform::WideToAnsi(path);
  std::string converted = keyFile + ".new";
  unsigned char oldKey[kKeyBytes], newKey[kKeyBytes];
  // Cheapest first: most runs have no converted file left, and most key
  // files open with the old binding.
  platform::StreamFileStatus status;
  if (platform::Use<platform::ByteStreams>().Status(converted.c_str(), &status) != 0) return false;
  if (!SystemInfo_GetOldUniqueId(oldKey) || OpensWith(keyFile, oldKey)) return false;
  if (!SystemInfo_GetUniqueId(newKey) || OpensWith(keyFile, newKey)) return false;
  return SignedWith(converted, newKey);
}
