#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

// A link at the state file's name is never written through: the write fails
// as a refused open does, and what the link leads to keeps every byte.
TEST_F(CompletionState, ALinkAtTheNameIsNotWrittenThrough) {
  namespace fs = std::filesystem;
  const fs::path data = m.machine.Root() / kDataDir;
  const fs::path outside = m.machine.Root() / "outside";
  const std::string key = "encrypted key bytes";
  enum class Link { kSymbolicToKey, kHardToKey, kSymbolicOutside, kDangling };
  for (Link kind : {Link::kSymbolicToKey, Link::kHardToKey, Link::kSymbolicOutside, Link::kDangling}) {
    SCOPED_TRACE(static_cast<int>(kind));
    fs::remove(data / "_completed_mig");
    fs::remove(outside);
    m.WriteData("req.dat", key);
    switch (kind) {
      case Link::kSymbolicToKey: fs::create_symlink(data / "req.dat", data / "_completed_mig"); break;
      case Link::kHardToKey: fs::create_hard_link(data / "req.dat", data / "_completed_mig"); break;
      case Link::kSymbolicOutside:
        std::ofstream(outside, std::ios::binary) << key;
        fs::create_symlink(outside, data / "_completed_mig");
        break;
      case Link::kDangling: fs::create_symlink(outside, data / "_completed_mig"); break;
    }
    for (int value : {2, 4}) {
      try {
        Write(value);
        ADD_FAILURE() << "no exception writing " << value;
      } catch (CFileException* e) {
        EXPECT_EQ(e->m_cause, CFileException::accessDenied);
        EXPECT_EQ(e->m_lOsError, ERROR_ACCESS_DENIED);
        EXPECT_EQ(e->m_strFileName, std::wstring(kDataDirW) + L"\\_completed_mig");
        e->Delete();
      }
    }
    EXPECT_EQ(m.ReadData("req.dat"), key);
    if (kind == Link::kSymbolicOutside) {
      std::ifstream in(outside, std::ios::binary);
      EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), key);
    }
    EXPECT_EQ(fs::exists(fs::symlink_status(outside)), kind == Link::kSymbolicOutside);
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
