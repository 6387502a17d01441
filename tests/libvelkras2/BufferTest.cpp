#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "velkras2/Buffer.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"

namespace {

struct BufferDeleter {
  void operator()(Buffer* b) const { Buffer_Free(b); }
};
using BufferPtr = std::unique_ptr<Buffer, BufferDeleter>;

BufferPtr NewBuffer() { return BufferPtr(Buffer_New()); }

std::string Contents(const Buffer* b) { return std::string(reinterpret_cast<const char*>(b->data), b->length); }

void ExpectRecord(int code, const char* location, const char* message) {
  const RasError* e = RasGetLastError();
  EXPECT_EQ(e->code, code);
  EXPECT_STREQ(e->location, location);
  EXPECT_STREQ(e->message, message);
}

class BufferAllocationTest : public ::testing::Test {
 protected:
  ~BufferAllocationTest() override { RasUtil_FailAllocationsAfter(-1); }
};

TEST(BufferTest, NewBufferIsEmpty) {
  BufferPtr b = NewBuffer();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->data, nullptr);
  EXPECT_EQ(b->length, 0u);
  EXPECT_EQ(b->capacity, 0u);
  EXPECT_EQ(b->unit, 256u);
  // Appending nothing allocates nothing.
  EXPECT_TRUE(Buffer_Append(b.get(), "", 0));
  EXPECT_EQ(b->data, nullptr);
  EXPECT_EQ(b->capacity, 0u);
}

TEST(BufferTest, GrowsInWholeUnitsFromTheCapacity) {
  BufferPtr small = NewBuffer();
  ASSERT_TRUE(Buffer_Append(small.get(), "[Key]\r\nValue=", 13));
  EXPECT_EQ(small->capacity, 256u);
  EXPECT_EQ(Contents(small.get()), "[Key]\r\nValue=");

  std::string chunk(1024, 'x');
  BufferPtr b = NewBuffer();
  ASSERT_TRUE(Buffer_Append(b.get(), chunk.data(), 1024));
  EXPECT_EQ(b->capacity, 1024u);
  ASSERT_TRUE(Buffer_Append(b.get(), "y", 1));
  EXPECT_EQ(b->capacity, 1280u);
  EXPECT_EQ(b->length, 1025u);
  EXPECT_EQ(Contents(b.get()), chunk + "y");

  // Filling the rest of the block does not grow it.
  std::string rest(255, 'z');
  ASSERT_TRUE(Buffer_Append(b.get(), rest.data(), 255));
  EXPECT_EQ(b->capacity, 1280u);
  EXPECT_EQ(b->length, 1280u);
}

TEST(BufferTest, AppendNullCountsTheTerminator) {
  BufferPtr b = NewBuffer();
  ASSERT_TRUE(Buffer_AppendNull(b.get()));
  EXPECT_EQ(b->capacity, 256u);
  EXPECT_EQ(b->length, 1u);
  EXPECT_EQ(b->data[0], 0);

  BufferPtr full = NewBuffer();
  std::string bytes(256, 'a');
  ASSERT_TRUE(Buffer_Append(full.get(), bytes.data(), 256));
  ASSERT_EQ(full->capacity, 256u);
  ASSERT_TRUE(Buffer_AppendNull(full.get()));
  EXPECT_EQ(full->capacity, 512u);
  EXPECT_EQ(full->length, 257u);
  EXPECT_EQ(Contents(full.get()), bytes + std::string(1, '\0'));
}

TEST(BufferTest, AttachedTextIsTakenOverAndGrows) {
  BufferPtr b = NewBuffer();
  ASSERT_TRUE(Buffer_Append(b.get(), "old", 3));  // the old block is freed
  Buffer_Attach(b.get(), strcpy_alloc("abc"));
  EXPECT_EQ(b->length, 3u);
  EXPECT_EQ(b->capacity, 3u);
  ASSERT_TRUE(Buffer_Append(b.get(), "d", 1));
  EXPECT_EQ(b->capacity, 256u);
  EXPECT_EQ(Contents(b.get()), "abcd");

  BufferPtr t = NewBuffer();
  Buffer_Attach(t.get(), strcpy_alloc("abc"));
  ASSERT_TRUE(Buffer_AppendNull(t.get()));
  EXPECT_EQ(t->capacity, 256u);
  EXPECT_EQ(t->length, 4u);
  EXPECT_STREQ(reinterpret_cast<char*>(t->data), "abc");
}

TEST(BufferTest, BinToHexIsLowerCaseWithoutTerminator) {
  BufferPtr b = NewBuffer();
  const unsigned char bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
  ASSERT_TRUE(Buffer_Append(b.get(), bytes, 4));
  ASSERT_TRUE(Buffer_BinToHex(b.get()));
  EXPECT_EQ(Contents(b.get()), "009fa0ff");
  EXPECT_EQ(b->length, 8u);
  EXPECT_EQ(b->capacity, 256u);

  BufferPtr empty = NewBuffer();
  ASSERT_TRUE(Buffer_BinToHex(empty.get()));
  EXPECT_EQ(empty->length, 0u);

  BufferPtr big = NewBuffer();
  std::string all;
  for (int i = 0; i < 200; ++i) all += static_cast<char>(i);
  ASSERT_TRUE(Buffer_Append(big.get(), all.data(), 200));
  ASSERT_TRUE(Buffer_BinToHex(big.get()));
  EXPECT_EQ(big->length, 400u);
  EXPECT_EQ(big->capacity, 512u);
  EXPECT_EQ(Contents(big.get()).substr(0, 8), "00010203");
  EXPECT_EQ(Contents(big.get()).substr(392), "c4c5c6c7");
}

TEST_F(BufferAllocationTest, EachFailureIsRecordedWhereItHappens) {
  RasGetLastError();  // the thread's record exists before memory runs out
  RasUtil_FailAllocationsAfter(0);
  EXPECT_EQ(Buffer_New(), nullptr);
  ExpectRecord(255, "Buffer_New at Buffer.cpp line 17",
               "malloc failed :Not enough memory resources are available to process this command.");

  RasUtil_FailAllocationsAfter(-1);
  BufferPtr b = NewBuffer();
  RasUtil_FailAllocationsAfter(0);
  EXPECT_FALSE(Buffer_Append(b.get(), "abc", 3));
  ExpectRecord(255, "Buffer_Append at Buffer.cpp line 92",
               "alloc failed :Not enough memory resources are available to process this command.");
  EXPECT_FALSE(Buffer_AppendNull(b.get()));
  ExpectRecord(255, "Buffer_AppendNull at Buffer.cpp line 118",
               "realloc failed :Not enough memory resources are available to process this command.");

  RasUtil_FailAllocationsAfter(-1);
  ASSERT_TRUE(Buffer_Append(b.get(), "abc", 3));
  RasUtil_FailAllocationsAfter(0);
  EXPECT_FALSE(Buffer_BinToHex(b.get()));
  ExpectRecord(255, "Buffer_BinToHex at Buffer_encode.cpp line 58",
               "malloc failed :Not enough memory resources are available to process this command.");
  EXPECT_EQ(Contents(b.get()), "abc");  // unchanged

  EXPECT_FALSE(strcpy_alloc("text"));
  ExpectRecord(255, "strcpy_alloc at RasUtil.cpp line 100", "malloc failed");
}

TEST(BufferTest, SizesThatDoNotFitThirtyTwoBitsFailAsOutOfMemory) {
  BufferPtr b = NewBuffer();
  ASSERT_TRUE(Buffer_Append(b.get(), "abc", 3));
  EXPECT_FALSE(Buffer_Append(b.get(), "x", 0xFFFFFFF0u));
  ExpectRecord(255, "Buffer_Append at Buffer.cpp line 92",
               "alloc failed :Not enough memory resources are available to process this command.");
  EXPECT_EQ(b->length, 3u);
  EXPECT_EQ(b->capacity, 256u);
}

}  // namespace
