#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/DeviceSetup.h"
#include "platform/LastError.h"
#include "platform/NetConnections.h"
#include "platform/Registry.h"
#include "platform/host/InfFile.h"
#include "platform/host/PnpStore.h"
#include "support/TempMachine.h"

namespace {

using platform::DeviceSetup;
namespace pnp = platform::host::pnp;

const char kNetInf[] =
    "; driver-less network adapter\r\n"
    "[Version]\r\n"
    "Signature = \"$Windows NT$\"\r\n"
    "Class = Net\r\n"
    "ClassGUID = {4d36e972-e325-11ce-bfc1-08002be10318}\r\n"
    "Provider = %Maker%\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "%Maker% = Models, NTamd64\r\n"
    "\r\n"
    "[Models.NTamd64]\r\n"
    "%Desc% = VNet.Install, root\\vnet ; the id the kit installs\r\n"
    "\r\n"
    "[VNet.Install]\r\n"
    "Characteristics = 0x1\r\n"
    "\r\n"
    "[Strings]\r\n"
    "Maker = \"TESSMAR\"\r\n"
    "Desc = \"velk-access Virtual Adapter\"\r\n";

const GUID kNet = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const DEVPROPKEY kDriverInfPath = {{0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}}, 5};
const std::wstring kEnumNet = L"SYSTEM\\CurrentControlSet\\Enum\\ROOT\\NET";
const std::wstring kNetClassKey = L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}";

class HostDeviceSetupTest : public ::testing::Test {
 protected:
  HostDeviceSetupTest() : setup(DeviceSetup::Default()) {
    machine.Write("registry/HKLM.reg", "Windows Registry Editor Version 5.00\r\n\r\n");
    machine.Write("drive_c/velk/vnet.inf", kNetInf);
    velk_test::TempMachine::Reload();
  }

  DWORD InfClassError(const std::string& inf) {
    machine.Write("drive_c/velk/other.inf", inf);
    GUID g;
    wchar_t name[32];
    platform::SetLastErrorCode(0);
    if (setup.GetInfClass(L"C:\\velk\\other.inf", &g, name, 32)) return 0;
    return platform::GetLastErrorCode();
  }

  // Creates and registers a device as the installation does; its instance id.
  std::wstring Register(const std::wstring& hwid) {
    HDEVINFO set = setup.CreateDeviceInfoList(&kNet);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA d{};
    d.cbSize = sizeof d;
    EXPECT_TRUE(setup.CreateDeviceInfo(set, L"Net", &kNet, DICD_GENERATE_ID, &d));
    std::wstring list = hwid + std::wstring(2, L'\0');
    EXPECT_TRUE(setup.SetDeviceRegistryProperty(set, &d, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(list.data()),
                                                static_cast<DWORD>(list.size() * sizeof(wchar_t))));
    EXPECT_TRUE(setup.CallClassInstaller(DIF_REGISTERDEVICE, set, &d));
    wchar_t id[260];
    EXPECT_TRUE(setup.GetDeviceInstanceId(set, &d, id, 260, nullptr));
    EXPECT_TRUE(setup.DestroyDeviceInfoList(set));
    return id;
  }

  BOOL Update(const wchar_t* hwid = L"root\\vnet", const wchar_t* inf = L"C:\\velk\\vnet.inf") {
    BOOL reboot = TRUE;
    BOOL ok = setup.UpdateDriver(nullptr, hwid, inf, INSTALLFLAG_FORCE, &reboot);
    if (ok) {
      EXPECT_FALSE(reboot);
    }
    return ok;
  }

  std::wstring Read(const std::wstring& key, const wchar_t* name) {
    std::wstring v;
    return pnp::ReadString(key, name, &v) ? v : L"<none>";
  }

  // Present devices of the class: instance id -> element.
  std::vector<std::wstring> Present(HDEVINFO* keep = nullptr) {
    HDEVINFO set = setup.GetClassDevs(&kNet, DIGCF_PRESENT);
    std::vector<std::wstring> ids;
    SP_DEVINFO_DATA d{};
    d.cbSize = sizeof d;
    for (DWORD i = 0; setup.EnumDeviceInfo(set, i, &d); ++i) {
      wchar_t id[260];
      EXPECT_TRUE(setup.GetDeviceInstanceId(set, &d, id, 260, nullptr));
      ids.push_back(id);
    }
    EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    if (keep)
      *keep = set;
    else
      setup.DestroyDeviceInfoList(set);
    return ids;
  }

  bool StoreHas(const char* name) { return std::filesystem::exists(machine.Root() / "drive_c/Windows/INF" / name); }

  velk_test::TempMachine machine;
  DeviceSetup& setup;
};

TEST_F(HostDeviceSetupTest, InfClassComesFromTheVersionSection) {
  GUID g{};
  wchar_t name[32];
  ASSERT_TRUE(setup.GetInfClass(L"c:\\VELK\\vnet.INF", &g, name, 32));
  EXPECT_EQ(platform::GuidText(g), L"{4D36E972-E325-11CE-BFC1-08002BE10318}");
  EXPECT_STREQ(name, L"Net");
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(setup.GetInfClass(L"C:\\velk\\vnet.inf", &g, name, 3));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  EXPECT_FALSE(setup.GetInfClass(L"C:\\velk\\missing.inf", &g, name, 32));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(setup.GetInfClass(L"", &g, name, 32));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_EQ(InfClassError("[Strings]\r\nA=b\r\n"), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));
  EXPECT_EQ(InfClassError("[Version]\r\nClass=Net\r\n"), static_cast<DWORD>(ERROR_WRONG_INF_STYLE));
  EXPECT_EQ(InfClassError("[Version]\r\nSignature=\"$Windows NT$\"\r\n"), static_cast<DWORD>(ERROR_NO_ASSOCIATED_CLASS));
  EXPECT_EQ(InfClassError("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\nClassGUID={4d36e972-e325}\r\n"),
            static_cast<DWORD>(ERROR_INVALID_CLASS));
  // One of the two is completed from the classes the machine knows.
  EXPECT_EQ(InfClassError("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\n"),
            static_cast<DWORD>(ERROR_NO_ASSOCIATED_CLASS));
  pnp::WriteString(kNetClassKey, L"Class", L"Net");
  EXPECT_EQ(InfClassError("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=NET\r\n"), 0u);
  EXPECT_EQ(InfClassError("[Version]\r\nSignature=\"$CHICAGO$\"\r\nClassGuid={4D36E972-E325-11CE-BFC1-08002BE10318}\r\n"),
            0u);
}

TEST_F(HostDeviceSetupTest, UnicodeInfWithContinuedLines) {
  std::wstring text = L"\uFEFF[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\nClassGUID=\\\r\n"
                      L"{4d36e972-e325-11ce-bfc1-08002be10318}\r\n";
  std::string bytes;
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  EXPECT_EQ(InfClassError(bytes), 0u);
  platform::host::InfFile inf = platform::host::InfFile::Parse("[S]\r\nk = \"a;b\", c ; note\r\n%x% = 1\r\n[Strings]\r\nx=\"y\"\r\n");
  auto lines = inf.Lines(L"s");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]->key, L"k");
  EXPECT_THAT(lines[0]->fields, testing::ElementsAre(L"a;b", L"c"));
  EXPECT_EQ(inf.Expand(lines[1]->key), L"y");
  EXPECT_EQ(inf.Expand(L"100%% %unknown%"), L"100% %unknown%");
}

TEST_F(HostDeviceSetupTest, InstallAndRemoveTwoAdapters) {
  EXPECT_EQ(Register(L"root\\vnet"), L"ROOT\\NET\\0000");
  ASSERT_TRUE(Update());
  EXPECT_EQ(Register(L"ROOT\\VNET"), L"ROOT\\NET\\0001");
  ASSERT_TRUE(Update());  // covers both devices, with one package

  EXPECT_EQ(Read(kEnumNet + L"\\0000", L"ClassGUID"), L"{4d36e972-e325-11ce-bfc1-08002be10318}");
  EXPECT_EQ(Read(kEnumNet + L"\\0000", L"Driver"), L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0000");
  EXPECT_EQ(Read(kEnumNet + L"\\0001", L"Driver"), L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0001");
  EXPECT_EQ(Read(kNetClassKey, L"Class"), L"Net");
  EXPECT_EQ(Read(kNetClassKey + L"\\0000", L"InfPath"), L"oem0.inf");
  EXPECT_EQ(Read(kNetClassKey + L"\\0000", L"DriverDesc"), L"velk-access Virtual Adapter");
  EXPECT_EQ(Read(kNetClassKey + L"\\0001", L"InfPath"), L"oem0.inf");
  EXPECT_TRUE(StoreHas("oem0.inf"));
  EXPECT_FALSE(StoreHas("oem1.inf"));
  std::vector<pnp::Connection> connections = pnp::Connections();
  ASSERT_EQ(connections.size(), 2u);
  std::vector<std::wstring> names = {connections[0].name, connections[1].name};
  EXPECT_THAT(names, testing::UnorderedElementsAre(L"Ethernet", L"Ethernet 2"));
  std::wstring netId = Read(kNetClassKey + L"\\0000", L"NetCfgInstanceId");
  EXPECT_EQ(netId.size(), 38u);
  EXPECT_EQ(Read(L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4d36e972-e325-11ce-bfc1-08002be10318}\\" + netId +
                     L"\\Connection",
                 L"PnpInstanceID"),
            L"ROOT\\NET\\0000");

  HDEVINFO set = nullptr;
  ASSERT_THAT(Present(&set), testing::ElementsAre(L"ROOT\\NET\\0000", L"ROOT\\NET\\0001"));
  SP_DEVINFO_DATA first{};
  first.cbSize = sizeof first;
  ASSERT_TRUE(setup.EnumDeviceInfo(set, 0, &first));
  DEVPROPTYPE type = 0;
  DWORD size = 0;
  EXPECT_FALSE(setup.GetDeviceProperty(set, &first, &kDriverInfPath, &type, nullptr, 0, &size));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(type, static_cast<DEVPROPTYPE>(DEVPROP_TYPE_STRING));
  EXPECT_EQ(size, 9 * sizeof(wchar_t));
  wchar_t inf[16];
  ASSERT_TRUE(setup.GetDeviceProperty(set, &first, &kDriverInfPath, &type, reinterpret_cast<BYTE*>(inf), sizeof inf,
                                      nullptr));
  EXPECT_STREQ(inf, L"oem0.inf");

  // The package stays while a device uses it.
  EXPECT_FALSE(setup.UninstallOemInf(L"oem0.inf", 0));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INF_IN_USE_BY_DEVICES));

  SP_REMOVEDEVICE_PARAMS remove{};
  remove.ClassInstallHeader.cbSize = sizeof remove.ClassInstallHeader;
  remove.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  remove.Scope = DI_REMOVEDEVICE_GLOBAL;
  ASSERT_TRUE(setup.SetClassInstallParams(set, &first, &remove.ClassInstallHeader, sizeof remove));
  ASSERT_TRUE(setup.CallClassInstaller(DIF_REMOVE, set, &first));
  EXPECT_FALSE(pnp::KeyExists(kEnumNet + L"\\0000"));
  EXPECT_FALSE(pnp::KeyExists(kNetClassKey + L"\\0000"));
  EXPECT_EQ(pnp::Connections().size(), 1u);
  EXPECT_FALSE(setup.UninstallOemInf(L"oem0.inf", 0));
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  ASSERT_TRUE(setup.GetDeviceInstallParams(set, &first, &params));
  EXPECT_EQ(params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT), 0u);
  // A second removal of the same element finds nothing.
  EXPECT_FALSE(setup.CallClassInstaller(DIF_REMOVE, set, &first));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));

  SP_DEVINFO_DATA second{};
  second.cbSize = sizeof second;
  ASSERT_TRUE(setup.EnumDeviceInfo(set, 1, &second));
  ASSERT_TRUE(setup.CallClassInstaller(DIF_REMOVE, set, &second));
  EXPECT_TRUE(setup.UninstallOemInf(L"OEM0.INF", 0));
  EXPECT_FALSE(StoreHas("oem0.inf"));
  EXPECT_FALSE(pnp::KeyExists(kEnumNet));
  EXPECT_TRUE(pnp::Connections().empty());
  EXPECT_TRUE(setup.DestroyDeviceInfoList(set));
  EXPECT_FALSE(setup.DestroyDeviceInfoList(set));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(HostDeviceSetupTest, RegisteredDevicesArePresentUnlessPhantom) {
  // An element never registered leaves nothing behind.
  HDEVINFO set = setup.CreateDeviceInfoList(&kNet);
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  ASSERT_TRUE(setup.CreateDeviceInfo(set, L"Net", &kNet, DICD_GENERATE_ID, &d));
  ASSERT_TRUE(setup.DestroyDeviceInfoList(set));
  EXPECT_FALSE(pnp::KeyExists(kEnumNet));

  // A node whose driver never came (an interrupted installation) is present.
  EXPECT_EQ(Register(L"root\\vnet"), L"ROOT\\NET\\0000");
  HDEVINFO all = nullptr;
  EXPECT_THAT(Present(&all), testing::ElementsAre(L"ROOT\\NET\\0000"));
  SP_DEVINFO_DATA e{};
  e.cbSize = sizeof e;
  EXPECT_TRUE(setup.EnumDeviceInfo(all, 0, &e));
  DWORD type = 0, size = 0;
  EXPECT_FALSE(setup.GetDeviceRegistryProperty(all, &e, SPDRP_DRIVER, &type, nullptr, 0, &size));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_FALSE(setup.GetDeviceRegistryProperty(all, &e, SPDRP_HARDWAREID, &type, nullptr, 0, &size));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(size, 11 * sizeof(wchar_t));
  DEVPROPTYPE propType = 0;
  EXPECT_FALSE(setup.GetDeviceProperty(all, &e, &kDriverInfPath, &propType, nullptr, 0, &size));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_NOT_FOUND));
  setup.DestroyDeviceInfoList(all);

  // A phantom is listed only without DIGCF_PRESENT and gets no driver.
  DWORD one = 1;
  pnp::WriteRaw(kEnumNet + L"\\0000", L"Phantom", REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  EXPECT_TRUE(Present().empty());
  all = setup.GetClassDevs(&kNet, 0);
  EXPECT_TRUE(setup.EnumDeviceInfo(all, 0, &e));
  setup.DestroyDeviceInfoList(all);
  EXPECT_FALSE(Update());
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
  EXPECT_EQ(Register(L"root\\vnet"), L"ROOT\\NET\\0001");
  ASSERT_TRUE(Update());
  EXPECT_THAT(Present(), testing::ElementsAre(L"ROOT\\NET\\0001"));
  EXPECT_EQ(Read(kEnumNet + L"\\0000", L"Driver"), L"<none>");
}

TEST_F(HostDeviceSetupTest, DriverUpdateFailures) {
  EXPECT_FALSE(Update());
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
  Register(L"root\\other");
  EXPECT_FALSE(Update(L"root\\other"));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_NO_COMPAT_DRIVERS));
  EXPECT_FALSE(Update(L"root\\vnet", L"C:\\velk\\missing.inf"));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(Update(L""));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(StoreHas("oem0.inf"));

  EXPECT_FALSE(setup.UninstallOemInf(L"vnet.inf", 0));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_NOT_AN_INSTALLED_OEM_INF));
  EXPECT_FALSE(setup.UninstallOemInf(L"oem4.inf", 0));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(HostDeviceSetupTest, ElementChecks) {
  HDEVINFO set = setup.CreateDeviceInfoList(&kNet);
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d - 1;
  EXPECT_FALSE(setup.CreateDeviceInfo(set, L"Net", &kNet, DICD_GENERATE_ID, &d));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  d.cbSize = sizeof d;
  GUID other = kNet;
  other.Data1 = 1;
  EXPECT_FALSE(setup.CreateDeviceInfo(set, L"Net", &other, DICD_GENERATE_ID, &d));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_CLASS_MISMATCH));
  EXPECT_FALSE(setup.CreateDeviceInfo(set, L"", &kNet, DICD_GENERATE_ID, &d));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_DEVINST_NAME));
  ASSERT_TRUE(setup.CreateDeviceInfo(set, L"Net", &kNet, DICD_GENERATE_ID, &d));
  SP_DEVINFO_DATA e{};
  e.cbSize = sizeof e;
  ASSERT_TRUE(setup.CreateDeviceInfo(set, L"Net", &kNet, DICD_GENERATE_ID, &e));
  wchar_t id[260];
  ASSERT_TRUE(setup.GetDeviceInstanceId(set, &e, id, 260, nullptr));
  EXPECT_STREQ(id, L"ROOT\\NET\\0001");  // 0000 is reserved by the first element
  DWORD required = 0;
  EXPECT_FALSE(setup.GetDeviceInstanceId(set, &e, id, 13, &required));
  EXPECT_EQ(required, 14u);
  const wchar_t bad[] = L"root\\vnet";  // no closing nulls
  EXPECT_FALSE(setup.SetDeviceRegistryProperty(set, &d, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(bad),
                                               9 * sizeof(wchar_t)));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_DATA));
  EXPECT_FALSE(setup.SetDeviceRegistryProperty(set, &d, SPDRP_DRIVER, reinterpret_cast<const BYTE*>(bad), 8));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_REG_PROPERTY));
  EXPECT_FALSE(setup.CallClassInstaller(DIF_REMOVE, set, &d));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_NO_SUCH_DEVINST));
  SP_CLASSINSTALL_HEADER header{sizeof header, DIF_REMOVE};
  EXPECT_FALSE(setup.SetClassInstallParams(set, &d, &header, sizeof header));
  EXPECT_EQ(platform::GetLastErrorCode(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(setup.DestroyDeviceInfoList(set));
  EXPECT_FALSE(pnp::KeyExists(kEnumNet));
}

TEST_F(HostDeviceSetupTest, ConnectionsFolderListsAndRenames) {
  Register(L"root\\vnet");
  Register(L"root\\vnet");
  ASSERT_TRUE(Update());
  platform::NetConnections& shell = platform::NetConnections::Default();
  platform::PortRef<platform::ShellAllocator> allocator;
  ASSERT_EQ(shell.GetMalloc(allocator.Put()), S_OK);
  platform::PortRef<platform::ConnectionFolder> folder;
  ASSERT_EQ(shell.CreateFolder(folder.Put()), S_OK);
  platform::PortRef<platform::ConnectionEnumerator> list;
  EXPECT_EQ(folder->EnumObjects(nullptr, SHCONTF_FOLDERS, list.Put()), S_FALSE);
  ASSERT_EQ(folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, list.Put()), S_OK);

  std::vector<std::wstring> names;
  platform::ShellMemory<LPITEMIDLIST> first(allocator.Get()), item(allocator.Get());
  ASSERT_EQ(list->Next(first.Put()), S_OK);
  ASSERT_EQ(list->Next(item.Put()), S_OK);
  platform::ShellMemory<LPITEMIDLIST> end(allocator.Get());
  EXPECT_EQ(list->Next(end.Put()), S_FALSE);
  for (LPITEMIDLIST i : {first.Get(), item.Get()}) {
    STRRET name{};
    ASSERT_EQ(folder->GetDisplayNameOf(i, SHGDN_NORMAL, &name), S_OK);
    ASSERT_EQ(name.uType, static_cast<UINT>(STRRET_WSTR));
    names.push_back(name.pOleStr);
    allocator->Free(name.pOleStr);
  }
  EXPECT_THAT(names, testing::UnorderedElementsAre(L"Ethernet", L"Ethernet 2"));

  platform::ShellMemory<LPITEMIDLIST> renamed(allocator.Get());
  EXPECT_EQ(folder->SetNameOf(nullptr, first.Get(), L"", SHGDN_NORMAL, renamed.Put()), E_INVALIDARG);
  EXPECT_EQ(folder->SetNameOf(nullptr, first.Get(), names[1] == L"Ethernet" ? L"ETHERNET" : L"ethernet 2",
                              SHGDN_NORMAL, renamed.Put()),
            static_cast<HRESULT>(0x800700B7));
  // Its own name in other letters is no clash.
  std::wstring own = names[0] == L"Ethernet" ? L"ETHERNET" : L"ETHERNET 2";
  EXPECT_EQ(folder->SetNameOf(nullptr, first.Get(), own.c_str(), SHGDN_NORMAL, renamed.Put()), S_OK);
  EXPECT_EQ(folder->SetNameOf(nullptr, first.Get(), L"velk access", SHGDN_NORMAL, renamed.Put()), S_OK);
  EXPECT_NE(renamed.Get(), nullptr);
  STRRET after{};
  ASSERT_EQ(folder->GetDisplayNameOf(renamed.Get(), SHGDN_NORMAL, &after), S_OK);
  EXPECT_STREQ(after.pOleStr, L"velk access");
  allocator->Free(after.pOleStr);
}

}  // namespace
