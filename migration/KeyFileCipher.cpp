#include "KeyFileCipher.h"

#include <cctype>
#include <cstring>

#include "velkras2/Buffer.h"
#include "velkras2/IniReader.h"
#include "velkras2/RasUtil.h"
#include "velkras2/Secret.h"

namespace {

bool Append(Buffer* buffer, const char* text) {
  return Buffer_Append(buffer, text, static_cast<uint32_t>(std::strlen(text)));
}

bool Sign(const unsigned char* key, KeyFileParts& parts) {
  if (parts.signature) Buffer_Free(parts.signature);
  parts.signature = Buffer_New();
  return parts.signature && Buffer_Append(parts.signature, key, kMachineKeyBytes) &&
         Buffer_Append(parts.signature, parts.value->data, parts.value->length) &&
         Buffer_Digest(parts.signature, EVP_sha256()) && Buffer_BinToHex(parts.signature);
}

}  // namespace

KeyFileParts::~KeyFileParts() {
  if (file) Buffer_Free(file);
  if (value) Buffer_Free(value);
  if (signature) Buffer_Free(signature);
  if (plaintext) Buffer_Free(plaintext);
  if (reader) IniReader_Free(reader);
}

KeyFileOpened OpenKeyFileBytes(const unsigned char* key, KeyFileParts& parts) {
  // A file cut inside a block decrypts to a text whose key value may be cut
  // as well, and that must not replace the user's key.
  if (parts.file->length % 16 != 0) return KeyFileOpened::kCut;
  // A wrong key does not fail here; it shows as a missing key value. A
  // rejected padding with a value found means a file cut at a block
  // boundary or damaged in its last block.
  bool padded = false;
  if (!Buffer_DecryptPadded(parts.file, EVP_aes_256_cbc(), key, &padded) || !Buffer_AppendNull(parts.file))
    return KeyFileOpened::kFailed;
  parts.reader = IniReader_New(reinterpret_cast<const char*>(parts.file->data), parts.file->length);
  if (!parts.reader) return KeyFileOpened::kFailed;
  char* keyValue = nullptr;
  if (!IniReader_Read(parts.reader, "Key", "Value", &keyValue)) return KeyFileOpened::kFailed;
  if (!keyValue) return KeyFileOpened::kNoValue;
  // From here on the value is freed with its buffer.
  parts.value = Buffer_New();
  if (!parts.value) {
    Secret_FreeText(keyValue);
    return KeyFileOpened::kFailed;
  }
  Buffer_Attach(parts.value, keyValue);
  return padded ? KeyFileOpened::kOk : KeyFileOpened::kDamaged;
}

bool KeyFileSignatureMatches(const unsigned char* key, KeyFileParts& parts) {
  char* sign = nullptr;
  bool matches = Sign(key, parts) && IniReader_Read(parts.reader, "Key", "Sign", &sign) && sign &&
                 std::strlen(sign) == parts.signature->length;
  // Hexadecimal digits in either case.
  for (uint32_t i = 0; matches && i < parts.signature->length; ++i)
    matches = std::tolower(static_cast<unsigned char>(sign[i])) == parts.signature->data[i];
  if (sign) RasUtil_Free(sign);
  return matches;
}

bool SealKeyValue(const unsigned char* key, KeyFileParts& parts) {
  if (!Sign(key, parts)) return false;
  parts.plaintext = Buffer_New();
  return parts.plaintext && Append(parts.plaintext, "[Key]\r\nValue=") &&
         Buffer_Append(parts.plaintext, parts.value->data, parts.value->length) &&
         Append(parts.plaintext, "\r\nSign=") &&
         Buffer_Append(parts.plaintext, parts.signature->data, parts.signature->length) &&
         Append(parts.plaintext, "\r\n") && Buffer_Encrypt(parts.plaintext, EVP_aes_256_cbc(), key);
}
