// velk-reqdat, run as a process on a machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "MigrationMachine.h"

namespace velk_test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

int Tool(const std::string& arguments, std::string* output, bool prefix = true) {
  std::string command = (prefix ? std::string(VELK_BINARY_DIR) + "/velk-reqdat " : "") + arguments + " 2>&1";
  int code = -1;
  *output = RunCommand(command, &code);
  return code;
}

class ReqDatTool : public ::testing::Test {
 protected:
  ReqDatTool() { m.MakeDataDirectory(); }
  std::string Path(const std::string& name) const { return (m.machine.Root() / kDataDir / name).string(); }
  MigrationMachine m;
  std::string out;
};

TEST_F(ReqDatTool, EncryptWritesTheProgramsLayoutForTheBinding) {
  ASSERT_EQ(Tool("encrypt " + Path("req.dat") + " --value 'K 1' --key product-id=" + kProductId, &out), 0) << out;
  EXPECT_EQ(Decrypt(OldKey(), m.ReadData("req.dat")), ConvertedPlaintext(OldKey(), "K 1"));
  ASSERT_EQ(Tool("encrypt " + Path("new.dat") + " --value K2 --key smbios=" + kSmbiosUuidText, &out), 0) << out;
  EXPECT_EQ(Decrypt(NewKey(), m.ReadData("new.dat")), ConvertedPlaintext(NewKey(), "K2"));
  ASSERT_EQ(Tool("encrypt " + Path("machine.dat") + " --value K3 --key machine", &out), 0) << out;
  EXPECT_EQ(Decrypt(NewKey(), m.ReadData("machine.dat")), ConvertedPlaintext(NewKey(), "K3"));
}

TEST_F(ReqDatTool, InspectMasksTheValueAndNamesTheBinding) {
  m.WriteOldBoundKeyFile("SECRET-VALUE");
  ASSERT_EQ(Tool("inspect " + Path("req.dat"), &out), 0) << out;
  EXPECT_THAT(out, HasSubstr("Binding: machine-old (this machine's product ID)\n"));
  EXPECT_THAT(out, HasSubstr("Signature: does not match\n"));
  EXPECT_THAT(out, HasSubstr("Value=<12 bytes hidden; --show-value shows them>\n"));
  EXPECT_THAT(out, Not(HasSubstr("SECRET")));
  ASSERT_EQ(Tool("inspect " + Path("req.dat") + " --show-value --key product-id=" + kProductId, &out), 0);
  EXPECT_THAT(out, HasSubstr("Binding: product-id=" + std::string(kProductId) + "\n"));
  EXPECT_THAT(out, HasSubstr("Value=SECRET-VALUE\n"));
  // A file the program converted opens with the SMBIOS identity and its
  // signature matches.
  EXPECT_EQ(m.Run(), 0);
  ASSERT_EQ(Tool("inspect " + Path("req.dat"), &out), 0) << out;
  EXPECT_THAT(out, HasSubstr("Binding: machine-new (smbios=" + std::string(kSmbiosUuidText) + ")\n"));
  EXPECT_THAT(out, HasSubstr("Signature: matches\n"));
}

TEST_F(ReqDatTool, RebindMovesTheValueToTheNewIdentity) {
  m.WriteOldBoundKeyFile("\"quoted\"");
  ASSERT_EQ(
      Tool("rebind " + Path("req.dat") + " " + Path("out.dat") + " --from machine-old --to smbios=ACME-SN-1", &out), 0)
      << out;
  std::string key = MachineKey("ACME-SN-1");
  EXPECT_EQ(Decrypt(key, m.ReadData("out.dat")), ConvertedPlaintext(key, "quoted"));
}

TEST_F(ReqDatTool, FailuresAreReportedWithTheirExitCodes) {
  m.WriteData("req.dat", Encrypt(MachineKey("nobody"), "[Key]\r\nValue=x\r\n"));
  EXPECT_EQ(Tool("inspect " + Path("req.dat"), &out), 1);
  EXPECT_THAT(out, HasSubstr("Binding: none of the keys tried opens the file"));
  EXPECT_EQ(Tool("rebind " + Path("req.dat") + " " + Path("o") + " --from machine-old --to machine", &out), 1);
  EXPECT_FALSE(m.DataExists("o"));
  EXPECT_EQ(Tool("inspect " + Path("absent.dat"), &out), 1);
  EXPECT_EQ(Tool("encrypt " + Path("x") + " --value v --key serial=1", &out), 1);
  EXPECT_THAT(out, HasSubstr("unknown binding serial=1"));
  EXPECT_EQ(Tool("encrypt " + Path("x") + " --key machine", &out), 2);
  EXPECT_EQ(Tool("frobnicate", &out), 2);
}

TEST_F(ReqDatTool, RefusesLineBreaksInAValueAndFilesThatAreNoKeyFiles) {
  for (const char* value : {"'K\nSign=0'", "'K\r'", "\"$(printf 'a\\r\\nb')\""}) {
    EXPECT_EQ(Tool("encrypt " + Path("x.dat") + " --value " + value + " --key machine", &out), 2) << value;
    EXPECT_EQ(out, "velk-reqdat: the value must be one line: CR, LF and NUL are refused\n");
    EXPECT_FALSE(m.DataExists("x.dat"));
  }
  // A pipe must not keep the tool waiting for a writer.
  ASSERT_EQ(::mkfifo(Path("pipe").c_str(), 0600), 0);
  EXPECT_EQ(Tool("timeout 20 " + std::string(VELK_BINARY_DIR) + "/velk-reqdat inspect " + Path("pipe"), &out, false),
            1);
  EXPECT_EQ(out, "velk-reqdat: not a regular file, not read: " + Path("pipe") + "\n");
  std::filesystem::create_symlink("/dev/zero", Path("zero"));
  EXPECT_EQ(Tool("inspect " + Path("zero"), &out), 1);
  EXPECT_EQ(out, "velk-reqdat: not a regular file, not read: " + Path("zero") + "\n");
  // A file cut at a block boundary still shows its text but is not rebound.
  m.WriteData("cut.dat", Encrypt(OldKey(), ConvertedPlaintext(OldKey(), "VK-0123456789")).substr(0, 64));
  EXPECT_EQ(Tool("inspect " + Path("cut.dat") + " --key machine-old", &out), 0);
  EXPECT_THAT(out, HasSubstr("Damaged: the last block's padding is rejected (cut at a block boundary or changed)\n"));
  EXPECT_EQ(Tool("rebind " + Path("cut.dat") + " " + Path("o") + " --from machine-old --to machine", &out), 1);
  EXPECT_EQ(out, "velk-reqdat: " + Path("cut.dat") + " is damaged (cut or changed); not rebound\n");
  EXPECT_FALSE(m.DataExists("o"));
  m.WriteData("big", std::string((1 << 20) + 1, 'x'));
  EXPECT_EQ(Tool("rebind " + Path("big") + " " + Path("o") + " --from machine-old --to machine", &out), 1);
  EXPECT_EQ(out, "velk-reqdat: larger than a key file (1 MiB), not read: " + Path("big") + "\n");
}

TEST_F(ReqDatTool, RefusesValuesTheReaderWouldGiveBackOtherwise) {
  const std::string trimmed =
      "velk-reqdat: the key file could not give this value back whole: blanks or tabs at "
      "either end are trimmed when it is read\n";
  const std::string quoted =
      "velk-reqdat: the key file could not give this value back whole: enclosing quotes are "
      "removed when it is read\n";
  const std::pair<const char*, const std::string*> cases[] = {
      {"' K'", &trimmed},
      {"'K '", &trimmed},
      {"\"$(printf '\\tK')\"", &trimmed},
      {"\"$(printf 'K\\t')\"", &trimmed},
      {"'\"K\"'", &quoted},
      {"\"'K'\"", &quoted},
      {"\"'\"", &quoted},
      {"'\"'", &quoted},
  };
  for (const auto& [value, message] : cases) {
    EXPECT_EQ(Tool("encrypt " + Path("x.dat") + " --value " + value + " --key machine", &out), 2) << value;
    EXPECT_EQ(out, *message) << value;
    EXPECT_FALSE(m.DataExists("x.dat")) << value;
  }
  // Inner blanks and quotes, and a lone quote, come back as they are.
  for (const char* value : {"'K 1'", "'\"K'", "'a\"b\"'", "\"K'\""}) {
    ASSERT_EQ(Tool("encrypt " + Path("x.dat") + " --value " + value + " --key machine", &out), 0) << value << out;
    ASSERT_EQ(Tool("inspect " + Path("x.dat") + " --show-value", &out), 0) << value;
  }
}

TEST_F(ReqDatTool, RebindInPlaceKilledAtItsWriteLeavesTheFileWhole) {
  m.WriteOldBoundKeyFile("VK-0123456789");
  const std::string before = m.ReadData("req.dat");
  const std::string rebind = std::string(VELK_BINARY_DIR) + "/velk-reqdat rebind " + Path("req.dat") + " " +
                             Path("req.dat") + " --from machine-old --to machine";
  // A file size limit of 0 ends the process with SIGXFSZ at its first write.
  int code = -1;
  RunCommand("sh -c 'ulimit -f 0; exec " + rebind + "' 2>/dev/null", &code);
  EXPECT_NE(code, 0);
  EXPECT_EQ(m.ReadData("req.dat"), before);
  // Unlimited, it rebinds in place, and a hard link to the old file keeps the old bytes.
  std::filesystem::create_hard_link(Path("req.dat"), Path("old-link"));
  ASSERT_EQ(Tool("rebind " + Path("req.dat") + " " + Path("req.dat") + " --from machine-old --to machine", &out), 0)
      << out;
  EXPECT_EQ(Decrypt(NewKey(), m.ReadData("req.dat")), ConvertedPlaintext(NewKey(), "VK-0123456789"));
  EXPECT_EQ(m.ReadData("old-link"), before);
}

}  // namespace
}  // namespace velk_test
