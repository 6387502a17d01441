#include "platform/host/RegFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

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
  ASSERT_TRUE(Parse("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velk]\r\n"
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

TEST(RegFile, ContinuedHexCountsItsFirstLine) {
  RegNode root;
  std::string error;
  EXPECT_FALSE(Parse("[HKEY_LOCAL_MACHINE\\X]\r\n\"v\"=hex:01,\\\r\n  02,\\\r\n  zz\r\n", &root, &error));
  EXPECT_EQ(error, "t.reg:4: bad byte 'zz' in hex data");
}

}  // namespace
