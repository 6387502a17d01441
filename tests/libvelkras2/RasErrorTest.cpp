#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/Port.h"
#include "platform/SystemMessages.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"

namespace {

std::string Render(const RasError* e) {
  char text[2048];
  std::snprintf(text, sizeof text, "0x%02x: %s @%s", e->code, e->message, e->location);
  return text;
}

// The texts a system without descriptions (and one with a multi-line text) gives.
class ScriptedMessages : public platform::SystemMessages {
 public:
  DWORD Format(DWORD flags, platform::MessageModule, DWORD id, DWORD language, char* buffer, DWORD size) override {
    lastFlags = flags;
    lastLanguage = language;
    if (id != 77) return 0;
    std::snprintf(buffer, size, "First line.\r\nSecond line.\r\n");
    return static_cast<DWORD>(std::strlen(buffer));
  }
  DWORD lastFlags = 0;
  DWORD lastLanguage = 99;
};

TEST(RasErrorTest, FreshThreadHasAnEmptyRecord) {
  std::string rendered;
  std::thread([&] { rendered = Render(RasGetLastError()); }).join();
  EXPECT_EQ(rendered, "0x00:  @");
}

TEST(RasErrorTest, RecordsLocationMessageAndSystemText) {
  RasSetLastError("SystemInfo_GetOldUniqueId", "C:\\src\\libvelkras2\\src\\SystemInfo_win32.cpp", 284, 255, 2,
                  "RegOpenKeyEx failed");
  const RasError* e = RasGetLastError();
  EXPECT_EQ(e->code, 255);
  EXPECT_STREQ(e->location, "SystemInfo_GetOldUniqueId at SystemInfo_win32.cpp line 284");
  EXPECT_STREQ(e->message, "RegOpenKeyEx failed :The system cannot find the file specified.");
  EXPECT_EQ(Render(e),
            "0xff: RegOpenKeyEx failed :The system cannot find the file specified. "
            "@SystemInfo_GetOldUniqueId at SystemInfo_win32.cpp line 284");

  // The second report replaces the first; code 0 appends nothing; a path
  // without a backslash is shown whole.
  RasSetLastError("IniReader_Read", "src/IniReader.cpp", 197, 5, 0, "secion:%s key:%s is not found", "Key", "Value");
  EXPECT_EQ(Render(e), "0x05: secion:Key key:Value is not found @IniReader_Read at src/IniReader.cpp line 197");
}

TEST(RasErrorTest, OnlyTheFirstLineOfTheDescriptionIsAppended) {
  ScriptedMessages messages;
  platform::ScopedPort<platform::SystemMessages> use(messages);
  RasSetLastError("f", "f.cpp", 1, 255, 77, "failed");
  EXPECT_STREQ(RasGetLastError()->message, "failed :First line.");
  EXPECT_EQ(messages.lastFlags, static_cast<DWORD>(FORMAT_MESSAGE_FROM_SYSTEM));
  EXPECT_EQ(messages.lastLanguage, 0u);
  // A code without a description leaves the message ending with " :".
  RasSetLastError("f", "f.cpp", 1, 255, 78, "failed");
  EXPECT_STREQ(RasGetLastError()->message, "failed :");
}

TEST(RasErrorTest, MissingFormatKeepsTheMessage) {
  RasSetLastError("first", "a.cpp", 10, 255, 0, "kept text");
  RasSetLastError("second", "b.cpp", 20, 7, 0, nullptr);
  const RasError* e = RasGetLastError();
  EXPECT_EQ(e->code, 7);
  EXPECT_STREQ(e->message, "kept text");
  EXPECT_STREQ(e->location, "second at b.cpp line 20");
}

TEST(RasErrorTest, LongTextsAreCutAtTheirFields) {
  std::string longMessage(1500, 'm');
  RasSetLastError("f", "f.cpp", 1, 255, 0, "%s", longMessage.c_str());
  EXPECT_EQ(std::string(RasGetLastError()->message), std::string(1022, 'm'));

  // " :" and the description are cut so that the whole stays within 1023.
  RasSetLastError("f", "f.cpp", 1, 255, 2, "%s", longMessage.c_str());
  EXPECT_EQ(std::string(RasGetLastError()->message), std::string(1022, 'm') + " ");

  std::string longName(400, 'n');
  RasSetLastError(longName.c_str(), "f.cpp", 1, 255, 0, "x");
  std::string location = RasGetLastError()->location;
  EXPECT_EQ(location.size(), 254u);
  EXPECT_EQ(location, std::string(254, 'n'));
}

TEST(RasErrorTest, ThreadsKeepTheirOwnRecords) {
  RasSetLastError("main", "m.cpp", 1, 1, 0, "main thread");
  std::thread([] { RasSetLastError("other", "o.cpp", 2, 2, 0, "other thread"); }).join();
  EXPECT_STREQ(RasGetLastError()->message, "main thread");
}

TEST(RasErrorTest, RecordThatCannotBeAllocatedGivesTheFallback) {
  std::string rendered, after;
  std::thread([&] {
    RasUtil_FailAllocationsAfter(0);
    RasSetLastError("lost", "l.cpp", 1, 9, 0, "not recorded");
    rendered = Render(RasGetLastError());
    RasUtil_FailAllocationsAfter(-1);
    after = Render(RasGetLastError());
  }).join();
  EXPECT_EQ(rendered, "0xff: returns null pointer @RasGetLastError at RasError_win32.cpp line 52");
  // Once memory is there again, the thread gets its own (empty) record.
  EXPECT_EQ(after, "0x00:  @");
}

}  // namespace
