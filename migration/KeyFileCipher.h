// The PC environment key file in memory: opening its bytes with a machine
// key, and sealing a key value for one in the layout the program writes.
#pragma once

#include <cstdint>

struct Buffer;
struct IniReader;

constexpr uint32_t kMachineKeyBytes = 32;

// Everything the key file operations allocate, freed with the record.
struct KeyFileParts {
  Buffer* file = nullptr;       // the file's bytes, then their plaintext
  Buffer* value = nullptr;      // the [Key] Value found
  Buffer* signature = nullptr;  // hexadecimal SHA-256 of a key and the value
  Buffer* plaintext = nullptr;  // the sealed file
  IniReader* reader = nullptr;  // over the plaintext in file
  KeyFileParts() = default;
  KeyFileParts(const KeyFileParts&) = delete;
  KeyFileParts& operator=(const KeyFileParts&) = delete;
  ~KeyFileParts();
};

enum class KeyFileOpened {
  kOk,
  kFailed,   // a support-library call failed and recorded it
  kCut,      // not whole cipher blocks
  kNoValue,  // no [Key] Value: a wrong key, or no value in the text
  kDamaged,  // a value, but the final step rejected the padding
};

// Decrypts parts.file in place with key, terminates it and looks up its
// [Key] Value into parts.value.
KeyFileOpened OpenKeyFileBytes(const unsigned char* key, KeyFileParts& parts);

// After kOk: whether the text's Sign is the signature of its value under key.
bool KeyFileSignatureMatches(const unsigned char* key, KeyFileParts& parts);

// Signs parts.value with key and encrypts "[Key]\r\nValue=...\r\nSign=...\r\n"
// into parts.plaintext.
bool SealKeyValue(const unsigned char* key, KeyFileParts& parts);
