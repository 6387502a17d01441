#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TovrinModule.h"
#include "platform/LastError.h"
#include "support/FakeProcesses.h"
#include "support/LogFixture.h"
#include "support/TempMachine.h"

extern "C" UINT CheckMultiExec(MSIHANDLE install);
extern "C" HRESULT RunCheckMultiExecW(HWND window, HINSTANCE instance, LPWSTR commandLine, int show);

namespace {

using testing::ElementsAre;
using testing::EndsWith;
using testing::IsEmpty;
using velk_test::FakeInstaller;

constexpr wchar_t kName[] = L"Global\\TESSMAR.Velk.{4B1E9C27-53A0-4D8F-9E26-7C0F3A5D81B4}";

class CheckMultiExecTest : public velk_test::LogFixture {};

// The real mutex of the host: the first call keeps it for the process.
TEST_F(CheckMultiExecTest, TheSecondCallInOneProcessFails) {
  velk_test::TempMachine machine;
  EXPECT_EQ(CheckMultiExec(FakeInstaller::kSession), 0u);
  EXPECT_THAT(installer.Lines(),
              ElementsAre("####### Tovrin log PID=000001f4 #######", EndsWith(" I CheckMultiExec - enter"),
                          EndsWith(" I TovrinData:"), EndsWith(" I CTovrinModule::CheckMultiExec - enter"),
                          EndsWith(" I CTovrinModule::CheckMultiExec - leave"), EndsWith(" I CheckMultiExec - leave")));
  EXPECT_THAT(installer.Errors(), IsEmpty());

  installer.messages.clear();
  EXPECT_EQ(CheckMultiExec(FakeInstaller::kSession), 1603u);
  EXPECT_THAT(installer.Lines(), ElementsAre(testing::_, testing::_, testing::_, testing::_,
                                             EndsWith(" I CTovrinModule::CheckMultiExec - leave"),
                                             EndsWith(" E (0x8000400e)"), EndsWith(" I CheckMultiExec - leave")));
  EXPECT_THAT(installer.Errors(), ElementsAre(std::make_pair(25001, -2147467250)));

  EXPECT_EQ(RunCheckMultiExecW(nullptr, nullptr, nullptr, 1), static_cast<HRESULT>(0x8000400E));
}

class CheckMultiExecFakeTest : public velk_test::LogFixture {
 protected:
  CheckMultiExecFakeTest() : use_(mutexes) {}
  velk_test::FakeNamedMutex mutexes;
  CActionParameters params;

 private:
  platform::ScopedPort<platform::NamedMutex> use_;
};

TEST_F(CheckMultiExecFakeTest, CreatesTheGlobalMutexOwnedAndKeepsIt) {
  EXPECT_EQ(TovrinModule().CheckMultiExec(nullptr, params), S_OK);
  EXPECT_THAT(mutexes.created, ElementsAre(std::make_pair(std::wstring(kName), TRUE)));
  EXPECT_EQ(mutexes.handles[kName], 1);
  EXPECT_EQ(mutexes.closed, 0);

  // Found existing: the handle just obtained is closed again.
  EXPECT_EQ(TovrinModule().CheckMultiExec(nullptr, params), static_cast<HRESULT>(0x8000400E));
  EXPECT_EQ(mutexes.handles[kName], 1);
  EXPECT_EQ(mutexes.closed, 1);
}

TEST_F(CheckMultiExecFakeTest, AMutexThatCannotBeMadeDoesNotStopTheInstallation) {
  mutexes.createError = ERROR_ACCESS_DENIED;
  platform::SetLastErrorCode(ERROR_ALREADY_EXISTS);  // left over from an earlier call
  EXPECT_EQ(TovrinModule().CheckMultiExec(nullptr, params), S_OK);
  EXPECT_THAT(installer.Lines(), ElementsAre(EndsWith(" I CTovrinModule::CheckMultiExec - enter"),
                                             EndsWith(" I CTovrinModule::CheckMultiExec - leave")));
}

}  // namespace
