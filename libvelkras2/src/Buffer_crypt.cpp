#include <climits>
#include <memory>

#include "BufferPrivate.h"
#include "platform/LastError.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"
#include "velkras2/Secret.h"

#if OPENSSL_VERSION_NUMBER < 0x30000000L
#define EVP_MD_CTX_get0_md EVP_MD_CTX_md
#define EVP_CIPHER_CTX_get0_cipher EVP_CIPHER_CTX_cipher
#endif

namespace {

const char kFile[] = "Buffer_crypt.cpp";
constexpr unsigned kLineDigestNew = 56;
constexpr unsigned kLineDigestMalloc = 65;
constexpr unsigned kLineDigestUpdate = 70;

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
struct DigestContextFree {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

struct CipherReports {
  const char* operation;
  unsigned newLine, mallocLine, updateLine;
  int updateCode;
  const char* newMessage;
  const char* updateMessage;
};

const CipherReports kEncrypt{"Buffer_Encrypt",          195, 203, 208, 255, "EVP_CIPHER_CTX_new failed",
                             "EVP_EncryptUpdate failed"};
const CipherReports kDecrypt{"Buffer_Decrypt",          273, 281, 286, 5, "EVP_CIPHER_CTX_new failed",
                             "EVP_DecryptUpdate failed"};

// Both directions: one update over the whole contents and a final step whose
// result only goes to finalOk (a rejected padding adds no bytes).
bool RunCipher(Buffer* buffer, const EVP_CIPHER* cipher, const unsigned char* key, bool encrypt, const CipherReports& r,
               bool* finalOk) {
  CipherContext context(EVP_CIPHER_CTX_new());
  EVP_CIPHER_CTX* ctx = context.get();
  if (!ctx) {
    RasSetLastError(r.operation, kFile, r.newLine, 255, platform::GetLastErrorCode(), "%s", r.newMessage);
    return false;
  }
  if (encrypt)
    EVP_EncryptInit_ex(ctx, cipher, nullptr, key, nullptr);
  else
    EVP_DecryptInit_ex(ctx, cipher, nullptr, key, nullptr);
  // A context left without a cipher has no block size; its update fails.
  int blockSize = EVP_CIPHER_CTX_get0_cipher(ctx) ? EVP_CIPHER_CTX_block_size(ctx) : 0;
  if (blockSize < 0) blockSize = 0;

  uint32_t size = 0;
  unsigned char* block = nullptr;
  if (_Buffer_RoundUp(buffer, static_cast<uint64_t>(blockSize) + buffer->length, &size))
    block = static_cast<unsigned char*>(RasUtil_Malloc(size));
  else
    platform::SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
  if (!block) {
    RasSetLastError(r.operation, kFile, r.mallocLine, 255, platform::GetLastErrorCode(), "malloc failed");
    return false;
  }

  int updated = 0;
  int ok = 0;
  if (buffer->length <= INT_MAX) {
    const unsigned char* in = buffer->data ? buffer->data : block;
    int inLength = static_cast<int>(buffer->length);
    ok = encrypt ? EVP_EncryptUpdate(ctx, block, &updated, in, inLength)
                 : EVP_DecryptUpdate(ctx, block, &updated, in, inLength);
  }
  if (ok != 1) {
    RasSetLastError(r.operation, kFile, r.updateLine, r.updateCode, platform::GetLastErrorCode(), "%s",
                    r.updateMessage);
    Secret_Clear(block, size);
    RasUtil_Free(block);
    return false;
  }
  int finished = 0;
  int final = encrypt ? EVP_EncryptFinal_ex(ctx, block + updated, &finished)
                      : EVP_DecryptFinal_ex(ctx, block + updated, &finished);
  if (final != 1 || finished < 0) finished = 0;
  if (finalOk) *finalOk = final == 1;

  _Buffer_Replace(buffer, block, size, static_cast<uint32_t>(updated + finished));
  return true;
}

}  // namespace

bool Buffer_Digest(Buffer* buffer, const EVP_MD* algorithm) {
  DigestContext context(EVP_MD_CTX_new());
  EVP_MD_CTX* ctx = context.get();
  if (!ctx) {
    RasSetLastError("Buffer_Digest", kFile, kLineDigestNew, 255, platform::GetLastErrorCode(), "EVP_MD_CTX_new failed");
    return false;
  }
  EVP_DigestInit_ex(ctx, algorithm, nullptr);
  const EVP_MD* md = EVP_MD_CTX_get0_md(ctx);
  int n = md ? EVP_MD_size(md) : 0;
  if (n < 0) n = 0;

  uint32_t size = 0;
  unsigned char* block = nullptr;
  if (_Buffer_RoundUp(buffer, static_cast<uint64_t>(n), &size))
    block = static_cast<unsigned char*>(RasUtil_Malloc(size));
  if (!block) {
    RasSetLastError("Buffer_Digest", kFile, kLineDigestMalloc, 255, platform::GetLastErrorCode(), "malloc failed");
    return false;
  }
  // An uninitialised context (no algorithm) fails here, before any output.
  if (EVP_DigestUpdate(ctx, buffer->data ? buffer->data : block, buffer->length) != 1) {
    RasSetLastError("Buffer_Digest", kFile, kLineDigestUpdate, 255, platform::GetLastErrorCode(),
                    "EVP_DigestUpdate failed");
    Secret_Clear(block, size);
    RasUtil_Free(block);
    return false;
  }
  unsigned int digestLength = 0;
  EVP_DigestFinal_ex(ctx, block, &digestLength);

  _Buffer_Replace(buffer, block, size, digestLength);
  return true;
}

bool Buffer_Encrypt(Buffer* buffer, const EVP_CIPHER* cipher, const unsigned char* key) {
  return RunCipher(buffer, cipher, key, true, kEncrypt, nullptr);
}

bool Buffer_Decrypt(Buffer* buffer, const EVP_CIPHER* cipher, const unsigned char* key) {
  return RunCipher(buffer, cipher, key, false, kDecrypt, nullptr);
}

bool Buffer_DecryptPadded(Buffer* buffer, const EVP_CIPHER* cipher, const unsigned char* key, bool* padded) {
  *padded = false;
  return RunCipher(buffer, cipher, key, false, kDecrypt, padded);
}
