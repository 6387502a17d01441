// The key-file conversion from ciphertext with fixed machine keys: open with
// the old key, seal the value for the new key, open the result again. The
// first byte picks how the rest becomes the file: encrypted with the old key
// (so the INI reader sees the fuzzer's text), encrypted and cut by one block,
// or taken as ciphertext as it is.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "KeyFileCipher.h"
#include "velkras2/Buffer.h"

namespace {

const unsigned char kOldKey[kMachineKeyBytes] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                                 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const unsigned char kNewKey[kMachineKeyBytes] = {32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17,
                                                 16, 15, 14, 13, 12, 11, 10, 9,  8,  7,  6,  5,  4,  3,  2,  1};

// A value the reader gives back whole when written after "Value=". The
// layout writes it without quotes, so one that starts and ends with the
// same quote loses that pair on the next reading, and blanks at its ends
// (kept inside quotes in the old file) are trimmed.
bool ReadsBackWhole(const Buffer* value) {
  if (value->length == 0) return true;
  unsigned char first = value->data[0], last = value->data[value->length - 1];
  auto blank = [](unsigned char c) { return c == ' ' || c == '\t'; };
  return !((first == '"' || first == '\'') && first == last) && !blank(first) && !blank(last);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 0x10000) return 0;
  int mode = data[0] % 3;
  KeyFileParts parts;
  parts.file = Buffer_New();
  if (!parts.file || !Buffer_Append(parts.file, data + 1, static_cast<uint32_t>(size - 1))) std::abort();
  if (mode != 2 && !Buffer_Encrypt(parts.file, EVP_aes_256_cbc(), kOldKey)) std::abort();
  if (mode == 1) parts.file->length -= 16;

  KeyFileOpened opened = OpenKeyFileBytes(kOldKey, parts);
  // A whole text encrypted here always passes the padding check. (One cut
  // by a block may pass it too, when its new last block happens to end like
  // a padding: text files never do.)
  if (mode == 0 && (opened == KeyFileOpened::kDamaged || opened == KeyFileOpened::kCut)) std::abort();
  if (opened != KeyFileOpened::kOk) return 0;
  if (!SealKeyValue(kNewKey, parts)) std::abort();

  // The sealed file opens with the new key, carries the value and its
  // signature.
  KeyFileParts again;
  again.file = Buffer_New();
  if (!again.file || !Buffer_Append(again.file, parts.plaintext->data, parts.plaintext->length)) std::abort();
  if (OpenKeyFileBytes(kNewKey, again) != KeyFileOpened::kOk) std::abort();
  if (ReadsBackWhole(parts.value) && (again.value->length != parts.value->length ||
                                      std::memcmp(again.value->data, parts.value->data, parts.value->length) != 0 ||
                                      !KeyFileSignatureMatches(kNewKey, again)))
    std::abort();
  return 0;
}
