#include "ActionLine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Shape {
  const char* line;
  bool parsed;
  msilog::ActionLine::Kind kind;
  const char* words;
  const char* name;
  const char* value;
};

void PrintTo(const Shape& shape, std::ostream* out) { *out << shape.line; }

class ActionLines : public ::testing::TestWithParam<Shape> {};

TEST_P(ActionLines, Shape) {
  const Shape& want = GetParam();
  msilog::ActionLine got;
  ASSERT_EQ(msilog::ParseActionLine(want.line, got), want.parsed);
  if (!want.parsed) return;
  EXPECT_EQ(got.kind, want.kind);
  EXPECT_EQ(got.words, want.words);
  EXPECT_EQ(got.name, want.name);
  EXPECT_EQ(got.value, want.value);
}

using K = msilog::ActionLine::Kind;

INSTANTIATE_TEST_SUITE_P(
    Lines, ActionLines,
    ::testing::Values(
        Shape{"Action start 10:22:31: Tovrin_CheckRasExec.", true, K::kStart, "Action start ", "Tovrin_CheckRasExec",
              ""},
        Shape{"Action ended 10:22:31: Tovrin_CheckRasExec. Return value 1.", true, K::kEnd, "Action ended ",
              "Tovrin_CheckRasExec", "1"},
        Shape{"Action ended 10:22:31: X. Return value -1.", true, K::kEnd, "Action ended ", "X", "-1"},
        // The description line, with a text and with none (a space stays).
        Shape{"Action 11:14:00: AppSearch. Searching for installed applications", true, K::kText, "Action ",
              "AppSearch", ""},
        Shape{"Action 11:14:00: SetTargetDir. ", true, K::kText, "Action ", "SetTargetDir", ""},
        Shape{"Aktion gestartet um 10:22:31: INSTALL.", true, K::kStart, "Aktion gestartet um ", "INSTALL", ""},
        Shape{"Aktion beendet um 10:22:31: INSTALL. R\xC3\xBC"
              "ckgabewert 3.",
              true, K::kEnd, "Aktion beendet um ", "INSTALL", "3"},
        // Japanese in UTF-8 (from UTF-16) and in code page 932; one-digit hours.
        Shape{"\xE6\x93\x8D\xE4\xBD\x9C\xE7\xB5\x82\xE4\xBA\x86 5:30:37: InstallFinalize\xE3\x80\x82 "
              "\xE6\x88\xBB\xE3\x82\x8A\xE5\x80\xA4 3\xE3\x80\x82",
              true, K::kEnd, "\xE6\x93\x8D\xE4\xBD\x9C\xE7\xB5\x82\xE4\xBA\x86 ", "InstallFinalize", "3"},
        Shape{"\x83\x41\x83\x4E\x83\x56\x83\x87\x83\x93\x8A\x4A\x8E\x6E 11:14:00: INSTALL\x81\x42", true, K::kStart,
              "\x83\x41\x83\x4E\x83\x56\x83\x87\x83\x93\x8A\x4A\x8E\x6E ", "INSTALL", ""},
        Shape{"\x83\x41\x83\x4E\x83\x56\x83\x87\x83\x93\x8F\x49\x97\xB9 11:14:00: INSTALL\x81\x42 \x96\xDF\x82\xE8"
              "\x92\x6C 1\x81\x42",
              true, K::kEnd, "\x83\x41\x83\x4E\x83\x56\x83\x87\x83\x93\x8F\x49\x97\xB9 ", "INSTALL", "1"},
        // A name may hold full stops of its own.
        Shape{"Action start 10:00:00: A.B.", true, K::kStart, "Action start ", "A.B", ""},
        // Not action lines: the engine's and the kit's lines, no full stop,
        // no name, no words before the time.
        Shape{"MSI (s) (7C:48) [10:22:31:200]: Doing action: X.", false, K::kText, "", "", ""},
        Shape{"1: 2026-12-09 10:22:31.210 00000A10 I CheckRasExec - enter 10:22:31: X.", false, K::kText, "", "", ""},
        Shape{"Action start 10:22:31: Tovrin_CheckRasExec", false, K::kText, "", "", ""},
        Shape{"Action start 10:22:31: .", false, K::kText, "", "", ""},
        Shape{"10:22:31: X.", false, K::kText, "", "", ""}, Shape{"", false, K::kText, "", "", ""},
        Shape{"Action start 1:2:3: X.", false, K::kText, "", "", ""}));

}  // namespace
