#include "MachineImport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "platform/host/machine/FileNames.h"
#include "platform/host/machine/RegFile.h"
#include "support/Command.h"
#include "support/TempMachine.h"

namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(VELK_SOURCE_DIR) / "tests/machine/data";
const wchar_t kWineUser[] = L"S-1-5-21-0-0-0-1000";

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteAll(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string RunExport(const fs::path& machine, const std::string& args) {
  std::string out = velk_test::RunCommand(std::string(VELK_BINARY_DIR) + "/tovrin-run --machine '" + machine.string() +
                                          "' " + args + " 2>&1");
  // Timestamps and process ids aside.
  std::string kept;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (line.rfind("####### Tovrin log PID=", 0) != 0)
      kept += (line.size() > 33 && line[4] == '-' ? line.substr(33) : line) + "\n";
  return kept;
}

class MachineImportTest : public ::testing::Test {
 protected:
  velk_test::TempMachine machine{""};
  velk_machine::ImportRequest Request() {
    velk_machine::ImportRequest r;
    r.machine = machine.Root();
    return r;
  }
};

// Exports made by a real regedit: the machine runs the OS check on them and
// the user's hive lands where the profile list says.
TEST_F(MachineImportTest, WineRegeditExportsMakeAMachine) {
  auto r = Request();
  r.exports = {kData / "wine-currentversion.reg", kData / "wine-profilelist.reg", kData / "wine-codepage.reg",
               kData / "wine-language.reg"};
  r.userExports = {{kWineUser, kData / "wine-user.reg"}};
  std::string report, error;
  ASSERT_TRUE(velk_machine::ImportMachine(r, &report, &error)) << error;
  EXPECT_EQ(report,
            "registry/HKLM.reg: 4 export(s) merged\n"
            "user S-1-5-21-0-0-0-1000: C:\\users\\root\\NTUSER.DAT\n"
            "machine.ini: acp=1252 ui_language=1033 user=S-1-5-21-0-0-0-1000\n");
  EXPECT_EQ(machine.Read("machine.ini"), "[machine]\nacp=1252 ui_language=1033\nuser=S-1-5-21-0-0-0-1000\n");
  EXPECT_EQ(machine.Read("registry/HKLM.reg").substr(0, 4), std::string("\xff\xfeW\0", 4));
  // The user's hive holds the export's keys, in the export's form.
  auto keys = [](const std::string& bytes) {
    platform::host::RegNode root;
    platform::host::RegFileForm form;
    std::string error;
    EXPECT_TRUE(platform::host::ParseRegFileBytes(bytes, L"HKEY_CURRENT_USER", "f", 1252, &root, &form, &error));
    EXPECT_EQ(form.encoding, platform::host::RegEncoding::kUtf16Le);
    return platform::host::FormatRegText(root, L"HKEY_CURRENT_USER");
  };
  EXPECT_EQ(keys(machine.Read("drive_c/users/root/NTUSER.DAT")), keys(ReadAll(kData / "wine-user.reg")));
  EXPECT_EQ(RunExport(machine.Root(), "IsSupportOS"),
            "I IsSupportOS - enter\n"
            "####### IsSupportOS(Major=10) #######\n"
            "####### IsSupportOS(Build=18362) #######\n"
            "####### Detect windows10 #######\n"
            "I IsSupportOS - leave\n"
            "Result: 0\n");
}

TEST_F(MachineImportTest, SettingsComeFromOptionsThenExports) {
  WriteAll(machine.Root() / "in/nls.reg",
           "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage]\r\n\"ACP\"=\"932\"\r\n"
           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language]\r\n\"Default\"=\"0411\"\r\n");
  struct Case {
    UINT acp, uiLanguage;
    std::string ini;
  } cases[] = {
      {0, 0, "[machine]\nacp=932 ui_language=1041\n"},
      {1252, 1033, "[machine]\nacp=1252 ui_language=1033\n"},
  };
  for (const auto& c : cases) {
    auto r = Request();
    r.exports = {machine.Root() / "in/nls.reg"};
    r.acp = c.acp;
    r.uiLanguage = c.uiLanguage;
    std::string report, error;
    ASSERT_TRUE(velk_machine::ImportMachine(r, &report, &error)) << error;
    EXPECT_EQ(machine.Read("machine.ini"), c.ini);
  }
}

TEST_F(MachineImportTest, ExportsThatCannotBePlacedAreRefused) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  struct Case {
    std::string file;
    bool asUser;
    std::string error;  // after the file name
  } cases[] = {
      {header + "[HKEY_CURRENT_USER\\Software]\r\n", false,
       ": an HKEY_CURRENT_USER export needs the SID of its user (--user SID FILE)"},
      {header + "[HKEY_CLASSES_ROOT\\.txt]\r\n", false,
       ": keys under HKEY_CLASSES_ROOT cannot be imported (expected HKEY_LOCAL_MACHINE or HKEY_USERS\\<SID> keys)"},
      {std::string("\xfe\xff\0W", 4), false,
       ": UTF-16 big-endian is not a registry file (expected \"Windows Registry Editor Version 5.00\" in UTF-16LE "
       "with a byte-order mark or in UTF-8, or \"REGEDIT4\" in code page 1252)"},
      {header + "[HKEY_USERS\\S-1-5-21-9]\r\n", false,
       "user S-1-5-21-9: no ProfileImagePath in the profile list (export "
       "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList too)"},
      {header + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n", true, ":3: key outside HKEY_CURRENT_USER"},
  };
  for (const auto& c : cases) {
    fs::path file = machine.Root() / "in/x.reg";
    WriteAll(file, c.file);
    auto r = Request();
    if (c.asUser)
      r.userExports = {{L"S-1-5-21-9", file}};
    else
      r.exports = {file};
    std::string report, error;
    EXPECT_FALSE(velk_machine::ImportMachine(r, &report, &error));
    EXPECT_EQ(error, c.error[0] == 'u' ? c.error : file.string() + c.error);
  }
}

TEST(MachineImportSid, OnlyTheStringFormOfASidIsOne) {
  for (const wchar_t* sid : {L"S-1-5-18", L"S-1-5-21-100-1001", L"S-1-5-21-4294967295-0-0-1000", L"S-1-0"})
    EXPECT_TRUE(velk_machine::IsSid(sid)) << sid;
  for (const wchar_t* text :
       {L"", L"S-1", L"S-1-", L"s-1-5-18", L"S-2-5", L"S-1-5-", L"S-1--5", L"S-1-5 ui_language=1041", L"S-1-5\n[evil]",
        L"S-1-5-21-4294967296", L"S-1-x", L"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"})
    EXPECT_FALSE(velk_machine::IsSid(text)) << text;
}

// What is not a SID never reaches machine.ini or a hive: each source of one
// is refused naming it; machine.ini stays as it was.
TEST_F(MachineImportTest, NamesThatAreNoSidsAreRefusedWhereverTheyComeFrom) {
  const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string tail = "\" is not a SID (expected S-1- followed by numbers); refused";
  fs::path in = machine.Root() / "in";
  WriteAll(in / "users.reg", header + "[HKEY_USERS\\S-1 ui_language=1041\\Software]\r\n");
  WriteAll(in / "user.reg", header + "[HKEY_CURRENT_USER\\Software]\r\n");
  WriteAll(in / "capture/machine.txt", "acp=1252\r\nuser=S-1-5-21-7 ui_language=1041\r\n");
  WriteAll(in / "capture2/machine.txt", "hives=S-1-5-21-7,../../x\r\n");
  WriteAll(machine.Root() / "machine.ini", "[machine]\nacp=1252\n");
  struct Case {
    std::function<void(velk_machine::ImportRequest&)> set;
    std::string error;
  } cases[] = {
      {[&](auto& r) { r.exports = {in / "users.reg"}; },
       (in / "users.reg").string() + ": \"S-1 ui_language=1041" + tail},
      {[&](auto& r) { r.current = L"S-1\n[evil]"; }, "--current: \"S-1\\x0a[evil]" + tail},
      {[&](auto& r) {
         r.userExports = {{L"S-1-5-21-x", in / "user.reg"}};
       },
       "--user: \"S-1-5-21-x" + tail},
      {[&](auto& r) { r.capture = in / "capture"; },
       (in / "capture/machine.txt").string() + ": \"S-1-5-21-7 ui_language=1041" + tail},
      {[&](auto& r) { r.capture = in / "capture2"; }, (in / "capture2/machine.txt").string() + ": \"../../x" + tail},
  };
  for (const auto& c : cases) {
    auto r = Request();
    c.set(r);
    std::string report, error;
    EXPECT_FALSE(velk_machine::ImportMachine(r, &report, &error)) << c.error;
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(machine.Read("machine.ini"), "[machine]\nacp=1252\n");
  }
}

TEST_F(MachineImportTest, PipesInACaptureFolderAreRefusedWithoutWaiting) {
  fs::path capture = machine.Root() / "capture";
  WriteAll(capture / "machine.txt", "acp=1252\r\n");
  fs::create_directories(capture / "registry");
  for (const fs::path& pipe :
       {capture / "registry/x.reg", capture / "smbios.bin", capture / "folders.txt", capture / "machine.txt"}) {
    fs::path saved = pipe;
    saved += ".saved";
    if (fs::exists(pipe)) fs::rename(pipe, saved);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    auto r = Request();
    r.capture = capture;
    std::string report, error;
    // A blocking open would wait here for ever for a writer.
    EXPECT_FALSE(velk_machine::ImportMachine(r, &report, &error)) << pipe;
    EXPECT_EQ(error, pipe.string() + ": not a regular file; refused");
    fs::remove(pipe);
    if (fs::exists(saved)) fs::rename(saved, pipe);
  }
}

// Both dump forms of one table give the firmware-table layout; the raw
// layout is kept as it is.
TEST_F(MachineImportTest, SmbiosDumpsBecomeTheRawLayout) {
  const std::string table("\x01\x04\x00\x00\x00\x00\x7f\x04\x01\x00\x00\x00", 12);
  std::string sm2(32, '\0');
  sm2.replace(0, 4, "_SM_");
  sm2[6] = 2, sm2[7] = 8, sm2[0x16] = 12, sm2[0x18] = 32;
  sm2.replace(0x10, 5, "_DMI_");
  std::string sm3(32, '\0');
  sm3.replace(0, 5, "_SM3_");
  sm3[7] = 3, sm3[8] = 2, sm3[9] = 1, sm3[0x0C] = 64, sm3[0x10] = 32;  // a maximum size past the end
  const std::string raw2 = std::string("\0\x02\x08\0\x0c\0\0\0", 8) + table;
  struct Case {
    std::string dump;
    std::string smbios;  // empty: refused
  } cases[] = {
      {sm2 + table, raw2}, {sm3 + table, std::string("\0\x03\x02\x01\x0c\0\0\0", 8) + table},
      {raw2, raw2},        {sm2 + table.substr(0, 5), ""},
      {"not a dump", ""},
  };
  for (const auto& c : cases) {
    WriteAll(machine.Root() / "in/dump.bin", c.dump);
    fs::remove(machine.Root() / "smbios.bin");
    auto r = Request();
    r.smbios = machine.Root() / "in/dump.bin";
    std::string report, error;
    EXPECT_EQ(velk_machine::ImportMachine(r, &report, &error), !c.smbios.empty()) << error;
    if (!c.smbios.empty()) {
      EXPECT_EQ(velk_test::Hex(machine.Read("smbios.bin")), velk_test::Hex(c.smbios));
    }
  }
}

// A capture folder: its report, its exports (one user through HKEY_USERS)
// and the folder layout with attributes.
TEST_F(MachineImportTest, CaptureFolderIsImportedWhole) {
  fs::path capture = machine.Root() / "capture";
  WriteAll(
      capture / "machine.txt",
      "acp=1252\r\nui_language=1041\r\nuser=S-1-5-21-7\r\nlogged_on=S-1-5-21-7\r\nhives=S-1-5-21-7,S-1-5-21-8\r\n");
  WriteAll(capture / "registry/hklm-profiles.reg",
           "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-7]\r\n"
           "\"ProfileImagePath\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,44,00,72,00,69,00,76,00,65,00,25,"
           "00,5c,00,55,00,73,00,65,00,72,00,73,00,5c,00,65,00,76,00,65,00,00,00\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-8]\r\n"
           "\"ProfileImagePath\"=\"C:\\\\Users\\\\mallory\"\r\n");
  WriteAll(capture / "registry/S-1-5-21-7.reg",
           "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_USERS\\S-1-5-21-7\\Software\\Pellacor\\velk]\r\n");
  WriteAll(capture / "smbios.bin", std::string("\0\x02\x08\0\0\0\0\0", 8));
  WriteAll(capture / "folders.txt",
           "00000010 C:\\Users\\eve\\AppData\\Local\\Pellacor\r\n"
           "00000012 C:\\Users\\eve\\AppData\\Local\\Pellacor\\velk\r\n"
           "00000021 C:\\Users\\eve\\AppData\\Local\\Pellacor\\velk\\req.dat\r\n");
  auto r = Request();
  r.capture = capture;
  std::string report, error;
  ASSERT_TRUE(velk_machine::ImportMachine(r, &report, &error)) << error;
  EXPECT_EQ(machine.Read("machine.ini"),
            "[machine]\nacp=1252 ui_language=1041\nuser=S-1-5-21-7\nlogged_on=S-1-5-21-7\n");
  EXPECT_EQ(machine.Read("drive_c/Users/eve/NTUSER.DAT"),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER]\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Pellacor\\velk]\r\n\r\n");
  // A profile whose hive held none of the kit's keys still has one.
  EXPECT_EQ(machine.Read("drive_c/Users/mallory/NTUSER.DAT"),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER]\r\n\r\n");
  EXPECT_EQ(machine.Read("smbios.bin").size(), 8u);
  fs::path velk = machine.Root() / "drive_c/Users/eve/AppData/Local/Pellacor/velk";
  EXPECT_EQ(platform::host::StoredDosAttributes(velk.c_str()), static_cast<unsigned long>(FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(platform::host::StoredDosAttributes((velk / "req.dat").c_str()),
            static_cast<unsigned long>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(fs::file_size(velk / "req.dat"), 0u);  // names only, never contents
  EXPECT_THAT(report, testing::HasSubstr("folders: 3 entries (names and attributes)\n"));
}

}  // namespace
