// The log's wide arguments in the machine's ANSI code page (host machines
// of several code pages).
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Log.h"
#include "support/LogFixture.h"
#include "support/TempMachine.h"

namespace {

using velk_test::LogFixture;

TEST_F(LogFixture, WideArgumentsAreWrittenInTheMachinesCodePage) {
  const struct {
    const char* acp;
    const wchar_t* text;
    const char* bytes;
  } cases[] = {
      {"1252", L"\u00fc", "\xFC"},
      {"932", L"\u65e5\u672c", "\x93\xFA\x96\x7B"},
      {"1252", L"\u65e5", "?"},
      {"65001", L"\u00fc", "\xC3\xBC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.acp);
    velk_test::TempMachine machine(std::string("[machine]\nacp=") + c.acp + "\n");
    installer.messages.clear();
    Log(Banner, "[%ls]", c.text);
    Log(Banner, "[%S]", c.text);
    EXPECT_THAT(installer.Lines(),
                testing::ElementsAre(std::string("[") + c.bytes + "]", std::string("[") + c.bytes + "]"));
  }
  // Widths and precisions count the converted bytes; the other conversions
  // keep their printf meaning.
  velk_test::TempMachine machine("[machine]\nacp=1252\n");
  installer.messages.clear();
  Log(Banner, "%-3ls|%.1ls|%lc|%*d|%5.2f|%s|%zu|%llx|%c|%%", L"\u00fc", L"\u00fcx", static_cast<wint_t>(L'\u00fc'), 4,
      -3, 1.5, "n", size_t{7}, 0xabcULL, 'z');
  EXPECT_THAT(installer.Lines(), testing::ElementsAre("\xFC  |\xFC|\xFC|  -3| 1.50|n|7|abc|z|%"));
}

}  // namespace
