#include "ActionParameters.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
  HRESULT hr;
  CActionParameters params;
};

Parsed Parse(const std::wstring& text) {
  Parsed p;
  p.hr = ParseActionParameters(text, p.params);
  return p;
}

TEST(ParseActionParameters, QuotedAndUnquotedValues) {
  Parsed p = Parse(L"/inf=\"C:\\x y\\a.inf\" /hwid=root\\vnet");
  ASSERT_EQ(p.hr, S_OK);
  EXPECT_EQ(p.params.Get("inf"), L"C:\\x y\\a.inf");
  EXPECT_EQ(p.params.Get("hwid"), L"root\\vnet");
  EXPECT_EQ(p.params.Size(), 2u);
}

TEST(ParseActionParameters, EmptyTextsGiveAnEmptyMap) {
  for (const wchar_t* text : {L"", L"   "}) {
    Parsed p = Parse(text);
    EXPECT_EQ(p.hr, S_OK);
    EXPECT_EQ(p.params.Size(), 0u);
  }
}

TEST(ParseActionParameters, EmptyValues) {
  Parsed a = Parse(L"/a=");
  ASSERT_EQ(a.hr, S_OK);
  EXPECT_TRUE(a.params.Has("a"));
  EXPECT_EQ(a.params.Get("a"), L"");
  Parsed b = Parse(L"/a= /b=1");
  ASSERT_EQ(b.hr, S_OK);
  EXPECT_EQ(b.params.Get("a"), L"");
  EXPECT_EQ(b.params.Get("b"), L"1");
  Parsed c = Parse(L"/a=\"\"");
  ASSERT_EQ(c.hr, S_OK);
  EXPECT_TRUE(c.params.Has("a"));
  EXPECT_EQ(c.params.Get("a"), L"");
}

TEST(ParseActionParameters, MalformedTextsFail) {
  for (const wchar_t* text :
       {L"/a", L"/a=\"x", L"x/a=1", L"/a=\"x\"y", L"/a=1 \t/b=2", L"\t", L"/a=1 b", L"/", L"/a=\"x\" /b"}) {
    CActionParameters params;
    EXPECT_EQ(ParseActionParameters(text, params), E_INVALIDARG) << text;
  }
}

TEST(ParseActionParameters, ItemsBeforeAFaultStay) {
  Parsed p = Parse(L"/a=1 /b");
  EXPECT_EQ(p.hr, E_INVALIDARG);
  EXPECT_EQ(p.params.Get("a"), L"1");
}

TEST(ParseActionParameters, NamesAreTakenAsWritten) {
  Parsed p = Parse(L"/a b=1 /a=1 /a=2 /A=3 /x/y=4 /q\"=5");
  ASSERT_EQ(p.hr, S_OK);
  EXPECT_EQ(p.params.Get("a b"), L"1");
  EXPECT_EQ(p.params.Get("a"), L"2");
  EXPECT_EQ(p.params.Get("A"), L"3");
  EXPECT_EQ(p.params.Get("x/y"), L"4");
  EXPECT_EQ(p.params.Get("q\""), L"5");
}

TEST(ParseActionParameters, CharactersBeforeAQuoteAreDropped) {
  Parsed p = Parse(L"/a=x\"y z\"");
  ASSERT_EQ(p.hr, S_OK);
  EXPECT_EQ(p.params.Get("a"), L"y z");
}

TEST(ParseActionParameters, QuotedValuesHoldSlashesAndEquals) {
  Parsed p = Parse(L"/u=\"https://h/p?a=b /c\"   /v==x");
  ASSERT_EQ(p.hr, S_OK);
  EXPECT_EQ(p.params.Get("u"), L"https://h/p?a=b /c");
  EXPECT_EQ(p.params.Get("v"), L"=x");
}

TEST(ParseActionParameters, TextEndsAtAnEmbeddedNull) {
  std::wstring text = L"/a=1";
  text.push_back(L'\0');
  text += L"garbage";
  Parsed p = Parse(text);
  ASSERT_EQ(p.hr, S_OK);
  EXPECT_EQ(p.params.Get("a"), L"1");
}

TEST(ParseActionParameters, LongTextsParseWhole) {
  std::wstring value(3'000'000, L'v');
  Parsed p = Parse(L"/big=\"" + value + L"\" /small=s");
  ASSERT_EQ(p.hr, S_OK);
  EXPECT_EQ(p.params.Get("big").size(), value.size());
  EXPECT_EQ(p.params.Get("small"), L"s");
}

}  // namespace
