// Memory that held key material (machine keys, decrypted key files, key
// values) is wiped before it is released or leaves scope, so that neither a
// later allocation nor a memory dump finds it.
#pragma once

#include <cstddef>

// Wipes count bytes in a way the compiler may not drop (OPENSSL_cleanse).
void Secret_Clear(void* bytes, size_t count);
// Wipes a 0-terminated text allocated by the library, then frees it.
void Secret_FreeText(char* text);

// A fixed-size secret (a 32-byte machine key) wiped when it leaves scope.
template <size_t N>
struct SecretBytes {
  unsigned char bytes[N];
  SecretBytes() = default;
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  ~SecretBytes() { Secret_Clear(bytes, N); }
};
