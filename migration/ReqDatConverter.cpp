#include "ReqDatConverter.h"

#include <cstdio>
#include <cstring>

#include "platform/ByteStreams.h"
#include "platform/CodePages.h"
#include "platform/LastError.h"
#include "platform/Port.h"
#include "velkras2/Buffer.h"
#include "velkras2/IniReader.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"
#include "velkras2/Secret.h"
#include "velkras2/SystemInfo.h"

namespace {

const char kFunction[] = "ReqDatConverter::Convert";
const char kFile[] = "ReqDatConverter.cpp";
constexpr size_t kChunk = 1024;

// Everything Convert allocates, freed on every path.
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

}  // namespace

bool ReqDatConverter::Convert(const std::wstring& path) {
  platform::ByteStreams& streams = platform::Use<platform::ByteStreams>();
  std::string input = platform::WideToAnsi(path);
  std::string output = input + ".new";

  SecretBytes<32> oldKey;
  if (!SystemInfo_GetOldUniqueId(oldKey.bytes)) return false;

  Parts parts;
  parts.file = Buffer_New();
  if (!parts.file) return false;
  FILE* in = streams.Open(input.c_str(), "rb");
  if (!in) {
    RasSetLastError(kFunction, kFile, 52, 255, platform::GetLastErrorCode(), "fopen failed :%s", input.c_str());
    return false;
  }
  char chunk[kChunk];
  for (;;) {
    size_t n = std::fread(chunk, 1, sizeof chunk, in);
    if (n == 0) break;
    if (!Buffer_Append(parts.file, chunk, static_cast<uint32_t>(n))) {
      std::fclose(in);
      return false;
    }
  }
  if (std::ferror(in)) {
    RasSetLastError(kFunction, kFile, 61, 255, platform::GetLastErrorCode(), "fread failed :%s", input.c_str());
    std::fclose(in);
    return false;
  }
  std::fclose(in);

  // The file is whole cipher blocks. A cut one decrypts to a text whose key
  // value may be cut as well, and that must not replace the user's key.
  if (parts.file->length % 16 != 0) {
    RasSetLastError(kFunction, kFile, 66, 255, ERROR_INVALID_DATA, "truncated file :%s", input.c_str());
    return false;
  }
  // A wrong key does not fail here; it shows as a missing key value.
  if (!Buffer_Decrypt(parts.file, EVP_aes_256_cbc(), oldKey.bytes)) return false;
  if (!Buffer_AppendNull(parts.file)) return false;
  parts.reader = IniReader_New(reinterpret_cast<const char*>(parts.file->data), parts.file->length);
  if (!parts.reader) return false;
  char* keyValue = nullptr;
  if (!IniReader_Read(parts.reader, "Key", "Value", &keyValue)) return false;
  if (!keyValue) {
    RasSetLastError(kFunction, kFile, 81, 225, 0, "Key Value is not found");
    return false;
  }

  SecretBytes<32> newKey;
  if (!SystemInfo_GetUniqueId(newKey.bytes)) {
    Secret_FreeText(keyValue);
    return false;
  }
  // From here on the value is freed with its buffer.
  parts.value = Buffer_New();
  if (!parts.value) {
    Secret_FreeText(keyValue);
    return false;
  }
  Buffer_Attach(parts.value, keyValue);

  parts.signature = Buffer_New();
  if (!parts.signature || !Buffer_Append(parts.signature, newKey.bytes, sizeof newKey.bytes) ||
      !Buffer_Append(parts.signature, parts.value->data, parts.value->length) ||
      !Buffer_Digest(parts.signature, EVP_sha256()) || !Buffer_BinToHex(parts.signature))
    return false;

  parts.plaintext = Buffer_New();
  if (!parts.plaintext || !Append(parts.plaintext, "[Key]\r\nValue=") ||
      !Buffer_Append(parts.plaintext, parts.value->data, parts.value->length) ||
      !Append(parts.plaintext, "\r\nSign=") ||
      !Buffer_Append(parts.plaintext, parts.signature->data, parts.signature->length) ||
      !Append(parts.plaintext, "\r\n") || !Buffer_Encrypt(parts.plaintext, EVP_aes_256_cbc(), newKey.bytes))
    return false;

  FILE* out = streams.Open(output.c_str(), "wb");
  if (!out) {
    RasSetLastError(kFunction, kFile, 123, 255, platform::GetLastErrorCode(), "fopen failed :%s", output.c_str());
    return false;
  }
  // The new file replaces req.dat afterwards, so a short write, or one that
  // only fails when the stream is flushed, must not count as complete.
  size_t written = std::fwrite(parts.plaintext->data, 1, parts.plaintext->length, out);
  bool complete = written == parts.plaintext->length && std::fflush(out) == 0;
  DWORD lastError = platform::GetLastErrorCode();
  bool closed = std::fclose(out) == 0;
  if (!complete || !closed) {
    RasSetLastError(kFunction, kFile, 128, 255, lastError, "fwrite failed :%s", output.c_str());
    return false;
  }
  return true;
}
