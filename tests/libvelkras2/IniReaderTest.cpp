#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "velkras2/IniReader.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"

namespace {

// Looks up [Key] Value in text, its terminator counted in the size. The
// text is copied into a block of exactly that size, so that a read past it
// shows under the address sanitizer.
std::optional<std::string> Lookup(const std::string& text, bool terminatorCounted = true) {
  std::vector<char> block(text.begin(), text.end());
  if (terminatorCounted) block.push_back('\0');
  IniReader* reader = IniReader_New(block.data(), static_cast<uint32_t>(block.size()));
  EXPECT_NE(reader, nullptr);
  char* value = nullptr;
  EXPECT_TRUE(IniReader_Read(reader, "Key", "Value", &value));
  IniReader_Free(reader);
  if (!value) return std::nullopt;
  std::string out = value;
  RasUtil_Free(value);
  return out;
}

std::string Message() { return RasGetLastError()->message; }
std::string Location() { return RasGetLastError()->location; }

TEST(IniReaderTest, FindsTheKeyOfTheSection) {
  EXPECT_EQ(Lookup("[Key]\r\nValue=abc\r\nSign=0f"), "abc");
  EXPECT_EQ(Lookup("[key]\r\nVALUE = abc\r\n"), "abc");
  EXPECT_EQ(Lookup("[ Key ]\r\nValue=abc\r\n"), std::nullopt);
  EXPECT_EQ(Lookup("  [Key]\t\r\n\tValue=abc"), "abc");
}

TEST(IniReaderTest, TrimsBlanksAndOnePairOfQuotes) {
  EXPECT_EQ(Lookup("[Key]\r\nValue =   a b  \r\n"), "a b");
  EXPECT_EQ(Lookup("[Key]\r\nValue=\"a b\"\r\n"), "a b");
  EXPECT_EQ(Lookup("[Key]\r\nValue='a b'\r\n"), "a b");
  EXPECT_EQ(Lookup("[Key]\r\nValue=\"a b'\r\n"), "\"a b'");
  EXPECT_EQ(Lookup("[Key]\r\nValue=\"\"x\"\"\r\n"), "\"x\"");
  EXPECT_EQ(Lookup("[Key]\r\nValue='\r\n"), "");
  EXPECT_EQ(Lookup("[Key]\r\nValue=\"\r\n"), "");
  EXPECT_EQ(Lookup("[Key]\r\nValue=a=b\r\n"), "a=b");
  EXPECT_EQ(Lookup("[Key]\r\nValue=\r\n"), "");
  EXPECT_EQ(Lookup("[Key]\r\nValue=  \t"), "");
}

TEST(IniReaderTest, OnlyTheWantedSectionCounts) {
  EXPECT_EQ(Lookup("Value=early\r\n[Key]\r\nOther=1\r\n"), std::nullopt);
  EXPECT_EQ(Lookup("[Other]\r\nValue=x\r\n[Key]\r\nValue=y\r\n"), "y");
  EXPECT_EQ(Lookup("[Key]\r\nA=1\r\n[Other]\r\nValue=x\r\n[Key]\r\nValue=second\r\n"), "second");
  EXPECT_EQ(Lookup("[Key]\r\nValue=first\r\nValue=second\r\n"), "first");
  EXPECT_EQ(Lookup("[Key]\r\n;Value=x\r\n   ;Value=y\r\nValue=z\r\n"), "z");
  EXPECT_EQ(Lookup("[Key]\r\n#Value=x\r\n"), std::nullopt);
  EXPECT_EQ(Lookup("[Key]\r\nno equals sign\r\nValue=after\r\n"), "after");
}

TEST(IniReaderTest, EmptyNameIsRecordedAndSkipped) {
  RasSetLastError("earlier", "e.cpp", 1, 1, 0, "earlier");
  EXPECT_EQ(Lookup("[Key]\r\n=abc\r\nValue=found\r\n"), "found");
  // The record stays even though the lookup succeeded.
  EXPECT_EQ(Message(), "empty line");
  EXPECT_EQ(Location(), "_IniReader_Key at IniReader.cpp line 80");
  EXPECT_EQ(RasGetLastError()->code, 255);
}

TEST(IniReaderTest, OnlyCarriageReturnLineFeedSeparatesLines) {
  EXPECT_EQ(Lookup("[Key]\nValue=abc"), std::nullopt);
  EXPECT_EQ(Lookup("[Key]\r\nValue=abc\rmore\r\n"), "abc\rmore");
  EXPECT_EQ(Lookup("[Key]\r\nValue=abc\nSign=1\r\n"), "abc\nSign=1");
  EXPECT_EQ(Lookup("[Key]\r\r\nValue=abc\r\n"), std::nullopt);  // header "[Key]\r"
  EXPECT_EQ(Lookup("[Key]\r\n\r\n\r\nValue=abc\r"), "abc\r");
}

TEST(IniReaderTest, ZeroByteEndsTheLineAndTheScan) {
  EXPECT_EQ(Lookup(std::string("[Key]\r\nValue=ab\0cd\r\n", 19)), "ab");
  EXPECT_EQ(Lookup(std::string("[Key]\r\nOther=1\0\r\nValue=x\r\n", 27)), std::nullopt);
  EXPECT_EQ(Lookup(std::string("[Key]\0\r\nValue=x\r\n", 17)), std::nullopt);
}

TEST(IniReaderTest, NotFoundIsRecordedAndIsNoFailure) {
  EXPECT_EQ(Lookup(""), std::nullopt);  // only the terminator
  EXPECT_EQ(Message(), "secion:Key key:Value is not found");
  EXPECT_EQ(Location(), "IniReader_Read at IniReader.cpp line 197");
  EXPECT_EQ(Lookup("[Key]\r\nSign=1\r\n"), std::nullopt);
  EXPECT_EQ(Message(), "secion:Key key:Value is not found");
}

TEST(IniReaderTest, NeverReadsBeyondTheGivenSize) {
  // Without a counted terminator the last byte is text, not the end mark.
  EXPECT_EQ(Lookup("[Key]\r\nValue=abc", false), "abc");
  EXPECT_EQ(Lookup("[Key]\r\nValue=abc\r", false), "abc\r");
  EXPECT_EQ(Lookup("[Key]\r\nValue=abc\r\n", false), "abc");
  // Size 0: nothing to read at all.
  IniReader* reader = IniReader_New("", 0);
  char* value = reinterpret_cast<char*>(1);
  EXPECT_TRUE(IniReader_Read(reader, "Key", "Value", &value));
  EXPECT_EQ(value, nullptr);
  IniReader_Free(reader);
}

TEST(IniReaderTest, HugeLinesGrowTheWorkingLine) {
  std::string big(300000, 'v');
  std::string text = "[Key]\r\n" + std::string(100000, 'c') + "=1\r\nValue=" + big + "\r\n";
  EXPECT_EQ(Lookup(text), big);
}

TEST(IniReaderTest, OutOfMemoryIsRecorded) {
  // The first line's working buffer is large enough for the second.
  std::string text = "[Key]    \r\nValue=abc\r\n";
  RasGetLastError();  // the thread's record exists before memory runs out
  RasUtil_FailAllocationsAfter(0);
  EXPECT_EQ(IniReader_New(text.c_str(), static_cast<uint32_t>(text.size() + 1)), nullptr);
  EXPECT_EQ(Location(), "IniReader_New at IniReader.cpp line 113");
  EXPECT_EQ(Message(), "malloc failed :Not enough memory resources are available to process this command.");
  RasUtil_FailAllocationsAfter(-1);

  IniReader* reader = IniReader_New(text.c_str(), static_cast<uint32_t>(text.size() + 1));
  char* value = nullptr;
  RasUtil_FailAllocationsAfter(0);
  EXPECT_FALSE(IniReader_Read(reader, "Key", "Value", &value));
  EXPECT_EQ(Location(), "IniReader_Read at IniReader.cpp line 164");
  // The working line is there, the copy of the value is not.
  RasUtil_FailAllocationsAfter(1);
  EXPECT_FALSE(IniReader_Read(reader, "Key", "Value", &value));
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(Location(), "strcpy_alloc at RasUtil.cpp line 100");
  EXPECT_EQ(Message(), "malloc failed");
  RasUtil_FailAllocationsAfter(-1);
  IniReader_Free(reader);
}

}  // namespace
