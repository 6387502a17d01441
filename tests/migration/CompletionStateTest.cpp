#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "CompletionStateFile.h"
#include "MigrationMachine.h"
#include "MigratorApp.h"
#include "framework/Exceptions.h"

namespace velk_test {
namespace {

using ::testing::ElementsAre;

class CompletionState : public ::testing::Test {
 protected:
  CompletionState() { m.MakeDataDirectory(); }
  int Read() { return ReadCompletionStateAt(kDataDirW); }
  void Write(int value) { WriteCompletionStateAt(kDataDirW, value); }
  MigrationMachine m;
};

TEST_F(CompletionState, ContentClassifiesAsTheStateValues) {
  EXPECT_EQ(Read(), 1) << "absent";
  const std::pair<std::string, int> cases[] = {
      {"", 0},
      {"2", 2},
      {std::string("2\0", 2), 2},
      {std::string("3\0xyz", 5), 3},
      {"3", 3},
      {"2\n", 1},
      {"22", 1},
      {"x", 1},
      {"4", 1},
      {std::string(300, 'q'), 1},
      {std::string("\0"
                   "2",
                   2),
       1},
  };
  for (const auto& [content, state] : cases) {
    m.WriteData("_completed_mig", content);
    EXPECT_EQ(Read(), state) << "content of " << content.size() << " bytes";
  }
}

TEST_F(CompletionState, OnlyTwoAndThreeWriteAByteAndNothingIsTruncated) {
  Write(4);
  EXPECT_TRUE(m.DataExists("_completed_mig"));
  EXPECT_EQ(m.ReadData("_completed_mig"), "");
  Write(0);
  EXPECT_EQ(m.ReadData("_completed_mig"), "");
  Write(2);
  EXPECT_EQ(m.ReadData("_completed_mig"), "2");
  Write(0);
  Write(4);
  EXPECT_EQ(m.ReadData("_completed_mig"), "2");
  Write(3);
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");

  // Foreign content keeps all but its first byte, so it still reads as 1.
  m.WriteData("_completed_mig", "abcdef");
  Write(2);
  EXPECT_EQ(m.ReadData("_completed_mig"), "2bcdef");
  EXPECT_EQ(Read(), 1);
  EXPECT_THAT(m.files.stateWrites, ElementsAre("C", "O", "O2", "O", "O", "O3", "O2"));
}

TEST_F(CompletionState, AbsentFileIsCreatedByZeroAndFour) {
  Write(0);
  EXPECT_EQ(m.ReadData("_completed_mig"), "");
  EXPECT_EQ(Read(), 0);
}

TEST_F(CompletionState, ADirectoryOfThatNameFailsWithAFileException) {
  std::filesystem::create_directories(m.machine.Root() / kDataDir / "_completed_mig");
  for (int op = 0; op < 2; ++op) {
    try {
      op == 0 ? (void)Read() : Write(2);
      ADD_FAILURE() << "no exception";
    } catch (CFileException* e) {
      EXPECT_EQ(e->m_cause, CFileException::accessDenied);
      EXPECT_EQ(e->m_lOsError, ERROR_ACCESS_DENIED);
      EXPECT_EQ(e->m_strFileName, std::wstring(kDataDirW) + L"\\_completed_mig");
      wchar_t text[256];
      EXPECT_TRUE(e->GetErrorMessage(text, 256));
      EXPECT_EQ(std::wstring(text),
                L"Access to " + std::wstring(kDataDirW) + L"\\_completed_mig was denied. (system error 5)");
      e->Delete();
    }
  }
}

TEST_F(CompletionState, AMissingDataDirectoryCreatesNothing) {
  std::filesystem::remove_all(m.machine.Root() / kDataDir);
  EXPECT_EQ(Read(), 1);
  try {
    Write(2);
    ADD_FAILURE() << "no exception";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::badPath);
    EXPECT_EQ(e->m_lOsError, ERROR_PATH_NOT_FOUND);
    e->Delete();
  }
  EXPECT_FALSE(std::filesystem::exists(m.machine.Root() / kDataDir));
}

TEST_F(CompletionState, ALockedFileFailsWhenOpened) {
  m.WriteData("_completed_mig", "2");
  m.files.failStateOpen = ERROR_SHARING_VIOLATION;
  try {
    Read();
    ADD_FAILURE() << "no exception";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::sharingViolation);
    wchar_t text[256];
    e->GetErrorMessage(text, 256);
    EXPECT_EQ(std::wstring(text), L"A sharing violation occurred while accessing " + std::wstring(kDataDirW) +
                                      L"\\_completed_mig. (system error 32)");
    e->Delete();
  }
}

}  // namespace
}  // namespace velk_test
