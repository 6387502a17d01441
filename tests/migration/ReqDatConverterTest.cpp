// The key-file conversion and the step around it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "MigrationMachine.h"
#include "MigratorApp.h"
#include "ReqDatConverter.h"
#include "platform/ByteStreams.h"
#include "platform/FirmwareTables.h"
#include "platform/LastError.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"

namespace velk_test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::wstring kKeyFile = std::wstring(kDataDirW) + L"\\req.dat";

std::string Shell(const std::string& command) { return RunCommand(command); }

class Converter : public ::testing::Test {
 protected:
  Converter() { m.MakeDataDirectory(); }
  fs::path Data(const std::string& name) const { return m.machine.Root() / kDataDir / name; }
  std::string RecordText() const {
    const RasError* e = RasGetLastError();
    char text[2048];
    std::snprintf(text, sizeof text, "0x%02x: %s @%s", static_cast<unsigned>(e->code), e->message, e->location);
    return text;
  }
  MigrationMachine m;
};

TEST_F(Converter, OutputHasTheFivePiecesAndTheSizeOfTheLayout) {
  // The openssl command and sha256sum are the peers that read the file.
  for (size_t n : {size_t{0}, size_t{1}, size_t{9}, size_t{10}, size_t{42}, size_t{200}, size_t{1500}}) {
    std::string value;
    for (size_t i = 0; i < n; ++i) value += static_cast<char>('A' + i % 26);
    m.WriteOldBoundKeyFile(value);
    ASSERT_TRUE(ReqDatConverter::Convert(kKeyFile)) << RecordText();
    fs::path out = Data("req.dat.new");
    EXPECT_EQ(fs::file_size(out), 16 * ((n + 86) / 16 + 1)) << n;
    if (n == 0) {
      EXPECT_EQ(fs::file_size(out), 96u);
    }
    std::string plain = Shell("openssl enc -d -aes-256-cbc -K " + Hex(NewKey()) + " -iv " + std::string(32, '0') +
                              " -in '" + out.string() + "'");
    ASSERT_EQ(plain.size(), n + 86);
    EXPECT_EQ(plain.substr(0, 13), "[Key]\r\nValue=");
    EXPECT_EQ(plain.substr(13, n), value);
    EXPECT_EQ(plain.substr(13 + n, 7), "\r\nSign=");
    EXPECT_EQ(plain.substr(n + 84), "\r\n");
    std::ofstream(m.machine.Root() / "signed", std::ios::binary) << NewKey() << value;
    std::string sum = Shell("sha256sum '" + (m.machine.Root() / "signed").string() + "'");
    EXPECT_EQ(plain.substr(n + 20, 64), sum.substr(0, 64));
    // req.dat itself is never changed by the conversion.
    EXPECT_EQ(Decrypt(OldKey(), m.ReadData("req.dat")).substr(13, n), value);
  }
}

TEST_F(Converter, KeyValueIsCarriedOverAsTheReaderReturnsIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"  \t spaced value \t ", "spaced value"},
      {"\"quoted value\"", "quoted value"},
      {"'single'", "single"},
      {"\"mixed'", "\"mixed'"},
      {"a=b=c", "a=b=c"},
      {"  \"  inner blanks  \"  ", "  inner blanks  "},
  };
  for (const auto& [written, carried] : cases) {
    m.WriteOldBoundKeyFile(written);
    ASSERT_TRUE(ReqDatConverter::Convert(kKeyFile));
    EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat.new")), ConvertedPlaintext(NewKey(), carried));
  }
  // Other lines and sections are not carried over.
  m.WriteData("req.dat", Encrypt(OldKey(), "; note\r\n[Other]\r\nValue=no\r\n[key]\r\nSign=x\r\nVALUE = yes\r\n"));
  ASSERT_TRUE(ReqDatConverter::Convert(kKeyFile));
  EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat.new")), ConvertedPlaintext(NewKey(), "yes"));
}

TEST_F(Converter, UnreadableContentEndsWithKeyValueNotFoundAndNoOutput) {
  std::string good = Encrypt(OldKey(), "[Key]\r\nValue=K\r\n");
  const std::pair<const char*, std::string> cases[] = {
      {"empty", ""},
      {"foreign key", Encrypt(MachineKey("someone else"), "[Key]\r\nValue=K\r\n")},
      {"already converted", Encrypt(NewKey(), ConvertedPlaintext(NewKey(), "K"))},
      {"no value", Encrypt(OldKey(), "[Key]\r\nSign=abc\r\n")},
      {"plain text", "[Key]\r\nValue=K\r\n"},
  };
  for (const auto& [what, content] : cases) {
    fs::remove(Data("req.dat.new"));
    m.WriteData("req.dat", content);
    EXPECT_FALSE(ReqDatConverter::Convert(kKeyFile)) << what;
    EXPECT_EQ(RecordText(), "0xe1: Key Value is not found @ReqDatConverter::Convert at ReqDatConverter.cpp line 81")
        << what;
    EXPECT_FALSE(m.DataExists("req.dat.new")) << what;
    EXPECT_EQ(m.ReadData("req.dat"), content) << what;
  }
}

TEST_F(Converter, ACutFileIsNotConvertedEvenWhenItsValueSurvives) {
  std::string value(40, 'v');
  m.WriteOldBoundKeyFile(value);
  std::string whole = m.ReadData("req.dat");
  for (size_t cut : {size_t{1}, size_t{5}, size_t{17}}) {
    std::string content = whole.substr(0, whole.size() - cut);
    m.WriteData("req.dat", content);
    EXPECT_FALSE(ReqDatConverter::Convert(kKeyFile));
    EXPECT_EQ(RecordText(),
              "0xff: truncated file :C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access"
              "\\req.dat :The data is invalid. @ReqDatConverter::Convert at ReqDatConverter.cpp line 66");
    EXPECT_FALSE(m.DataExists("req.dat.new"));
    EXPECT_EQ(m.ReadData("req.dat"), content);
  }
}

TEST_F(Converter, AFileCutAtABlockBoundaryOrDamagedInItsLastBlockIsRefused) {
  // 13 value bytes make the 112-byte file of a typical key.
  const std::string whole = Encrypt(OldKey(), ConvertedPlaintext(OldKey(), "VK-0123456789"));
  ASSERT_EQ(whole.size(), 112u);
  const std::string damaged =
      "0xff: damaged file :C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access\\req.dat"
      " :The data is invalid. @ReqDatConverter::Convert at ReqDatConverter.cpp line 84";
  const std::string notFound = "0xe1: Key Value is not found @ReqDatConverter::Convert at ReqDatConverter.cpp line 81";
  std::vector<std::pair<std::string, std::string>> cases;  // content, record
  // One block is withheld by the padding check: nothing is left to read.
  cases.push_back({whole.substr(0, 16), notFound});
  for (size_t cut = 32; cut < whole.size(); cut += 16) cases.push_back({whole.substr(0, cut), damaged});
  for (size_t at : {size_t{96}, size_t{100}, size_t{111}}) {
    std::string flipped = whole;
    flipped[at] = static_cast<char>(flipped[at] ^ 0x01);
    cases.push_back({flipped, damaged});
  }
  for (const auto& [content, record] : cases) {
    m.WriteData("req.dat", content);
    EXPECT_FALSE(ReqDatConverter::Convert(kKeyFile)) << content.size();
    EXPECT_EQ(RecordText(), record) << content.size();
    EXPECT_FALSE(m.DataExists("req.dat.new"));
  }
  // In a run the key file stays as it was and the state still ends at 3.
  m.WriteData("req.dat", whole.substr(0, 64));
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.LogLines(),
              ElementsAre("[info] InitialStatus : 1", "[info] Start converting", "[error] failed ReqDatConverter",
                          "[error] " + damaged, "[info] Finish converting"));
  EXPECT_EQ(m.ReadData("req.dat"), whole.substr(0, 64));
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
}

TEST_F(Converter, OnlyRegularFilesUpToOneMebibyteAreRead) {
  const std::string path = "C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access\\req.dat";
  const std::string notRegular = "0xff: not a regular file :" + path +
                                 " :The file type being saved or retrieved has been blocked. "
                                 "@ReqDatConverter::Convert at ReqDatConverter.cpp line 54";
  const std::string tooLarge = "0xff: file too large :" + path +
                               " :The file size exceeds the limit allowed and cannot be saved. "
                               "@ReqDatConverter::Convert at ReqDatConverter.cpp line 62";
  const std::string notFound = "0xe1: Key Value is not found @ReqDatConverter::Convert at ReqDatConverter.cpp line 81";
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> make;
    std::string record;
  };
  const Case cases[] = {
      // Opening a pipe for reading would wait for a writer for ever.
      {"pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, notRegular},
      {"link to an endless device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }, notRegular},
      {"over the limit",
       [](const fs::path& p) { std::ofstream(p, std::ios::binary) << std::string((1 << 20) + 16, 'x'); }, tooLarge},
      {"at the limit", [](const fs::path& p) { std::ofstream(p, std::ios::binary) << std::string(1 << 20, 'x'); },
       notFound},
  };
  for (const Case& c : cases) {
    fs::remove(Data("req.dat"));
    c.make(Data("req.dat"));
    // Should the open wait after all, a writer ends the wait and the test fails.
    std::promise<void> done;
    std::thread watchdog([&, finished = done.get_future()]() {
      if (finished.wait_for(std::chrono::seconds(20)) == std::future_status::timeout) {
        int fd = ::open(Data("req.dat").c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
      }
    });
    bool converted = ReqDatConverter::Convert(kKeyFile);
    done.set_value();
    watchdog.join();
    EXPECT_FALSE(converted) << c.what;
    EXPECT_EQ(RecordText(), c.record) << c.what;
    EXPECT_FALSE(m.DataExists("req.dat.new")) << c.what;
  }
}

// The byte streams of the machine, with one failure to order on the
// converted file.
class FailingWrites : public platform::ByteStreams {
 public:
  FILE* Open(const char* p, const char* mode) override { return real().Open(p, mode); }
  int Status(const char* p, platform::StreamFileStatus* s) override { return real().Status(p, s); }
  int Remove(const char* p) override { return real().Remove(p); }
  int Rename(const char* f, const char* t) override { return real().Rename(f, t); }
  size_t Write(const void* b, size_t n, FILE* f) override {
    if (!shortWrite) return real().Write(b, n, f);
    real().Write(b, n / 2, f);
    platform::SetLastErrorCode(shortWrite);
    return n / 2;
  }
  int Commit(FILE* f) override { return Fails(failCommit, real().Commit(f)); }
  int Close(FILE* f) override { return Fails(failClose, real().Close(f)); }

  DWORD shortWrite = 0, failCommit = 0, failClose = 0;

 private:
  static platform::ByteStreams& real() { return platform::ByteStreams::Default(); }
  static int Fails(DWORD error, int result) {
    if (!error) return result;
    platform::SetLastErrorCode(error);
    return -1;
  }
};

TEST_F(Converter, AConvertedFileNotWholeOnTheDiskFailsWithTheErrorOfTheStepThatFailed) {
  const std::string prefix =
      "0xff: fwrite failed :C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access\\req.dat.new :";
  const std::string suffix = " @ReqDatConverter::Convert at ReqDatConverter.cpp line 128";
  struct Case {
    DWORD shortWrite, failCommit, failClose;
    std::string text;
  };
  const Case cases[] = {
      {ERROR_DISK_FULL, 0, 0, "There is not enough space on the disk."},
      {0, ERROR_GEN_FAILURE, 0, "A device attached to the system is not functioning."},
      // Only the close fails: its own error, not one left by the flush.
      {0, 0, ERROR_WRITE_PROTECT, "The media is write protected."},
      {0, ERROR_GEN_FAILURE, ERROR_WRITE_PROTECT, "A device attached to the system is not functioning."},
  };
  m.WriteOldBoundKeyFile("K-3");
  const std::string before = m.ReadData("req.dat");
  for (const Case& c : cases) {
    FailingWrites streams;
    streams.shortWrite = c.shortWrite, streams.failCommit = c.failCommit, streams.failClose = c.failClose;
    platform::ScopedPort<platform::ByteStreams> use(streams);
    platform::SetLastErrorCode(ERROR_ACCESS_DENIED);  // what an earlier call may have left
    EXPECT_FALSE(ReqDatConverter::Convert(kKeyFile)) << c.text;
    EXPECT_EQ(RecordText(), prefix + c.text + suffix);
    EXPECT_EQ(m.ReadData("req.dat"), before);
  }
}

TEST_F(Converter, ACompleteConvertedFileReplacesAKeyFileThatNoBindingOpens) {
  const std::string converted = Encrypt(NewKey(), ConvertedPlaintext(NewKey(), "VK-0123456789"));
  const std::string oldBound = Encrypt(OldKey(), "[Key]\r\nValue=VK-0123456789\r\nSign=00\r\n");
  const std::string recovered = "[info] req.dat does not open; the complete req.dat.new takes its place";
  struct Case {
    const char* what;
    std::optional<std::string> keyFile, leftOver;
    bool recovers;
  };
  std::string badSign = ConvertedPlaintext(NewKey(), "VK-0123456789");
  badSign[badSign.size() - 3] ^= 1;
  const Case cases[] = {
      {"empty", std::string(), converted, true},
      {"cut", oldBound.substr(0, 33), converted, true},
      // What no copy leaves: the conversion reports it, the file stays.
      {"missing", std::nullopt, converted, false},
      {"cut at a block boundary", oldBound.substr(0, 32), converted, false},
      {"foreign", Encrypt(MachineKey("someone else"), "[Key]\r\nValue=x\r\n"), converted, false},
      {"opens with the old binding", oldBound, converted, false},
      {"opens with the new binding", Encrypt(NewKey(), ConvertedPlaintext(NewKey(), "other")), converted, false},
      {"left over cut", std::string(), converted.substr(0, 96), false},
      {"left over signed wrongly", std::string(), Encrypt(NewKey(), badSign), false},
  };
  for (const Case& c : cases) {
    for (const char* name : {"req.dat", "req.dat.new", "_completed_mig", "velk-access-migration.log"})
      fs::remove(Data(name));
    if (c.keyFile) m.WriteData("req.dat", *c.keyFile);
    if (c.leftOver) m.WriteData("req.dat.new", *c.leftOver);
    EXPECT_EQ(m.Run(), 0);
    std::vector<std::string> lines = m.LogLines();
    if (c.recovers) {
      EXPECT_THAT(lines, ElementsAre("[info] InitialStatus : 1", "[info] Start converting", recovered,
                                     "[info] Finish converting"))
          << c.what;
      EXPECT_EQ(m.ReadData("req.dat"), converted) << c.what;
      EXPECT_FALSE(m.DataExists("req.dat.new")) << c.what;
    } else {
      EXPECT_EQ(std::count(lines.begin(), lines.end(), recovered), 0) << c.what;
      // Converted as usual, or left as it was.
      if (c.keyFile)
        EXPECT_EQ(m.ReadData("req.dat"), *c.keyFile == oldBound ? converted : *c.keyFile) << c.what;
      else
        EXPECT_FALSE(m.DataExists("req.dat")) << c.what;
    }
    EXPECT_EQ(m.ReadData("_completed_mig"), "3") << c.what;
  }
}

// A link left at req.dat.new is never adopted, however complete the file it
// leads to: req.dat would become the link.
TEST_F(Converter, ALinkAtTheConvertedFileIsNotAdopted) {
  const std::string converted = Encrypt(NewKey(), ConvertedPlaintext(NewKey(), "VK-0123456789"));
  const std::string recovered = "[info] req.dat does not open; the complete req.dat.new takes its place";
  const fs::path outside = m.machine.Root() / "outside.dat";
  for (bool hard : {false, true}) {
    for (const char* name : {"req.dat", "req.dat.new", "_completed_mig", "velk-access-migration.log"})
      fs::remove(Data(name));
    fs::remove(outside);
    std::ofstream(outside, std::ios::binary) << converted;
    m.WriteData("req.dat", "");
    if (hard)
      fs::create_hard_link(outside, Data("req.dat.new"));
    else
      fs::create_symlink(outside, Data("req.dat.new"));
    EXPECT_EQ(m.Run(), 0);
    std::vector<std::string> lines = m.LogLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), recovered), 0) << hard;
    EXPECT_FALSE(fs::is_symlink(Data("req.dat"))) << hard;
    EXPECT_EQ(fs::hard_link_count(outside), hard ? 2u : 1u);
    EXPECT_EQ(m.ReadData("req.dat"), "") << hard;
  }
}

TEST_F(Converter, EveryFailedAllocationEndsCleanlyWithoutOutput) {
  m.WriteOldBoundKeyFile("K-alloc");
  std::string before = m.ReadData("req.dat");
  int succeeding = 0;
  for (; succeeding < 200; ++succeeding) {
    fs::remove(Data("req.dat.new"));
    RasGetLastError();  // the thread's record exists before allocations fail
    RasUtil_FailAllocationsAfter(succeeding);
    bool converted = ReqDatConverter::Convert(kKeyFile);
    RasUtil_FailAllocationsAfter(-1);
    EXPECT_EQ(m.ReadData("req.dat"), before);
    if (converted) break;
    EXPECT_FALSE(m.DataExists("req.dat.new")) << succeeding;
    EXPECT_THAT(RecordText(), HasSubstr("failed")) << succeeding;
  }
  EXPECT_GT(succeeding, 5);
  EXPECT_LT(succeeding, 200) << "never succeeded";
  EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat.new")), ConvertedPlaintext(NewKey(), "K-alloc"));
}

TEST_F(Converter, AMissingFileFailsWithSystemErrorTwoBeforeTheFirmwareIsRead) {
  NoFirmware firmware;
  platform::ScopedPort<platform::FirmwareTables> use(firmware);
  EXPECT_FALSE(ReqDatConverter::Convert(kKeyFile));
  EXPECT_EQ(RecordText(),
            "0xff: fopen failed :C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access\\req.dat :The system "
            "cannot find the file specified. @ReqDatConverter::Convert at ReqDatConverter.cpp line 52");
  EXPECT_EQ(firmware.calls, 0);
}

TEST_F(Converter, AMissingFileBesideALeftOverConvertedFileIsNotRecoveredAndReadsNoFirmware) {
  m.WriteData("req.dat.new", Encrypt(NewKey(), ConvertedPlaintext(NewKey(), "K-1")));
  NoFirmware firmware;
  platform::ScopedPort<platform::FirmwareTables> use(firmware);
  EXPECT_EQ(m.Run(), 0);
  std::vector<std::string> lines = m.LogLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "[error] failed ReqDatConverter");
  EXPECT_THAT(lines[3],
              HasSubstr("fopen failed :C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access\\req.dat :"));
  EXPECT_THAT(lines[3], HasSubstr("line 52"));
  EXPECT_EQ(firmware.calls, 0);
  EXPECT_FALSE(m.DataExists("req.dat"));
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
}

TEST_F(Converter, TheConvertedFileIsAlwaysANewFileWhateverStandsAtItsName) {
  m.WriteOldBoundKeyFile("K-link");
  const std::string key = m.ReadData("req.dat");
  const fs::path target = m.machine.Root() / "elsewhere";
  struct Case {
    const char* what;
    std::function<void()> plant;
  };
  const Case cases[] = {
      {"hard link to req.dat", [&] { fs::create_hard_link(Data("req.dat"), Data("req.dat.new")); }},
      {"symbolic link",
       [&] {
         std::ofstream(target) << "theirs";
         fs::create_symlink(target, Data("req.dat.new"));
       }},
      {"dangling symbolic link", [&] { fs::create_symlink(m.machine.Root() / "nowhere", Data("req.dat.new")); }},
      {"named pipe", [&] { ASSERT_EQ(::mkfifo(Data("req.dat.new").c_str(), 0600), 0); }},
      {"left over file", [&] { m.WriteData("req.dat.new", std::string(4096, 'x')); }},
  };
  for (const Case& c : cases) {
    fs::remove(Data("req.dat.new"));
    fs::remove(target);
    c.plant();
    // A run killed at its write must leave req.dat whole: the write goes to
    // a new file only.
    auto done = std::async(std::launch::async, [] { return ReqDatConverter::Convert(kKeyFile); });
    if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      ADD_FAILURE() << c.what << ": the open waits";
      // Give a waiting writer its reader so that the test itself ends.
      int reader = ::open(Data("req.dat.new").c_str(), O_RDONLY | O_NONBLOCK);
      done.wait();
      if (reader >= 0) ::close(reader);
      continue;
    }
    ASSERT_TRUE(done.get()) << c.what << ": " << RecordText();
    EXPECT_EQ(m.ReadData("req.dat"), key) << c.what;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(Data("req.dat.new")))) << c.what;
    EXPECT_EQ(fs::hard_link_count(Data("req.dat.new")), 1u) << c.what;
    EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat.new")), ConvertedPlaintext(NewKey(), "K-link")) << c.what;
    if (fs::exists(target)) EXPECT_EQ(m.machine.Read("elsewhere"), "theirs") << c.what;
    EXPECT_FALSE(fs::exists(m.machine.Root() / "nowhere")) << c.what;
  }
}

TEST_F(Converter, AMissingProductIdFailsBeforeAnythingIsRead) {
  m.WriteOldBoundKeyFile("K");
  m.machine.Write("registry/HKLM.reg",
                  "Windows Registry Editor Version 5.00\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n");
  TempMachine::Reload();
  EXPECT_FALSE(ReqDatConverter::Convert(kKeyFile));
  EXPECT_THAT(RecordText(), HasSubstr("RegQueryValueEx failed"));
  EXPECT_FALSE(m.DataExists("req.dat.new"));
}

TEST_F(Converter, APathOutsideTheAnsiCodePageCannotBeOpened) {
  EXPECT_FALSE(ReqDatConverter::Convert(L"C:\\Users\\\u03a9mega\\req.dat"));
  EXPECT_THAT(RecordText(), HasSubstr("fopen failed :C:\\Users\\?mega\\req.dat :"));
  EXPECT_THAT(RecordText(), HasSubstr("line 52"));
}

TEST_F(Converter, AnOutputThatCannotBeCreatedFailsAtLine123) {
  m.WriteOldBoundKeyFile("K");
  fs::create_directories(Data("req.dat.new"));
  EXPECT_FALSE(ReqDatConverter::Convert(kKeyFile));
  EXPECT_THAT(RecordText(), HasSubstr("0xff: fopen failed :C:\\Users\\alice\\AppData\\Local\\TESSMAR\\velk\\velk-access"
                                      "\\req.dat.new :Access is denied."));
  EXPECT_THAT(RecordText(), HasSubstr("line 123"));
}

TEST_F(Converter, WithoutFirmwareIdentityTheOldBindingIsKeptAndLogged) {
  NoFirmware firmware;
  platform::ScopedPort<platform::FirmwareTables> use(firmware);
  m.WriteOldBoundKeyFile("K-77");
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.LogLines(),
              ElementsAre("[info] InitialStatus : 1", "[info] Start converting", "[info] GetSystemFirmwareTable failed",
                          "[info] It gets old one as fall back because of failure to get unique ID.",
                          "[info] Finish converting"));
  // Rewritten in the new layout, with a signature made with the old key.
  EXPECT_EQ(Decrypt(OldKey(), m.ReadData("req.dat")), ConvertedPlaintext(OldKey(), "K-77"));
}

TEST_F(Converter, AFailedCopyDeletesTheConvertedFileAndKeepsTheKeyFile) {
  m.WriteOldBoundKeyFile("K-1");
  std::string before = m.ReadData("req.dat");
  // A read-only key file refuses to be replaced.
  m.files.SetAttributes(kKeyFile.c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.LogLines(),
              ElementsAre("[info] InitialStatus : 1", "[info] Start converting", "[error] failed CopyFile",
                          "[error] MoveFileExW() = 5", "[info] Finish converting"));
  EXPECT_EQ(m.ReadData("req.dat"), before);
  EXPECT_FALSE(m.DataExists("req.dat.new"));
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
  EXPECT_THAT(m.files.copies, ElementsAre(kKeyFile + L".new -> " + kKeyFile + L" (replace)"));
}

TEST_F(Converter, AReplacementThatFailsLeavesTheOldBytes) {
  m.WriteOldBoundKeyFile("K-1");
  std::string before = m.ReadData("req.dat");
  m.files.failCopy = ERROR_DISK_FULL;
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.LogLines(),
              ElementsAre("[info] InitialStatus : 1", "[info] Start converting", "[error] failed CopyFile",
                          "[error] MoveFileExW() = 112", "[info] Finish converting"));
  EXPECT_EQ(m.ReadData("req.dat"), before);
  EXPECT_FALSE(m.DataExists("req.dat.new"));
}

TEST_F(Converter, AFailedReplacementOfARecoveredFileKeepsIt) {
  m.WriteData("req.dat", "");
  m.WriteData("req.dat.new", Encrypt(NewKey(), ConvertedPlaintext(NewKey(), "K-1")));
  m.files.failCopy = ERROR_SHARING_VIOLATION;
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.LogLines(),
              ElementsAre("[info] InitialStatus : 1", "[info] Start converting",
                          "[info] req.dat does not open; the complete req.dat.new takes its place",
                          "[error] failed CopyFile", "[error] MoveFileExW() = 32", "[info] Finish converting"));
  EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat.new")), ConvertedPlaintext(NewKey(), "K-1"));
  EXPECT_TRUE(m.files.removals.empty());
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
}

TEST_F(Converter, AFailedDeleteLeavesTheConvertedFileAndTheRunGoesOn) {
  m.WriteOldBoundKeyFile("K-1");
  std::string before = m.ReadData("req.dat");
  m.files.failCopy = ERROR_DISK_FULL;
  m.files.failRemove = ERROR_SHARING_VIOLATION;
  EXPECT_EQ(m.Run(), 0);
  EXPECT_THAT(m.LogLines(),
              ElementsAre("[info] InitialStatus : 1", "[info] Start converting", "[error] failed CopyFile",
                          "[error] MoveFileExW() = 112", "[error] failed DeleteFile", "[error] DeleteFileW() = 32",
                          "[info] Finish converting"));
  EXPECT_EQ(m.ReadData("req.dat"), before);
  EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat.new")), ConvertedPlaintext(NewKey(), "K-1"));
  EXPECT_EQ(m.ReadData("_completed_mig"), "3");
}

TEST_F(Converter, AConvertedFileLeftBehindByAFailureStaysWhereItIs) {
  m.WriteData("req.dat", "");
  m.WriteData("req.dat.new", "left over");
  EXPECT_EQ(m.Run(), 0);
  EXPECT_EQ(m.ReadData("req.dat.new"), "left over");
  EXPECT_EQ(m.ReadData("req.dat"), "");
  EXPECT_THAT(m.LogLines()[3], HasSubstr("Key Value is not found"));
}

}  // namespace
}  // namespace velk_test
