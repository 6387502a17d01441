// Input no installer writes: zero bytes, broken UTF-16, endless lines and
// actions, and every test log cut into pieces of any size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LogDecoder.h"
#include "LogFiles.h"
#include "MsiLogSummary.h"

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

std::string Utf16(const std::vector<unsigned>& units) {
  std::string out = "\xFF\xFE";
  for (unsigned u : units) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

struct Broken {
  const char* what;
  std::string bytes;
  std::vector<std::string> lines;
};

void PrintTo(const Broken& b, std::ostream* out) { *out << b.what; }

class BrokenText : public ::testing::TestWithParam<Broken> {};

TEST_P(BrokenText, DecodesToReplacementCharacters) { EXPECT_EQ(msilog::DecodeLog(GetParam().bytes), GetParam().lines); }

INSTANTIATE_TEST_SUITE_P(
    Bytes, BrokenText,
    ::testing::Values(
        Broken{"zero byte in ANSI text",
               std::string("Action start 10:00:00: a\0b.\n", 28),
               {"Action start 10:00:00: a" + kReplacement + "b."}},
        Broken{"zero unit in UTF-16", Utf16({'a', 0, 'b', '\n'}), {"a" + kReplacement + "b"}},
        Broken{"lone high surrogate before a letter", Utf16({'a', 0xD83D, 'b'}), {"a" + kReplacement + "b"}},
        Broken{"lone high surrogate at the end", Utf16({'a', 0xD83D}), {"a" + kReplacement}},
        Broken{"lone low surrogate", Utf16({'a', 0xDE00, 'b'}), {"a" + kReplacement + "b"}},
        Broken{
            "two high surrogates, then a pair", Utf16({0xD83D, 0xD83D, 0xDE00}), {kReplacement + "\xF0\x9F\x98\x80"}},
        Broken{"odd length: half a unit at the end", Utf16({'a', 'b'}) + "c", {"ab" + kReplacement}},
        Broken{"byte order mark only", "\xFF\xFE", {}}, Broken{"one byte", "x", {"x"}}));

// A line longer than the reader takes is cut there; the next line is whole.
TEST(HostileInput, OverlongLineIsCut) {
  const std::string bytes = std::string(3 * msilog::LogDecoder::kMaxLine, 'x') + "\nnext\n";
  const std::vector<std::string> lines = msilog::DecodeLog(bytes);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), msilog::LogDecoder::kMaxLine);
  EXPECT_EQ(lines[1], "next");
  // In UTF-16 no character is cut in half.
  std::vector<unsigned> units(msilog::LogDecoder::kMaxLine, 0x20AC);
  units.push_back('\n');
  const std::vector<std::string> wide = msilog::DecodeLog(Utf16(units));
  ASSERT_EQ(wide.size(), 1u);
  EXPECT_LE(wide[0].size(), msilog::LogDecoder::kMaxLine);
  EXPECT_EQ(wide[0].size() % 3, 0u);
}

// Every log, in UTF-16 and as it is, gives the same summary however its
// bytes are cut into pieces (a UTF-16 unit or surrogate pair cut between
// two reads included).
TEST(HostileInput, PiecesOfAnySizeGiveTheSameSummary) {
  for (const char* name : {"windows-deferred.log", "windows-de-install.log", "windows-ja-deferred.log",
                           "wine-removal.log", "wine-ja-removal.log", "wine-deferred-failure.log"}) {
    for (const std::string& bytes : {ReadBytes(kData / name), AsWindowsFile(ReadBytes(kData / name))}) {
      msilog::LogReader whole;
      whole.Feed(bytes.data(), bytes.size());
      const std::string expected = msilog::Format(whole.Finish());
      for (std::size_t piece : {1u, 3u, 511u, 513u}) {
        msilog::LogReader reader;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
          reader.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
        }
        EXPECT_EQ(msilog::Format(reader.Finish()), expected) << name << " in pieces of " << piece;
      }
    }
  }
}

std::string Repeat(const std::string& line, std::size_t times) {
  std::string out;
  out.reserve(line.size() * times);
  for (std::size_t i = 0; i < times; ++i) out += line;
  return out;
}

msilog::Summary Read(const std::string& bytes) {
  msilog::LogReader reader;
  reader.Feed(bytes.data(), bytes.size());
  return reader.Finish();
}

// What a summary holds is bounded whatever the log repeats: starts that
// never end (each one once nested in the last), kit actions without end,
// E lines without end.
TEST(HostileInput, SummaryIsBounded) {
  const msilog::Summary starts =
      Read(Repeat("Action start 10:00:00: Tovrin_X.\n", 100000) + "Action ended 10:00:01: Tovrin_X. Return value 1.\n");
  ASSERT_EQ(starts.actions.size(), 1u);
  EXPECT_EQ(starts.actions[0].runs.size(), 16u);
  EXPECT_EQ(starts.actions[0].droppedRuns, 100000u - 16u);
  EXPECT_NE(msilog::Format(starts).find("  (99984 more runs not shown)\n"), std::string::npos);

  // Each one ends too, the ones past the summary's room included.
  std::string names;
  for (int i = 0; i < 1000; ++i) {
    const std::string name = "Tovrin_" + std::to_string(i);
    names += "Action start 10:00:00: " + name + ".\nAction ended 10:00:01: " + name + ". Return value 1.\n";
  }
  const msilog::Summary many = Read(names);
  EXPECT_EQ(many.actions.size(), 64u);
  EXPECT_TRUE(many.moreActions);
  EXPECT_EQ(many.actions[63].runs.size(), 1u);
  EXPECT_NE(msilog::Format(many).find("(more kit actions than shown)\n"), std::string::npos);

  const msilog::Summary lines =
      Read("Action start 10:00:00: Tovrin_X.\n" + Repeat("1: 2026-12-09 10:22:31.210 00000A10 E broken \n", 1000));
  ASSERT_EQ(lines.actions.size(), 1u);
  EXPECT_EQ(lines.actions[0].problems.texts.size(), msilog::Lines::kMax);
  EXPECT_EQ(lines.actions[0].problems.dropped, 1000u - msilog::Lines::kMax);
  EXPECT_NE(msilog::Format(lines).find("  (968 more not shown)\n"), std::string::npos);
}

// Zero bytes all through (a device such as /dev/zero, or a damaged file):
// no installer log, and no line over the limit.
TEST(HostileInput, ZerosAreNoLog) {
  const std::string zeros(1 << 20, '\0');
  std::size_t longest = 0, count = 0;
  msilog::LogDecoder decoder([&](std::string_view line) {
    longest = std::max(longest, line.size());
    ++count;
  });
  decoder.Feed(zeros.data(), zeros.size());
  decoder.Finish();
  EXPECT_EQ(count, 1u);
  EXPECT_LE(longest, msilog::LogDecoder::kMaxLine);
  EXPECT_FALSE(Read(zeros).recognised);
}

}  // namespace
