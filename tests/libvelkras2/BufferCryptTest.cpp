#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/Hex.h"
#include "velkras2/Buffer.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"

namespace {

using velk_test::Hex;

struct BufferDeleter {
  void operator()(Buffer* b) const { Buffer_Free(b); }
};
using BufferPtr = std::unique_ptr<Buffer, BufferDeleter>;

BufferPtr BufferOf(const std::string& bytes) {
  BufferPtr b(Buffer_New());
  EXPECT_TRUE(Buffer_Append(b.get(), bytes.data(), static_cast<uint32_t>(bytes.size())));
  return b;
}

std::string Contents(const Buffer* b) { return std::string(reinterpret_cast<const char*>(b->data), b->length); }

const unsigned char kKey[32] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87, 0x98, 0xA9, 0xBA,
                                0xCB, 0xDC, 0xED, 0xFE, 0x0F, 0x01, 0x12, 0x23, 0x34, 0x45, 0x56,
                                0x67, 0x78, 0x89, 0x9A, 0xAB, 0xBC, 0xCD, 0xDE, 0xEF, 0xF0};
const unsigned char kOtherKey[32] = {1};

TEST(BufferCryptTest, DigestOfTheEmptyBuffer) {
  BufferPtr b(Buffer_New());
  ASSERT_TRUE(Buffer_Digest(b.get(), EVP_sha256()));
  EXPECT_EQ(b->length, 32u);
  EXPECT_EQ(b->capacity, 256u);
  EXPECT_EQ(Hex(Contents(b.get())), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(BufferCryptTest, EncryptedSizesFollowThePaddingAndTheUnit) {
  struct Case {
    size_t plain;
    uint32_t length, capacity;
  } cases[] = {{0, 16, 256}, {100, 112, 256}, {240, 256, 256}, {250, 256, 512}, {1000, 1008, 1024}};
  for (const Case& c : cases) {
    BufferPtr b = BufferOf(std::string(c.plain, 'p'));
    ASSERT_TRUE(Buffer_Encrypt(b.get(), EVP_aes_256_cbc(), kKey));
    EXPECT_EQ(b->length, c.length) << c.plain;
    EXPECT_EQ(b->capacity, c.capacity) << c.plain;
  }
}

TEST(BufferCryptTest, DecryptRestoresTheContents) {
  for (size_t n : {0, 1, 15, 16, 17, 100, 250, 1024}) {
    std::string plain;
    for (size_t i = 0; i < n; ++i) plain += static_cast<char>(i * 31 + 5);
    BufferPtr b = BufferOf(plain);
    ASSERT_TRUE(Buffer_Encrypt(b.get(), EVP_aes_256_cbc(), kKey));
    if (n > 0) {
      EXPECT_NE(Contents(b.get()).substr(0, n), plain);
    }
    ASSERT_TRUE(Buffer_Decrypt(b.get(), EVP_aes_256_cbc(), kKey));
    EXPECT_EQ(Contents(b.get()), plain) << n;
  }
}

TEST(BufferCryptTest, WrongKeyAndDamagedTextsAreNoFailure) {
  std::string plain = "[Key]\r\nValue=secret value\r\nSign=00\r\n";
  BufferPtr b = BufferOf(plain);
  ASSERT_TRUE(Buffer_Encrypt(b.get(), EVP_aes_256_cbc(), kKey));
  uint32_t cipherLength = b->length;
  RasSetLastError("before", "b.cpp", 1, 1, 0, "untouched");
  ASSERT_TRUE(Buffer_Decrypt(b.get(), EVP_aes_256_cbc(), kOtherKey));
  EXPECT_EQ(Contents(b.get()).find("secret"), std::string::npos);
  // Normally the last block is dropped with its rejected padding.
  EXPECT_LE(b->length, cipherLength);
  EXPECT_STREQ(RasGetLastError()->message, "untouched");

  // Empty, and not a multiple of the block size.
  BufferPtr empty(Buffer_New());
  ASSERT_TRUE(Buffer_Decrypt(empty.get(), EVP_aes_256_cbc(), kKey));
  EXPECT_EQ(empty->length, 0u);
  BufferPtr ragged = BufferOf(std::string(21, 'r'));
  ASSERT_TRUE(Buffer_Decrypt(ragged.get(), EVP_aes_256_cbc(), kKey));
  EXPECT_EQ(ragged->length, 16u);  // the whole block; the rest is rejected by the final step
}

TEST(BufferCryptTest, DecryptPaddedTellsWhetherTheFinalStepAcceptedThePadding) {
  const std::string plain = "[Key]\r\nValue=secret value\r\nSign=00\r\n";  // 37 bytes, 48 encrypted
  BufferPtr sealed = BufferOf(plain);
  ASSERT_TRUE(Buffer_Encrypt(sealed.get(), EVP_aes_256_cbc(), kKey));
  const std::string whole = Contents(sealed.get());
  std::string flipped = whole;
  flipped[47] ^= 0x01;
  struct Case {
    const char* what;
    std::string cipher;
    const unsigned char* key;
    bool padded;
    std::string plain;
  };
  const Case cases[] = {
      {"whole", whole, kKey, true, plain},
      {"cut at a block boundary", whole.substr(0, 32), kKey, false, plain.substr(0, 16)},
      {"last byte changed", flipped, kKey, false, plain.substr(0, 32)},
      {"empty", "", kKey, false, ""},
  };
  for (const Case& c : cases) {
    BufferPtr b = BufferOf(c.cipher);
    bool padded = !c.padded;
    ASSERT_TRUE(Buffer_DecryptPadded(b.get(), EVP_aes_256_cbc(), c.key, &padded)) << c.what;
    EXPECT_EQ(padded, c.padded) << c.what;
    EXPECT_EQ(Contents(b.get()), c.plain) << c.what;
    // The same contents as Buffer_Decrypt gives.
    BufferPtr plainOnly = BufferOf(c.cipher);
    ASSERT_TRUE(Buffer_Decrypt(plainOnly.get(), EVP_aes_256_cbc(), c.key));
    EXPECT_EQ(Contents(plainOnly.get()), c.plain) << c.what;
  }
}

TEST(BufferCryptTest, UpdateFailuresAreRecorded) {
  // Without a cipher the context stays uninitialised and the update fails.
  BufferPtr b = BufferOf("abc");
  EXPECT_FALSE(Buffer_Decrypt(b.get(), nullptr, kKey));
  EXPECT_EQ(RasGetLastError()->code, 5);
  EXPECT_STREQ(RasGetLastError()->location, "Buffer_Decrypt at Buffer_crypt.cpp line 286");
  EXPECT_EQ(std::string(RasGetLastError()->message).rfind("EVP_DecryptUpdate failed", 0), 0u);
  EXPECT_FALSE(Buffer_Encrypt(b.get(), nullptr, kKey));
  EXPECT_EQ(RasGetLastError()->code, 255);
  EXPECT_STREQ(RasGetLastError()->location, "Buffer_Encrypt at Buffer_crypt.cpp line 208");
  EXPECT_FALSE(Buffer_Digest(b.get(), nullptr));
  EXPECT_STREQ(RasGetLastError()->location, "Buffer_Digest at Buffer_crypt.cpp line 70");
  EXPECT_EQ(std::string(RasGetLastError()->message).rfind("EVP_DigestUpdate failed", 0), 0u);
  EXPECT_EQ(Contents(b.get()), "abc");
}

TEST(BufferCryptTest, MallocFailuresAreRecorded) {
  BufferPtr b = BufferOf("abc");
  RasGetLastError();  // the thread's record exists before memory runs out
  RasUtil_FailAllocationsAfter(0);
  EXPECT_FALSE(Buffer_Digest(b.get(), EVP_sha256()));
  EXPECT_STREQ(RasGetLastError()->location, "Buffer_Digest at Buffer_crypt.cpp line 65");
  EXPECT_FALSE(Buffer_Encrypt(b.get(), EVP_aes_256_cbc(), kKey));
  EXPECT_STREQ(RasGetLastError()->location, "Buffer_Encrypt at Buffer_crypt.cpp line 203");
  EXPECT_FALSE(Buffer_Decrypt(b.get(), EVP_aes_256_cbc(), kKey));
  EXPECT_STREQ(RasGetLastError()->location, "Buffer_Decrypt at Buffer_crypt.cpp line 281");
  EXPECT_STREQ(RasGetLastError()->message,
               "malloc failed :Not enough memory resources are available to process this command.");
  EXPECT_EQ(RasGetLastError()->code, 255);
  RasUtil_FailAllocationsAfter(-1);
  EXPECT_EQ(Contents(b.get()), "abc");
}

}  // namespace
