#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/LastError.h"
#include "platform/StringTable.h"
#include "platform/UserDialog.h"
#include "support/TempMachine.h"

namespace {

const platform::StringTableEntry kEntries[] = {
    {103, 0x0409, L"english"},
    {103, 0x0411, L"japanese"},
    {104, 0x0411, L"only japanese"},
};
const platform::StringTableRef kTable = {kEntries, kEntries, 3};

std::wstring Load(UINT language, UINT id) {
  velk_test::TempMachine machine("[machine]\nui_language=" + std::to_string(language) + "\n");
  std::wstring text;
  int n = platform::StringTable::Default().LoadText(kTable, id, &text);
  if (n == 0) return L"<error " + std::to_wstring(platform::GetLastErrorCode()) + L">";
  EXPECT_EQ(n, static_cast<int>(text.size()));
  return text;
}

TEST(HostStringTable, TheUserInterfaceLanguageThenTheWindowsFallbacks) {
  EXPECT_EQ(Load(1033, 103), L"english");
  EXPECT_EQ(Load(1041, 103), L"japanese");
  EXPECT_EQ(Load(2057, 103), L"english");  // English (UK): same primary language
  EXPECT_EQ(Load(1031, 103), L"english");  // German: English (US)
  EXPECT_EQ(Load(1033, 104), L"only japanese");
  EXPECT_EQ(Load(1033, 105), L"<error 1814>");
}

TEST(HostUserDialog, WritesToStandardErrorAndAnswersOk) {
  // Not a terminal: the box does not wait.
  int saved = ::dup(0);
  FILE* null = std::fopen("/dev/null", "r");
  ::dup2(::fileno(null), 0);
  testing::internal::CaptureStderr();
  int answer = platform::UserDialog::Default().ShowMessage(nullptr, L"Exit \u30a2 now.", L"velk-access", MB_OK);
  std::string err = testing::internal::GetCapturedStderr();
  ::dup2(saved, 0);
  ::close(saved);
  std::fclose(null);
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(err, "[velk-access] Exit \xE3\x82\xA2 now.\n");
}

// The generator of host string tables, on scripts of its own.
class RcStrings : public testing::Test {
 protected:
  int Run(const std::string& rc, std::string* output) {
    std::string dir = machine.Root().string();
    std::ofstream(dir + "/in.rc", std::ios::binary) << rc;
    std::string command =
        std::string(VELK_BINARY_DIR) + "/rc-strings " + dir + "/in.rc " + dir + "/out.cpp kT 2>" + dir + "/err.txt";
    int status = std::system(command.c_str());
    std::ifstream in(dir + (status == 0 ? "/out.cpp" : "/err.txt"));
    std::stringstream s;
    s << in.rdbuf();
    *output = s.str();
    return status;
  }
  velk_test::TempMachine machine;
};

TEST_F(RcStrings, EscapesAndLanguages) {
  std::string out;
  ASSERT_EQ(Run("#pragma code_page(65001)\n// note\nLANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\nSTRINGTABLE\n{\n"
                "  7, \"say \"\"hi\"\"\\n\\\\ok\"\n  0x10 \"x\"  // sixteen\n}\n"
                "LANGUAGE 0x11, 1\nSTRINGTABLE DISCARDABLE\nBEGIN\n  7 \"\xE3\x82\xA2\"\n  16 \"y\"\nEND\n",
                &out),
            0);
  EXPECT_NE(out.find("{7, 0x0409, L\"say \\\"hi\\\"\\U0000000A\\\\ok\"},"), std::string::npos) << out;
  EXPECT_NE(out.find("{16, 0x0409, L\"x\"},"), std::string::npos) << out;
  EXPECT_NE(out.find("{7, 0x0411, L\"\\U000030A2\"},"), std::string::npos) << out;
  EXPECT_NE(out.find("extern const platform::StringTableRef kT = {kEntries, kEntries, 4};"), std::string::npos);
}

TEST_F(RcStrings, MistakesAreErrorsWithTheLine) {
  std::string err;
  EXPECT_NE(Run("LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\nSTRINGTABLE\nBEGIN\n 1 \"a\"\nEND\n"
                "LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT\nSTRINGTABLE\nBEGIN\n 2 \"b\"\nEND\n",
                &err),
            0);
  EXPECT_NE(err.find("string 1 is in language 0x0409 but not in 0x0411"), std::string::npos) << err;
  EXPECT_NE(Run("LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\nSTRINGTABLE\nBEGIN\n 1 \"a\n", &err), 0);
  EXPECT_NE(err.find("in.rc:4: error: unterminated string"), std::string::npos) << err;
  EXPECT_NE(Run("LANGUAGE LANG_KLINGON, 1\n", &err), 0);
  EXPECT_NE(err.find("in.rc:1: error: unknown language name LANG_KLINGON"), std::string::npos) << err;
  EXPECT_NE(Run("LANGUAGE 9, 1\nSTRINGTABLE\nBEGIN\n IDS_X \"a\"\nEND\n", &err), 0);
  EXPECT_NE(err.find("string id must be a number"), std::string::npos) << err;
}

}  // namespace
