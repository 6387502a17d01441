#include "Log.h"

#include <cstdio>
#include <cstring>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/Port.h"
#include "platform/SystemMessages.h"
#include "support/FakeClock.h"
#include "support/FakeInstaller.h"
#include "support/LogFixture.h"

namespace {

using velk_test::LogFixture;

TEST_F(LogFixture, LineFormatWithPrefix) {
  Log(Info, "InstallDevice - enter");
  Log(Error, "code %d", 5);
  Log(Warning, "w");
  EXPECT_THAT(installer.Lines(), testing::ElementsAre("2024-05-17 09:03:07.042 00001A2C I InstallDevice - enter",
                                                      "2024-05-17 09:03:07.042 00001A2C E code 5",
                                                      "2024-05-17 09:03:07.042 00001A2C W w"));
  EXPECT_EQ(installer.messages.front().first, velk_test::FakeInstaller::kSession);
  EXPECT_EQ(installer.messages.front().second.type, INSTALLMESSAGE_INFO);
  EXPECT_EQ(installer.openRecords, 0u);
}

TEST_F(LogFixture, BannerHasNoPrefix) {
  Log(Banner, "####### Tovrin log PID=%08x #######", 0x1F4u);
  EXPECT_THAT(installer.Lines(), testing::ElementsAre("####### Tovrin log PID=000001f4 #######"));
}

TEST_F(LogFixture, LineEndings) {
  Log(Info, "a\r\n");
  Log(Info, "a");
  Log(Info, "b\n");
  Log(Banner, "\r\n");
  Log(Banner, "%s", "");
  EXPECT_THAT(installer.Lines(),
              testing::ElementsAre("2024-05-17 09:03:07.042 00001A2C I a", "2024-05-17 09:03:07.042 00001A2C I a",
                                   "2024-05-17 09:03:07.042 00001A2C I b\n", "", ""));
}

TEST_F(LogFixture, ThresholdDecides) {
  Log(1354, "too verbose");
  g_logger.m_threshold = 0;
  Log(Error, "hidden");
  Log(Banner, "shown");
  EXPECT_THAT(installer.Lines(), testing::ElementsAre("shown"));
}

TEST_F(LogFixture, LongMessagesAreCutToTheRoom) {
  std::string big(5000, 'x');
  Log(Info, "%s", big.c_str());
  Log(Banner, "%s", big.c_str());
  g_logger.WriteText(Info, big.c_str());
  auto lines = installer.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].size(), 1020u);  // 35 of prefix, 985 of message
  EXPECT_EQ(lines[1].size(), 1020u);
  EXPECT_EQ(lines[2].size(), 1020u);
  EXPECT_EQ(lines[0].substr(35), std::string(985, 'x'));
}

TEST_F(LogFixture, TextIsNeverAFormat) {
  g_logger.WriteText(Error, "100% sure %s %n %1");
  Log(Info, "%s", "%d%%");
  EXPECT_THAT(installer.Lines(), testing::ElementsAre("2024-05-17 09:03:07.042 00001A2C E 100% sure %s %n %1",
                                                      "2024-05-17 09:03:07.042 00001A2C I %d%%"));
}

TEST_F(LogFixture, ScopeWritesEnterAndLeaveOnEveryPath) {
  auto early = [](bool leave) {
    CLogScope scope(g_logger, Info, "CTovrinModule::Thing");
    if (leave) return 1;
    Log(Info, "middle");
    return 0;
  };
  early(true);
  early(false);
  EXPECT_THAT(installer.Lines(),
              testing::ElementsAre(testing::EndsWith("I CTovrinModule::Thing - enter"),
                                   testing::EndsWith("I CTovrinModule::Thing - leave"),
                                   testing::EndsWith("I CTovrinModule::Thing - enter"), testing::EndsWith("I middle"),
                                   testing::EndsWith("I CTovrinModule::Thing - leave")));
}

TEST_F(LogFixture, ScopeWithAPercentInItsName) {
  { CLogScope scope(g_logger, Info, "50%s"); }
  EXPECT_THAT(installer.Lines(),
              testing::ElementsAre(testing::EndsWith(" I 50%s - enter"), testing::EndsWith(" I 50%s - leave")));
}

TEST_F(LogFixture, NoHandleMeansNoSession) {
  g_logger.m_hInstall = 0;
  Log(Info, "x");
  ASSERT_EQ(installer.messages.size(), 1u);
  EXPECT_EQ(installer.messages[0].first, 0u);
}

TEST(ErrorText, SystemTextThenTheWholeHresult) {
  EXPECT_EQ(ErrorText(static_cast<HRESULT>(0x80070005)), "Access is denied. (0x80070005)");
  EXPECT_EQ(ErrorText(E_INVALIDARG), "The parameter is incorrect. (0x80070057)");
  EXPECT_EQ(ErrorText(static_cast<HRESULT>(0x8000400E)), "(0x8000400e)");
}

class ScriptedMessages : public platform::SystemMessages {
 public:
  DWORD Format(DWORD flags, platform::MessageModule module, DWORD id, DWORD language, char* buffer,
               DWORD size) override {
    calls.push_back({flags, module, id, language, size});
    if (module != answerFrom) return 0;
    std::snprintf(buffer, size, "%s", text);
    return static_cast<DWORD>(std::strlen(text));
  }
  struct Call {
    DWORD flags;
    platform::MessageModule module;
    DWORD id, language, size;
  };
  std::vector<Call> calls;
  platform::MessageModule answerFrom = platform::MessageModule::Setupapi;
  const char* text = "Setup %1 text ";
};

TEST(ErrorText, FallsBackToNewdevThenSetupapi) {
  ScriptedMessages messages;
  platform::ScopedPort<platform::SystemMessages> use(messages);
  EXPECT_EQ(ErrorText(static_cast<HRESULT>(0xE000020B)), "Setup %1 text (0xe000020b)");
  ASSERT_EQ(messages.calls.size(), 3u);
  EXPECT_EQ(messages.calls[0].module, platform::MessageModule::Kernel32);
  EXPECT_EQ(messages.calls[1].module, platform::MessageModule::Newdev);
  EXPECT_EQ(messages.calls[2].module, platform::MessageModule::Setupapi);
  for (const auto& c : messages.calls) {
    EXPECT_EQ(c.flags, 0x1AFFu);
    EXPECT_EQ(c.id, 0x020Bu);
    EXPECT_EQ(c.language, 0x0409u);
    EXPECT_EQ(c.size, 1024u);
  }
}

TEST(ErrorText, NoModuleKnowsTheCode) {
  ScriptedMessages messages;
  messages.answerFrom = platform::MessageModule::None;
  platform::ScopedPort<platform::SystemMessages> use(messages);
  EXPECT_EQ(ErrorText(E_FAIL), "(0x80004005)");
}

}  // namespace
