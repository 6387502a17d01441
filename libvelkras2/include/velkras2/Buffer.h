// Growable byte buffer; blocks grow in whole units and never shrink. The
// digest, cipher and hexadecimal operations replace the contents in place.
// Every block is wiped before it is released: buffers carry keys and
// plaintexts.
#pragma once

#include <cstdint>

#include <openssl/evp.h>

struct Buffer {
  unsigned char* data;
  uint32_t length;
  uint32_t capacity;
  uint32_t unit;
};

Buffer* Buffer_New();
bool Buffer_Append(Buffer* buffer, const void* bytes, uint32_t count);
bool Buffer_AppendNull(Buffer* buffer);
// Takes over text (allocated with RasUtil_Malloc or strcpy_alloc, terminated).
void Buffer_Attach(Buffer* buffer, char* text);
void Buffer_Free(Buffer* buffer);

// Contents become their lower-case hexadecimal text (no terminator).
bool Buffer_BinToHex(Buffer* buffer);

// Contents become their digest, ciphertext or plaintext. The cipher runs from
// an all-zero IV with PKCS#7 padding; a final decryption step that rejects the
// padding (wrong key, damaged text) is no failure and adds no bytes.
bool Buffer_Digest(Buffer* buffer, const EVP_MD* algorithm);
bool Buffer_Encrypt(Buffer* buffer, const EVP_CIPHER* cipher, const unsigned char* key);
bool Buffer_Decrypt(Buffer* buffer, const EVP_CIPHER* cipher, const unsigned char* key);
// Buffer_Decrypt that also tells whether the final step accepted the padding:
// false after a wrong key or a cut or damaged text, whose plaintext is then
// short of its last block. The result and the record are Buffer_Decrypt's.
bool Buffer_DecryptPadded(Buffer* buffer, const EVP_CIPHER* cipher, const unsigned char* key, bool* padded);
