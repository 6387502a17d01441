#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Privilege.h"
#include "platform/Token.h"
#include "support/FakeProcesses.h"
#include "support/LogFixture.h"

namespace {

using testing::ElementsAre;
using testing::EndsWith;
using testing::IsEmpty;

class PrivilegeTest : public velk_test::LogFixture {};

TEST_F(PrivilegeTest, EnablesOneNamedPrivilege) {
  velk_test::FakeToken token;
  platform::ScopedPort<platform::Token> use(token);
  platform::TokenHandle handle;
  ASSERT_TRUE(token.OpenProcessToken(TOKEN_ADJUST_PRIVILEGES, handle.Put()));
  EXPECT_TRUE(EnablePrivilege(handle.Get(), L"SeDebugPrivilege"));
  EXPECT_THAT(token.adjusted, ElementsAre(std::make_pair(20u, static_cast<DWORD>(SE_PRIVILEGE_ENABLED))));
  EXPECT_THAT(installer.Lines(), IsEmpty());

  token.lookupError = ERROR_NO_SUCH_PRIVILEGE;
  EXPECT_FALSE(EnablePrivilege(handle.Get(), L"SeNoSuchPrivilege"));
  token.lookupError = 0;
  token.adjustError = ERROR_PRIVILEGE_NOT_HELD;
  EXPECT_FALSE(EnablePrivilege(handle.Get(), L"SeDebugPrivilege"));
  // Not held: the call succeeds and only its own result counts; a standard
  // user's install gets an Info line, no Error.
  token.adjustError = 0;
  token.notAllAssigned = true;
  EXPECT_TRUE(EnablePrivilege(handle.Get(), L"SeDebugPrivilege"));
  EXPECT_THAT(installer.Lines(),
              ElementsAre(EndsWith(" E LookupPrivilegeValue Error"), EndsWith(" E AdjustTokenPrivileges Error"),
                          EndsWith(" I AdjustTokenPrivileges: SeDebugPrivilege is not held by this token")));
  EXPECT_EQ(token.adjusted.size(), 2u);
}

// The host grants every privilege it knows, and only those.
TEST_F(PrivilegeTest, HostToken) {
  platform::TokenHandle handle;
  ASSERT_TRUE(platform::Token::Default().OpenProcessToken(TOKEN_ADJUST_PRIVILEGES, handle.Put()));
  EXPECT_TRUE(EnablePrivilege(handle.Get(), L"SeDebugPrivilege"));
  EXPECT_TRUE(EnablePrivilege(handle.Get(), L"SeBackupPrivilege"));
  EXPECT_FALSE(EnablePrivilege(handle.Get(), L"SeMadeUpPrivilege"));
  EXPECT_THAT(installer.Lines(), ElementsAre(EndsWith(" E LookupPrivilegeValue Error")));
}

}  // namespace
