#include "platform/host/machine/RegFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace platform::host;

namespace {

const std::wstring kRoot = L"HKEY_LOCAL_MACHINE";

std::wstring AsText(const RegValue& v) {
  return std::wstring(reinterpret_cast<const wchar_t*>(v.data.data()), v.data.size() / sizeof(wchar_t));
}

bool Parse(const std::string& body, RegNode* root, std::string* error) {
  return ParseRegText("Windows Registry Editor Version 5.00\r\n\r\n" + body, kRoot, "t.reg", root, error);
}

TEST(RegFile, ParsesEveryValueForm) {
  RegNode root;
  std::string error;
  ASSERT_TRUE(
      Parse("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velk]\r\n"
            "@=\"default\"\r\n"
            "\"Str\"=\"C:\\\\Program Files\\\\velk \\\"q\\\" caf\xc3\xa9\"\r\n"
            "\"Num\"=dword:0000000a\r\n"
            "\"Bin\"=hex:00,9f,a0,\\\r\n"
            "  ff\r\n"
            "\"Exp\"=hex(2):25,00,41,00,25,00,00,00\r\n"
            "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
            "\"Q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
            "; a comment\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty]\r\n",
            &root, &error))
      << error;
  RegNode* velk = root.Child(L"SOFTWARE")->Child(L"velk");  // names compare without case
  ASSERT_NE(velk, nullptr);
  EXPECT_EQ(AsText(*velk->FindValue(L"")), std::wstring(L"default") + L'\0');
  EXPECT_EQ(AsText(*velk->FindValue(L"str")), std::wstring(L"C:\\Program Files\\velk \"q\" caf\u00e9") + L'\0');
  RegValue* num = velk->FindValue(L"Num");
  ASSERT_EQ(num->type, static_cast<DWORD>(REG_DWORD));
  DWORD n;
  std::memcpy(&n, num->data.data(), 4);
  EXPECT_EQ(n, 10u);
  EXPECT_THAT(velk->FindValue(L"Bin")->data, testing::ElementsAre(0x00, 0x9f, 0xa0, 0xff));
  EXPECT_EQ(velk->FindValue(L"Exp")->type, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(AsText(*velk->FindValue(L"Exp")), std::wstring(L"%A%") + L'\0');
  EXPECT_EQ(AsText(*velk->FindValue(L"Multi")), std::wstring(L"a\0b\0\0", 5));
  EXPECT_EQ(velk->FindValue(L"Q")->type, 11u);
  EXPECT_NE(root.Child(L"SOFTWARE")->Child(L"Empty"), nullptr);
}

TEST(RegFile, FormatRoundTrips) {
  RegNode root;
  RegNode* k = root.CreateChild(L"SOFTWARE")->CreateChild(L"Mixed Case");
  k->SetValue(L"s", MakeString(REG_SZ, L"a \"b\" \\c\\ \u65e5\u672c"));
  k->SetValue(L"", MakeString(REG_SZ, L"default"));
  k->SetValue(L"lines", MakeString(REG_SZ, L"one\r\ntwo"));
  k->SetValue(L"d", MakeDword(0xDEADBEEF));
  k->SetValue(L"m", MakeMultiString({L"x", L"y z"}));
  k->SetValue(L"e", MakeString(REG_EXPAND_SZ, L"%SystemDrive%\\Users"));
  RegValue raw;
  raw.type = REG_BINARY;
  raw.data = {1, 2, 3};
  k->SetValue(L"b", raw);
  RegValue none;
  none.type = REG_NONE;
  k->SetValue(L"n", none);
  root.CreateChild(L"SYSTEM");

  std::string text = FormatRegText(root, kRoot);
  EXPECT_THAT(text, testing::StartsWith("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n"));
  EXPECT_THAT(text, testing::HasSubstr("\"d\"=dword:deadbeef\r\n"));
  EXPECT_THAT(text, testing::HasSubstr("\"s\"=\"a \\\"b\\\" \\\\c\\\\ \xe6\x97\xa5\xe6\x9c\xac\"\r\n"));
  RegNode again;
  std::string error;
  ASSERT_TRUE(ParseRegText(text, kRoot, "x", &again, &error)) << error;
  EXPECT_EQ(FormatRegText(again, kRoot), text);
  EXPECT_EQ(AsText(*again.Child(L"SOFTWARE")->Child(L"MIXED CASE")->FindValue(L"lines")),
            std::wstring(L"one\r\ntwo") + L'\0');
}

TEST(RegFile, ErrorsNameTheFileAndLine) {
  struct Case {
    std::string body;
    std::string error;
  } cases[] = {
      {"\"v\"=\"x\"\r\n", "t.reg:3: value outside a key"},
      {"[HKEY_CURRENT_USER\\X]\r\n", "t.reg:3: key outside HKEY_LOCAL_MACHINE"},
      {"[HKEY_LOCAL_MACHINE\\X\r\n", "t.reg:3: unterminated key name"},
      {"[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=dword:123456789\r\n", "t.reg:4: dword needs 1 to 8 hex digits"},
      {"[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=hex:0g\r\n", "t.reg:4: bad byte '0g' in hex data"},
      {"[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=\"open\r\n", "t.reg:4: unterminated string value"},
      {"[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=-\r\n", "t.reg:4: value deletion entries are not supported in a hive file"},
      {"[-HKEY_LOCAL_MACHINE\\X]\r\n", "t.reg:3: key deletion entries are not supported in a hive file"},
      {"[HKEY_LOCAL_MACHINE\\X]\r\nv=1\r\n", "t.reg:4: expected a key in brackets or a \"name\"=value line"},
      {"[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=hex(7):61,00,00\r\n", "t.reg:4: string data with an odd number of bytes"},
      {"[HKEY_LOCAL_MACHINE\\X\\\\Y]\r\n", "t.reg:3: empty key name component"},
  };
  for (const auto& c : cases) {
    RegNode root;
    std::string error;
    EXPECT_FALSE(Parse(c.body, &root, &error)) << c.body;
    EXPECT_EQ(error, c.error) << c.body;
  }
  RegNode root;
  std::string error;
  EXPECT_FALSE(ParseRegText("REGEDIT4\r\n", kRoot, "old.reg", &root, &error));
  EXPECT_EQ(error, "old.reg:1: expected the header \"Windows Registry Editor Version 5.00\"");
}

TEST(RegFile, ContinuedHexIsJoinedInLinearTime) {
  // 2.5 MB of REG_BINARY as regedit writes it: 25 bytes a line, each line
  // continued. Joining by copying the joined text for every line took
  // minutes; one pass takes well under a second.
  const size_t kBytes = 2560 * 1024;
  std::string body = "[HKEY_LOCAL_MACHINE\\X]\r\n\"big\"=hex:";
  body.reserve(kBytes * 3 + kBytes / 25 * 6 + 64);
  for (size_t i = 0; i < kBytes; ++i) {
    body += "a5";
    if (i + 1 < kBytes) body += (i % 25 == 24) ? ",\\\r\n  " : ",";
  }
  body += "\r\n";
  RegNode root;
  std::string error;
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Parse(body, &root, &error)) << error;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(root.Child(L"X")->FindValue(L"big")->data, std::vector<uint8_t>(kBytes, 0xa5));
  EXPECT_LT(seconds, 5.0);
}

TEST(RegFile, ContinuedHexCountsItsFirstLine) {
  RegNode root;
  std::string error;
  EXPECT_FALSE(Parse("[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=hex:01,\\\r\n  02,\\\r\n  zz\r\n", &root, &error));
  EXPECT_EQ(error, "t.reg:4: bad byte 'zz' in hex data");
}

}  // namespace

namespace {

// Text that would not come back the same is refused with the file and the
// line, never replaced.
TEST(RegFileForms, TextInvalidInItsEncodingIsRefusedWithTheLine) {
  auto utf16 = [](const std::string& ascii, const std::string& units) {
    std::string out = "\xff\xfe";
    for (char c : ascii) out += {c, '\0'};
    return out + units;
  };
  const std::string head5 = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n";
  struct Case {
    const char* what;
    std::string bytes;
    UINT acp;
    std::string error;
  } cases[] = {
      {"UTF-8 name", head5 + "\"Caf\xe9\"=\"x\"\r\n", 1252,
       "b.reg:4: byte 0xE9 is not valid UTF-8; the file is left as it is"},
      {"UTF-8 value after a byte-order mark", "\xef\xbb\xbf" + head5 + "\"a\"=\"x\"\r\n\"b\"=\"\xc3\"\r\n", 1252,
       "b.reg:5: byte 0xC3 is not valid UTF-8; the file is left as it is"},
      {"UTF-8 surrogate", head5 + "\"\xed\xa0\x80\"=\"x\"\r\n", 1252,
       "b.reg:4: byte 0xED is not valid UTF-8; the file is left as it is"},
      {"REGEDIT4 in 1252", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\x81\"=\"x\"\r\n", 1252,
       "b.reg:4: byte 0x81 is not a character of code page 1252; the file is left as it is"},
      {"REGEDIT4 in 932", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=\"\x81\x20\"\r\n", 932,
       "b.reg:4: byte 0x81 is not a character of code page 932; the file is left as it is"},
      {"lone high surrogate", utf16(head5 + "\"a", std::string("\x00\xd8\"\0=\0\"\0x\0\"\0\r\0\n\0", 14)), 1252,
       "b.reg:4: a lone surrogate 0xD800 is not UTF-16; the file is left as it is"},
      {"lone low surrogate", utf16(head5 + "\"a", std::string("\x00\xdc\"\0=\0\"\0x\0\"\0\r\0\n\0", 14)), 1252,
       "b.reg:4: a lone surrogate 0xDC00 is not UTF-16; the file is left as it is"},
      {"lone surrogate in string data", head5 + "\"a\"=hex(2):00,d8,00,00\r\n", 1252,
       "b.reg:4: string data with a lone UTF-16 surrogate"},
      {"string data outside the code page", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=hex(2):81,00\r\n", 1252,
       "b.reg:4: string data not in code page 1252"},
  };
  for (const auto& c : cases) {
    RegNode root;
    RegFileForm form;
    std::string error;
    EXPECT_FALSE(ParseRegFileBytes(c.bytes, kRoot, "b.reg", c.acp, &root, &form, &error)) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
  // A surrogate pair and text valid in 932 are read.
  RegNode root;
  RegFileForm form;
  std::string error;
  EXPECT_TRUE(ParseRegFileBytes(utf16(head5 + "\"a", std::string("\x3d\xd8\x00\xde\"\0=\0\"\0x\0\"\0\r\0\n\0", 16)),
                                kRoot, "b.reg", 1252, &root, &form, &error))
      << error;
  EXPECT_TRUE(ParseRegFileBytes("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\X]\r\n\"a\"=\"\x82\xa0\"\r\n", kRoot, "b.reg",
                                932, &root, &form, &error))
      << error;
}

// Every .reg file kept in the tree (fixtures, fuzz seeds, real Wine exports)
// comes back byte for byte when read and written without a change; after a
// change it is written in this program's own layout.
TEST(RegFileForms, EveryRegFileInTheTreeIsWrittenBackByteForByte) {
  int files = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(VELK_SOURCE_DIR "/tests")) {
    if (entry.path().extension() != ".reg") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::wstring first = FirstRegKeyPath(bytes, 1252);
    std::wstring rootName = first.substr(0, first.find(L'\\'));
    RegNode root;
    RegFileForm form;
    std::string error;
    bool read = ParseRegFileBytes(bytes, rootName, entry.path().string(), 1252, &root, &form, &error);
    // Fuzz seeds may hold what a hive file refuses (deletion entries).
    if (!read && entry.path().string().find("/fuzz/") != std::string::npos) continue;
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(FormatRegFileBytes(root, rootName, form), bytes) << entry.path();
    root.SetValue(L"added", MakeDword(1));
    std::string changed = FormatRegFileBytes(root, rootName, form);
    EXPECT_NE(changed, bytes) << entry.path();
    RegNode again;
    RegFileForm againForm;
    ASSERT_TRUE(ParseRegFileBytes(changed, rootName, "changed.reg", 1252, &again, &againForm, &error)) << error;
    ASSERT_NE(again.FindValue(L"added"), nullptr) << entry.path();
    ++files;
  }
  EXPECT_GE(files, 9);
}

// One key with a string, an expandable string and a multi-string, in each
// form Windows writes; every form is read and written back byte for byte.
TEST(RegFileForms, ReadInEachFormAndWrittenBackAsRead) {
  const std::string body5 =
      "[HKEY_LOCAL_MACHINE]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xc3\xa9]\r\n"
      "\"N\xc3\xa4me\"=\"\xc3\xbc\"\r\n"
      "\"E\"=hex(2):25,00,e9,00,25,00,00,00\r\n"
      "\"M\"=hex(7):61,00,00,00,00,00\r\n\r\n";
  const std::string utf16 = std::string("\xff\xfe", 2) + [] {
    // The UTF-16LE form of the version 5.00 text: ASCII bytes widened,
    // the three non-ASCII letters (all below U+0100) likewise.
    const std::string latin1 =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE]\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xe9]\r\n"
        "\"N\xe4me\"=\"\xfc\"\r\n"
        "\"E\"=hex(2):25,00,e9,00,25,00,00,00\r\n"
        "\"M\"=hex(7):61,00,00,00,00,00\r\n\r\n";
    std::string out;
    for (char c : latin1) out += {c, '\0'};
    return out;
  }();
  const std::string regedit4 =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xe9]\r\n"
      "\"N\xe4me\"=\"\xfc\"\r\n"
      "\"E\"=hex(2):25,e9,25,00\r\n"
      "\"M\"=hex(7):61,00,00\r\n\r\n";
  struct Case {
    std::string bytes;
    RegEncoding encoding;
  } cases[] = {
      {"Windows Registry Editor Version 5.00\r\n\r\n" + body5, RegEncoding::kUtf8},
      {"\xef\xbb\xbfWindows Registry Editor Version 5.00\r\n\r\n" + body5, RegEncoding::kUtf8Bom},
      {utf16, RegEncoding::kUtf16Le},
      {regedit4, RegEncoding::kRegedit4},
  };
  for (const auto& c : cases) {
    RegNode root;
    RegFileForm form;
    std::string error;
    ASSERT_TRUE(ParseRegFileBytes(c.bytes, kRoot, "f.reg", 1252, &root, &form, &error)) << error;
    EXPECT_EQ(form.encoding, c.encoding);
    RegNode* key = root.Child(L"SOFTWARE")->Child(L"Caf\u00e9");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(AsText(*key->FindValue(L"N\u00e4me")), std::wstring(L"\u00fc") + L'\0');
    EXPECT_EQ(AsText(*key->FindValue(L"E")), std::wstring(L"%\u00e9%") + L'\0');
    EXPECT_EQ(AsText(*key->FindValue(L"M")), std::wstring(L"a\0\0", 3));
    EXPECT_EQ(FormatRegFileBytes(root, kRoot, form), c.bytes) << static_cast<int>(c.encoding);
  }
}

TEST(RegFileForms, Regedit4FollowsTheMachinesCodePage) {
  // Shift-JIS: the second byte of U+8868 is 0x5C, the backslash.
  const std::string sjis = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\\x95\x5c]\r\n\"v\"=\"\x93\xfa\"\r\n";
  RegNode root;
  RegFileForm form;
  std::string error;
  ASSERT_TRUE(ParseRegFileBytes(sjis, kRoot, "f.reg", 932, &root, &form, &error)) << error;
  RegNode* key = root.Child(L"\u8868");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(AsText(*key->FindValue(L"v")), std::wstring(L"\u65e5") + L'\0');
  EXPECT_EQ(form.acp, 932u);
  EXPECT_THAT(FormatRegFileBytes(root, kRoot, form), testing::HasSubstr("[HKEY_LOCAL_MACHINE\\\x95\x5c]\r\n"));
}

// Text a REGEDIT4 file's code page cannot hold is not turned into '?': the
// file is written as version 5.00 in UTF-16LE instead.
TEST(RegFileForms, Regedit4WithoutRoomForTheTextBecomesUtf16) {
  struct Case {
    RegValue value;
    bool fits;
  } cases[] = {
      {MakeString(REG_SZ, L"caf\u00e9"), true},
      {MakeString(REG_SZ, L"\u65e5\u672c"), false},
      {MakeString(REG_EXPAND_SZ, L"%\u65e5%"), false},
  };
  for (const auto& c : cases) {
    RegNode root;
    root.CreateChild(L"K")->SetValue(L"v", c.value);
    std::string bytes = FormatRegFileBytes(root, kRoot, RegFileForm{RegEncoding::kRegedit4, 1252, {}, {}});
    RegNode again;
    RegFileForm form;
    std::string error;
    ASSERT_TRUE(ParseRegFileBytes(bytes, kRoot, "f.reg", 1252, &again, &form, &error)) << error;
    EXPECT_EQ(form.encoding, c.fits ? RegEncoding::kRegedit4 : RegEncoding::kUtf16Le);
    EXPECT_EQ(again.Child(L"K")->FindValue(L"v")->data, c.value.data);
  }
}

TEST(RegFileForms, OtherEncodingsAreNamed) {
  const std::string expected =
      " is not a registry file (expected \"Windows Registry Editor Version 5.00\" in UTF-16LE with a byte-order "
      "mark or in UTF-8, or \"REGEDIT4\" in code page 1252)";
  struct Case {
    std::string bytes;
    std::string error;
  } cases[] = {
      {std::string("\xfe\xff\0W\0i", 6), "b.reg: UTF-16 big-endian" + expected},
      {std::string("\0W\0i", 4), "b.reg: UTF-16 big-endian" + expected},
      {std::string("W\0i\0", 4), "b.reg: UTF-16 without a byte-order mark" + expected},
      {std::string("\xff\xfe\0\0W\0\0\0", 8), "b.reg: UTF-32" + expected},
      {std::string("\xff\xfeW\0i", 5), "b.reg: UTF-16 with an odd number of bytes" + expected},
      {"[HKEY_LOCAL_MACHINE]\r\n", "b.reg:1: expected the header \"Windows Registry Editor Version 5.00\""},
      {"\xff\xfe" + std::string("R\0E\0G\0E\0D\0I\0T\0"
                                "4\0",
                                16),
       "b.reg:1: expected the header \"Windows Registry Editor Version 5.00\""},
  };
  for (const auto& c : cases) {
    RegNode root;
    RegFileForm form;
    std::string error;
    EXPECT_FALSE(ParseRegFileBytes(c.bytes, kRoot, "b.reg", 1252, &root, &form, &error));
    EXPECT_EQ(error, c.error);
  }
}

std::string Chain(size_t levels, const std::string& name) {
  std::string path = "HKEY_LOCAL_MACHINE";
  for (size_t i = 0; i < levels; ++i) path += "\\" + name;
  return path;
}

std::string Repeat(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

TEST(RegFileLimits, WindowsLimitsAreRefusedWithTheLine) {
  struct Case {
    std::string body;
    std::string error;  // empty: accepted
  } cases[] = {
      {"[" + Chain(512, "k") + "]\r\n", ""},
      {"[" + Chain(513, "k") + "]\r\n", "t.reg:3: key deeper than 512 levels"},
      {"[" + Chain(600, "k") + "]\r\n", "t.reg:3: key deeper than 512 levels"},
      {"\r\n[" + Chain(100000, "k") + "]\r\n\"v\"=\"1\"\r\n", "t.reg:4: key deeper than 512 levels"},
      {"[" + Chain(1, std::string(255, 'n')) + "]\r\n", ""},
      {"[" + Chain(1, std::string(256, 'n')) + "]\r\n", "t.reg:3: key name longer than 255 characters"},
      // Windows counts UTF-16 units: U+1F600 is two of them.
      {"[" + Chain(1, Repeat("\xf0\x9f\x98\x80", 127) + "n") + "]\r\n", ""},
      {"[" + Chain(1, Repeat("\xf0\x9f\x98\x80", 128)) + "]\r\n", "t.reg:3: key name longer than 255 characters"},
      {"[HKEY_LOCAL_MACHINE\\K]\r\n\"" + Repeat("\xf0\x9f\x98\x80", 8192) + "\"=\"\"\r\n",
       "t.reg:4: value name longer than 16383 characters"},
      {"[HKEY_LOCAL_MACHINE\\K]\r\n\"" + std::string(16383, 'v') + "\"=\"\"\r\n", ""},
      {"[HKEY_LOCAL_MACHINE\\K]\r\n\"" + std::string(16384, 'v') + "\"=\"\"\r\n",
       "t.reg:4: value name longer than 16383 characters"},
  };
  for (const auto& c : cases) {
    RegNode root;
    std::string error;
    EXPECT_EQ(Parse(c.body, &root, &error), c.error.empty()) << c.body.size();
    EXPECT_EQ(error, c.error);
  }
}

// Deep trees are written and freed without recursion, and only the keys that
// carry something are written out, so the text stays as long as the input.
TEST(RegFileLimits, DeepTreesAreWrittenInLinearSpace) {
  for (size_t levels : {600u, 100000u}) {
    auto root = std::make_unique<RegNode>();
    RegNode* node = root.get();
    for (size_t i = 0; i < levels; ++i) node = node->CreateChild(L"k");
    node->SetValue(L"v", MakeDword(1));
    std::string text = FormatRegText(*root, kRoot);
    EXPECT_EQ(text, "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[" + Chain(levels, "k") +
                        "]\r\n\"v\"=dword:00000001\r\n\r\n");
    root.reset();
  }
}

}  // namespace
