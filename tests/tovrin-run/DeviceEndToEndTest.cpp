// The device actions through tovrin-run on a machine folder, as msiexec
// and rundll32 call them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/Command.h"
#include "platform/host/machine/PnpStore.h"
#include "support/TempMachine.h"

namespace {

namespace pnp = platform::host::pnp;
using testing::HasSubstr;

const char kInf[] =
    "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\nClassGUID={4d36e972-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider=%Maker%\r\n[Manufacturer]\r\n%Maker%=Models,NTamd64\r\n[Models.NTamd64]\r\n"
    "%Desc%=VNet.Install,root\\vnet\r\n[VNet.Install]\r\n[Strings]\r\nMaker=\"TESSMAR\"\r\n"
    "Desc=\"velk-access Virtual Adapter\"\r\n";

// A machine with one adapter already connected as "Ethernet".
const char kHklm[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Network\\{4d36e972-e325-11ce-bfc1-08002be10318}\\"
    "{0A0B0C0D-0000-4000-8000-000000000001}\\Connection]\r\n\"Name\"=\"Ethernet\"\r\n";

std::string TovrinRun(const std::string& arguments) {
  std::string command = std::string(VELK_BINARY_DIR) + "/tovrin-run " + arguments + " 2>&1";
  return velk_test::RunCommand(command);
}

TEST(DeviceEndToEnd, InstallRenameAndUninstall) {
  velk_test::TempMachine machine;
  machine.Write("registry/HKLM.reg", kHklm);
  machine.Write("drive_c/Program Files/velk/driver/vnet.inf", kInf);
  const std::string m = "--machine '" + machine.Root().string() + "' ";

  std::string out = TovrinRun(m +
                              "InstallDevice 'TovrinData=/inf=\"C:\\Program Files\\velk\\driver\\vnet.inf\" "
                              "/hwid=root\\vnet /ConnName=\"velk-access\"'");
  EXPECT_THAT(out, HasSubstr(" I UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = 0\n"));
  EXPECT_THAT(out, HasSubstr(" I .uType:0 .pOleStr: \"Ethernet 2\"\n"));
  EXPECT_THAT(out, HasSubstr(" I Change connection name: \"Ethernet 2\" -> \"velk-access\"\n"));
  EXPECT_THAT(out, testing::EndsWith("Result: 0\n"));

  velk_test::TempMachine::Reload();
  const std::wstring node = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET\\0000";
  std::wstring driver, netId;
  ASSERT_TRUE(pnp::ReadString(node, L"Driver", &driver));
  const std::wstring driverKey = L"SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver;
  ASSERT_TRUE(pnp::ReadString(driverKey, L"NetCfgInstanceId", &netId));
  const std::wstring connection =
      L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4d36e972-e325-11ce-bfc1-08002be10318}\\" + netId;
  std::wstring name;
  ASSERT_TRUE(pnp::ReadString(connection + L"\\Connection", L"Name", &name));
  EXPECT_EQ(name, L"velk-access");
  EXPECT_TRUE(std::filesystem::exists(machine.Root() / "drive_c/Windows/INF/oem0.inf"));

  out = TovrinRun(m + "RunUninstallDeviceW '/hwid=root\\vnet' '/clsid={4D36E972-E325-11CE-BFC1-08002BE10318}'");
  EXPECT_THAT(out, HasSubstr(" I infPath = oem0.inf\n"));
  EXPECT_THAT(out, HasSubstr(" I ROOT\\NET\\0000 : RemoveDevice result = 00000000\n"));
  EXPECT_THAT(out, testing::EndsWith("HRESULT: 0x00000000\n"));

  velk_test::TempMachine::Reload();
  EXPECT_FALSE(pnp::KeyExists(node));
  EXPECT_FALSE(pnp::KeyExists(driverKey));
  EXPECT_FALSE(pnp::KeyExists(connection));
  EXPECT_FALSE(std::filesystem::exists(machine.Root() / "drive_c/Windows/INF/oem0.inf"));
  // The other adapter's connection is untouched.
  ASSERT_EQ(pnp::Connections().size(), 1u);
  EXPECT_EQ(pnp::Connections()[0].name, L"Ethernet");

  // A second uninstallation finds nothing and succeeds; a bad INF fails the installation.
  out = TovrinRun(m + "UninstallDevice 'TovrinData=/hwid=root\\vnet /clsid={4D36E972-E325-11CE-BFC1-08002BE10318}'");
  EXPECT_THAT(out, testing::EndsWith("Result: 0\n"));
  out = TovrinRun(m + "InstallDevice 'TovrinData=/inf=C:\\nowhere.inf /hwid=root\\vnet'");
  EXPECT_THAT(out, HasSubstr(" E SetupDiGetINFClass() = The system cannot find the file specified. (0x80070002)\n"));
  EXPECT_THAT(out, HasSubstr("Error 25000: -2147024894\n"));
  EXPECT_THAT(out, testing::EndsWith("Result: 1603\n"));
}

// As the installation script runs them: the session's TovrinData is out of
// reach, the parameters come in CustomActionData.
TEST(DeviceEndToEnd, DeferredInstallAndRollbackRemoval) {
  velk_test::TempMachine machine;
  machine.Write("registry/HKLM.reg", kHklm);
  machine.Write("drive_c/velk/vnet.inf", kInf);
  const std::string m = "--machine '" + machine.Root().string() + "' ";

  std::string out =
      TovrinRun(m +
                "--deferred InstallDevice 'TovrinData=/inf=C:\\nowhere.inf' HelpUrl=https://help.example/ "
                "'CustomActionData=/inf=\"C:\\velk\\vnet.inf\" /hwid=root\\vnet'");
  EXPECT_THAT(out, HasSubstr(" I CustomActionData:/inf=\"C:\\velk\\vnet.inf\" /hwid=root\\vnet\n"));
  EXPECT_THAT(out, testing::Not(HasSubstr("TovrinData:")));
  EXPECT_THAT(out, HasSubstr(" I UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = 0\n"));
  EXPECT_THAT(out, testing::EndsWith("Result: 0\n"));
  velk_test::TempMachine::Reload();
  EXPECT_TRUE(pnp::KeyExists(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET\\0000"));

  out = TovrinRun(m +
                  "--rollback UninstallDevice "
                  "'CustomActionData=/hwid=root\\vnet /clsid={4D36E972-E325-11CE-BFC1-08002BE10318}'");
  EXPECT_THAT(out, HasSubstr(" I ROOT\\NET\\0000 : RemoveDevice result = 00000000\n"));
  EXPECT_THAT(out, testing::EndsWith("Result: 0\n"));
  velk_test::TempMachine::Reload();
  EXPECT_FALSE(pnp::KeyExists(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET\\0000"));
}

TEST(DeviceEndToEnd, ANodeLeftByAFailedInstallationIsRemoved) {
  velk_test::TempMachine machine;
  machine.Write("registry/HKLM.reg", kHklm);
  machine.Write("drive_c/velk/vnet.inf", kInf);
  const std::string m = "--machine '" + machine.Root().string() + "' ";

  // The INF has no driver for this id: the node stays registered without one.
  std::string out = TovrinRun(m + "RunInstallDeviceW '/inf=C:\\velk\\vnet.inf' '/hwid=root\\other'");
  EXPECT_THAT(out, HasSubstr(" E UpdateDriverForPlugAndPlayDevices() = (0xe0000228)\n"));
  EXPECT_THAT(out, testing::EndsWith("HRESULT: 0xe0000228\n"));
  velk_test::TempMachine::Reload();
  EXPECT_TRUE(pnp::KeyExists(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET\\0000"));

  out = TovrinRun(m + "RunUninstallDeviceW '/hwid=root\\other' '/clsid={4D36E972-E325-11CE-BFC1-08002BE10318}'");
  EXPECT_THAT(out, HasSubstr(" E SetupDiGetDeviceProperty() = Element not found. (0x80070490)\n"));
  EXPECT_THAT(out, HasSubstr(" I ROOT\\NET\\0000 : RemoveDevice result = 00000000\n"));
  velk_test::TempMachine::Reload();
  EXPECT_FALSE(pnp::KeyExists(L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET"));
}

// A drive that is no letter A to Z maps nowhere: the INF beside the machine
// folder, named through it with ".." steps, is not found and not copied in.
TEST(DeviceEndToEnd, APathOutsideTheMachineIsNotReached) {
  velk_test::TempMachine machine;
  machine.Write("registry/HKLM.reg", kHklm);
  std::filesystem::path outside = machine.Root().parent_path() / (machine.Root().filename().string() + "-outside.inf");
  std::ofstream(outside, std::ios::binary) << kInf;
  const std::string m = "--machine '" + machine.Root().string() + "' ";
  const std::string name = outside.filename().string();
  for (const std::string& drive : {"\xC8\xAF", "\xC4\xAF", "0"}) {  // U+022F and U+012F in UTF-8, a digit
    std::string out =
        TovrinRun(m + "RunInstallDeviceW '/inf=" + drive + ":\\a\\..\\..\\..\\" + name + "' '/hwid=root\\vnet'");
    EXPECT_THAT(out, HasSubstr(" E SetupDiGetINFClass() = The system cannot find the file specified. (0x80070002)\n"))
        << drive;
    EXPECT_THAT(out, testing::EndsWith("HRESULT: 0x80070002\n"));
  }
  const std::filesystem::path store = machine.Root() / "drive_c/Windows/INF";
  EXPECT_TRUE(!std::filesystem::exists(store) || std::filesystem::is_empty(store));
  std::filesystem::remove(outside);
}

}  // namespace
