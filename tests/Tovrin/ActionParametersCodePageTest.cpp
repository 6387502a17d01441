// Parameter names through the machine's ANSI code page (a host machine).
#include "ActionParameters.h"

#include <gtest/gtest.h>

#include "support/TempMachine.h"

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

TEST(ParseActionParameters, NamesConvertThroughTheAnsiCodePage) {
  velk_test::TempMachine machine;  // acp 1252
  Parsed p = Parse(L"/caf\u00e9=1 /\u4e2d=2");
  ASSERT_EQ(p.hr, S_OK);
  EXPECT_EQ(p.params.Get("caf\xe9"), L"1");
  EXPECT_EQ(p.params.Get("?"), L"2");  // not in code page 1252
}

}  // namespace
