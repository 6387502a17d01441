#include "platform/UniqueHandle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/Processes.h"
#include "platform/Token.h"

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

HANDLE H(intptr_t v) { return reinterpret_cast<HANDLE>(v); }

class ClosingToken : public platform::Token {
 public:
  BOOL OpenProcessToken(DWORD, HANDLE* token) override {
    *token = H(next++);
    return TRUE;
  }
  BOOL LookupPrivilege(const wchar_t*, LUID*) override { return FALSE; }
  BOOL AdjustTokenPrivileges(HANDLE, const LUID&, DWORD) override { return FALSE; }
  BOOL CloseToken(HANDLE token) override {
    closed.push_back(reinterpret_cast<intptr_t>(token));
    return result;
  }
  intptr_t next = 1;
  std::vector<intptr_t> closed;
  BOOL result = TRUE;
};

TEST(UniqueHandle, ClosesWhatItHoldsOnceThroughThePort) {
  ClosingToken port;
  platform::ScopedPort<platform::Token> use(port);
  {
    platform::TokenHandle a;
    EXPECT_FALSE(a);
    port.OpenProcessToken(0, a.Put());
    port.OpenProcessToken(0, a.Put());  // the first is closed before the second comes
    EXPECT_THAT(port.closed, ElementsAre(1));
    platform::TokenHandle b(std::move(a));
    EXPECT_FALSE(a);
    EXPECT_EQ(b.Get(), H(2));
    platform::TokenHandle c(H(3));
    c = std::move(b);
    EXPECT_THAT(port.closed, ElementsAre(1, 3));
    EXPECT_EQ(c.Release(), H(2));
    EXPECT_FALSE(c);
    platform::TokenHandle d(H(4));
    port.result = FALSE;
    EXPECT_EQ(d.Close(), FALSE);  // the close call's own result
    EXPECT_FALSE(d);
  }
  EXPECT_THAT(port.closed, ElementsAre(1, 3, 4));
}

TEST(UniqueHandle, EachKindKnowsTheValueThatHoldsNothing) {
  struct Case {
    HANDLE value;
    bool null;     // NullInvalid
    bool invalid;  // InvalidValueInvalid
    bool either;   // InvalidValueOrNullInvalid
  } cases[] = {
      {nullptr, false, true, false},
      {INVALID_HANDLE_VALUE, true, false, false},
      {H(8), true, true, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::NullInvalid<HANDLE>::IsValid(c.value), c.null);
    EXPECT_EQ(platform::InvalidValueInvalid::IsValid(c.value), c.invalid);
    EXPECT_EQ(platform::InvalidValueOrNullInvalid::IsValid(c.value), c.either);
  }
  // A snapshot that failed either way is never closed.
  platform::SnapshotHandle none(nullptr);
  platform::SnapshotHandle invalid(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(none);
  EXPECT_FALSE(invalid);
  ClosingToken port;
  platform::ScopedPort<platform::Token> use(port);
  { platform::TokenHandle empty; }
  EXPECT_THAT(port.closed, IsEmpty());
}

}  // namespace
