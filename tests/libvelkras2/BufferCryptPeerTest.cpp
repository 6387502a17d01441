// The digest and the cipher against the sha256sum and openssl programs of
// the host.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TempFolder.h"
#include "support/Command.h"
#include "velkras2/Buffer.h"
#include "velkras2/RasUtil.h"

namespace {

using velk_test::Hex;
using velk_test::RunCommand;
using velk_test::TempFolder;

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

std::string KeyHex(const unsigned char* key) { return Hex(std::string(reinterpret_cast<const char*>(key), 32)); }

TEST(BufferCryptTest, DigestEqualsSha256sum) {
  std::string text;
  for (int i = 0; i < 3000; ++i) text += static_cast<char>(i * 7);
  TempFolder folder;
  velk_test::WriteFile(folder.Path("in"), text);
  std::string peer = RunCommand("sha256sum '" + folder.Path("in").string() + "'");
  ASSERT_GE(peer.size(), 64u) << "sha256sum did not run";

  BufferPtr b = BufferOf(text);
  ASSERT_TRUE(Buffer_Digest(b.get(), EVP_sha256()));
  ASSERT_TRUE(Buffer_BinToHex(b.get()));
  EXPECT_EQ(Contents(b.get()), peer.substr(0, 64));
}

TEST(BufferCryptTest, OpensslDecryptsWhatWeEncryptAndTheOtherWayRound) {
  TempFolder folder;
  std::string zeroIv(32, '0');
  std::string enc = "openssl enc -aes-256-cbc -K " + KeyHex(kKey) + " -iv " + zeroIv;

  std::string plain = "[Key]\r\nValue=\"quoted value\"\r\nSign=abc\r\n" + std::string(300, 'x');
  BufferPtr ours = BufferOf(plain);
  ASSERT_TRUE(Buffer_Encrypt(ours.get(), EVP_aes_256_cbc(), kKey));
  velk_test::WriteFile(folder.Path("ours.bin"), Contents(ours.get()));
  int status = -1;
  std::string decrypted = RunCommand(enc + " -d -in '" + folder.Path("ours.bin").string() + "'", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(decrypted, plain);

  velk_test::WriteFile(folder.Path("plain.txt"), plain);
  std::string theirs = RunCommand(enc + " -in '" + folder.Path("plain.txt").string() + "'", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(theirs.size(), 16 * (plain.size() / 16 + 1));
  EXPECT_EQ(theirs, Contents(ours.get()));
  BufferPtr back = BufferOf(theirs);
  ASSERT_TRUE(Buffer_Decrypt(back.get(), EVP_aes_256_cbc(), kKey));
  EXPECT_EQ(Contents(back.get()), plain);
}

}  // namespace
