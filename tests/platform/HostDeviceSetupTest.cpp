#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <set>

#include "platform/DeviceSetup.h"
#include "platform/LastError.h"
#include "platform/NetConnections.h"
#include "platform/Registry.h"
#include "platform/host/machine/InfFile.h"
#include "platform/host/machine/PnpStore.h"
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
  EXPECT_EQ(InfClassError("[Version]\r\nSignature=\"$Windows NT$\"\r\n"),
            static_cast<DWORD>(ERROR_NO_ASSOCIATED_CLASS));
  EXPECT_EQ(InfClassError("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\nClassGUID={4d36e972-e325}\r\n"),
            static_cast<DWORD>(ERROR_INVALID_CLASS));
  // One of the two is completed from the classes the machine knows.
  EXPECT_EQ(InfClassError("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\n"),
            static_cast<DWORD>(ERROR_NO_ASSOCIATED_CLASS));
  pnp::WriteString(kNetClassKey, L"Class", L"Net");
  EXPECT_EQ(InfClassError("[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=NET\r\n"), 0u);
  EXPECT_EQ(
      InfClassError("[Version]\r\nSignature=\"$CHICAGO$\"\r\nClassGuid={4D36E972-E325-11CE-BFC1-08002BE10318}\r\n"),
      0u);
}

TEST_F(HostDeviceSetupTest, UnicodeInfWithContinuedLines) {
  std::wstring text =
      L"\uFEFF[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\nClassGUID=\\\r\n"
      L"{4d36e972-e325-11ce-bfc1-08002be10318}\r\n";
  std::string bytes;
  for (wchar_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>((c >> 8) & 0xFF);
  }
  EXPECT_EQ(InfClassError(bytes), 0u);
  platform::host::InfFile inf =
      platform::host::InfFile::Parse("[S]\r\nk = \"a;b\", c ; note\r\n%x% = 1\r\n[Strings]\r\nx=\"y\"\r\n");
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
  ASSERT_TRUE(
      setup.GetDeviceProperty(set, &first, &kDriverInfPath, &type, reinterpret_cast<BYTE*>(inf), sizeof inf, nullptr));
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
  EXPECT_EQ(folder->SetNameOf(nullptr, first.Get(), names[1] == L"Ethernet" ? L"ETHERNET" : L"ethernet 2", SHGDN_NORMAL,
                              renamed.Put()),
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

// Runs body(i) in count processes that start together; their exit codes.
std::vector<int> InProcesses(int count, const std::function<int(int)>& body) {
  int gate[2];
  if (::pipe(gate) != 0) return {};
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      while (::read(gate[0], &c, 1) < 0) {
      }
      ::_exit(body(i));
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);  // opens the gate
  std::vector<int> codes;
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }
  return codes;
}

// The steps of an adapter installation with a connection renamed to
// newName, as a separate process runs them; 0, or the failed step's number
// (20 and up: the renaming, 30 when the name was taken).
int InstallInChild(const wchar_t* newName) {
  DeviceSetup& setup = DeviceSetup::Default();
  HDEVINFO set = setup.CreateDeviceInfoList(&kNet);
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  if (!setup.CreateDeviceInfo(set, L"Net", &kNet, DICD_GENERATE_ID, &d)) return 1;
  const wchar_t list[] = L"root\\vnet\0";
  if (!setup.SetDeviceRegistryProperty(set, &d, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(list), sizeof list))
    return 2;
  if (!setup.CallClassInstaller(DIF_REGISTERDEVICE, set, &d)) return 3;
  BOOL reboot = FALSE;
  if (!setup.UpdateDriver(nullptr, L"root\\vnet", L"C:\\velk\\vnet.inf", INSTALLFLAG_FORCE, &reboot)) return 4;
  wchar_t driver[64];
  DWORD type = 0;
  if (!setup.GetDeviceRegistryProperty(set, &d, SPDRP_DRIVER, &type, reinterpret_cast<BYTE*>(driver), sizeof driver,
                                       nullptr))
    return 5;
  setup.DestroyDeviceInfoList(set);
  if (!newName) return 0;
  std::wstring netId, current;
  if (!pnp::ReadString(std::wstring(pnp::kClass) + L"\\" + driver, L"NetCfgInstanceId", &netId) ||
      !pnp::ReadString(std::wstring(pnp::kNetwork) + L"\\" + pnp::kNetClassGuid + L"\\" + netId + L"\\Connection",
                       L"Name", &current))
    return 20;
  platform::NetConnections& shell = platform::NetConnections::Default();
  platform::PortRef<platform::ShellAllocator> allocator;
  platform::PortRef<platform::ConnectionFolder> folder;
  platform::PortRef<platform::ConnectionEnumerator> items;
  if (shell.GetMalloc(allocator.Put()) != S_OK || shell.CreateFolder(folder.Put()) != S_OK ||
      folder->EnumObjects(nullptr, SHCONTF_NONFOLDERS, items.Put()) != S_OK)
    return 21;
  for (;;) {
    platform::ShellMemory<LPITEMIDLIST> item(allocator.Get());
    if (items->Next(item.Put()) != S_OK) return 22;
    STRRET name{};
    if (folder->GetDisplayNameOf(item.Get(), SHGDN_NORMAL, &name) != S_OK) return 23;
    bool mine = current == name.pOleStr;
    allocator->Free(name.pOleStr);
    if (!mine) continue;
    platform::ShellMemory<LPITEMIDLIST> renamed(allocator.Get());
    HRESULT hr = folder->SetNameOf(nullptr, item.Get(), newName, SHGDN_NORMAL, renamed.Put());
    return hr == S_OK ? 0 : hr == static_cast<HRESULT>(0x800700B7) ? 30 : 24;
  }
}

int RemoveInChild(const std::wstring& instanceId) {
  DeviceSetup& setup = DeviceSetup::Default();
  HDEVINFO set = setup.GetClassDevs(&kNet, DIGCF_PRESENT);
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  for (DWORD i = 0; setup.EnumDeviceInfo(set, i, &d); ++i) {
    wchar_t id[260];
    if (!setup.GetDeviceInstanceId(set, &d, id, 260, nullptr)) return 2;
    if (instanceId != id) continue;
    SP_REMOVEDEVICE_PARAMS remove{};
    remove.ClassInstallHeader.cbSize = sizeof remove.ClassInstallHeader;
    remove.ClassInstallHeader.InstallFunction = DIF_REMOVE;
    remove.Scope = DI_REMOVEDEVICE_GLOBAL;
    if (!setup.SetClassInstallParams(set, &d, &remove.ClassInstallHeader, sizeof remove)) return 3;
    if (!setup.CallClassInstaller(DIF_REMOVE, set, &d)) return 4;
    setup.DestroyDeviceInfoList(set);
    return 0;
  }
  return 1;
}

class ConcurrentDeviceSetupTest : public HostDeviceSetupTest {
 protected:
  // Devices, driver keys, connections and the store agree with each other
  // as after installations one at a time: every present device has its own
  // driver key, configuration id and connection, no key is left without a
  // device, names are unique and one package serves them all.
  void ExpectConsistent(size_t devices) {
    std::vector<std::wstring> present = Present();
    EXPECT_EQ(present.size(), devices);
    std::set<std::wstring> drivers, netIds, names, owners;
    for (const auto& id : present) {
      std::wstring driver = Read(std::wstring(pnp::kEnum) + L"\\" + id, L"Driver");
      drivers.insert(driver);
      EXPECT_EQ(Read(std::wstring(pnp::kClass) + L"\\" + driver, L"InfPath"), L"oem0.inf") << driver;
      netIds.insert(Read(std::wstring(pnp::kClass) + L"\\" + driver, L"NetCfgInstanceId"));
    }
    EXPECT_EQ(drivers.size(), devices);
    EXPECT_EQ(netIds.size(), devices);
    EXPECT_EQ(pnp::Subkeys(kNetClassKey).size(), devices);  // no orphaned driver key
    std::vector<pnp::Connection> connections = pnp::Connections();
    EXPECT_EQ(connections.size(), devices);
    for (const auto& c : connections) {
      std::wstring upper = c.name;
      for (auto& ch : upper) ch = static_cast<wchar_t>(std::towupper(ch));
      names.insert(upper);
      owners.insert(Read(c.key, L"PnpInstanceID"));
    }
    EXPECT_EQ(names.size(), devices);
    EXPECT_EQ(owners, std::set<std::wstring>(present.begin(), present.end()));
    std::vector<std::string> store;
    for (const auto& entry : std::filesystem::directory_iterator(machine.Root() / "drive_c/Windows/INF"))
      store.push_back(entry.path().filename().string());
    EXPECT_THAT(store, testing::ElementsAre("oem0.inf"));
    EXPECT_THAT(pnp::Subkeys(kEnumNet), testing::UnorderedElementsAreArray(Ids(present)));
  }

  static std::vector<std::wstring> Ids(const std::vector<std::wstring>& present) {
    std::vector<std::wstring> out;
    for (const auto& id : present) out.push_back(id.substr(id.rfind(L'\\') + 1));
    return out;
  }
};

TEST_F(ConcurrentDeviceSetupTest, InstallsAndRemovalsAtOnceEndAsOneAfterAnother) {
  constexpr int kProcesses = 6;
  // Six installations, each renaming its connection to the same name: one
  // gets it, the others are refused as on Windows.
  std::vector<int> codes = InProcesses(kProcesses, [](int) { return InstallInChild(L"velk access"); });
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0), 1) << testing::PrintToString(codes);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 30), kProcesses - 1) << testing::PrintToString(codes);
  std::vector<std::wstring> expected;
  for (int i = 0; i < kProcesses; ++i) expected.push_back(L"ROOT\\NET\\000" + std::to_wstring(i));
  EXPECT_THAT(Present(), testing::UnorderedElementsAreArray(expected));
  ExpectConsistent(kProcesses);
  std::vector<std::wstring> names;
  for (const auto& c : pnp::Connections()) names.push_back(c.name);
  EXPECT_THAT(
      names, testing::UnorderedElementsAre(L"velk access", testing::_, testing::_, testing::_, testing::_, testing::_));

  // Half remove a device while the other half install new ones.
  codes = InProcesses(kProcesses, [&](int i) {
    return i % 2 ? RemoveInChild(expected[static_cast<size_t>(i)]) : InstallInChild(nullptr);
  });
  EXPECT_THAT(codes, testing::Each(0));
  ExpectConsistent(kProcesses);
  // The kept devices stay; freed instance numbers may be taken again.
  EXPECT_THAT(Present(), testing::IsSupersetOf({expected[0], expected[2], expected[4]}));
}

}  // namespace
