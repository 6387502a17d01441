#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "DeviceFixture.h"

extern "C" UINT UninstallDevice(MSIHANDLE install);
extern "C" HRESULT RunUninstallDeviceW(HWND, HINSTANCE, LPWSTR, int);

namespace {

using testing::ElementsAre;
using velk_test::FakeDevice;
using velk_test::FakeInstaller;
using velk_test::MultiSz;

class UninstallDeviceTest : public velk_test::DeviceFixture {
 protected:
  UninstallDeviceTest() {
    params.Set("hwid", L"root\\vnet");
    params.Set("clsid", L"{4D36E972-E325-11CE-BFC1-08002BE10318}");
  }
  HRESULT Uninstall() { return TovrinModule().UninstallDevice(nullptr, params); }
  FakeDevice& Add(const std::wstring& instanceId, const std::vector<std::wstring>& ids) {
    FakeDevice d;
    d.instanceId = instanceId;
    d.hardwareIds = MultiSz(ids);
    setup.devices.push_back(d);
    return setup.devices.back();
  }
  static std::vector<std::string> RemovalOf(const std::string& id, const char* result, const char* inf = "oem7.inf") {
    return {"I CTovrinModule::RemoveDevice - enter", std::string("I infPath = ") + inf,
            "I CTovrinModule::RemoveDevice - leave", "I " + id + " : RemoveDevice result = " + result};
  }

  CActionParameters params;
};

TEST_F(UninstallDeviceTest, NoDeviceOfTheClass) {
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_THAT(Messages(),
              ElementsAre("I CTovrinModule::UninstallDevice - enter", "I CTovrinModule::UninstallDevice - leave"));
  ASSERT_TRUE(setup.listedClass.has_value());
  EXPECT_EQ(platform::GuidText(*setup.listedClass), L"{4D36E972-E325-11CE-BFC1-08002BE10318}");
  EXPECT_EQ(setup.listedFlags, static_cast<DWORD>(DIGCF_PRESENT));
  EXPECT_EQ(setup.liveSets, 0u);
}

TEST_F(UninstallDeviceTest, RemovesMatchingDevicesAndTheirPackages) {
  Add(L"ROOT\\NET\\0000", {L"root\\vnet"});
  Add(L"ROOT\\NET\\0001", {L"ROOT\\VNET"});  // ids compare with case
  Add(L"ROOT\\NET\\0002", {L"root\\vnetx", L"root\\vnet"}).infName = L"oem9.inf";
  FakeDevice& plain = Add(L"ROOT\\NET\\0003", {});
  plain.hardwareIdType = REG_SZ;
  plain.hardwareIds = {L'r', L'o', L'o', L't', L'\\', L'v', L'n', L'e', L't', L'\0'};
  Add(L"PCI\\VEN_8086\\3", {L"root\\vn"});
  Add(L"ROOT\\NET\\0004", {});  // an empty list
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_THAT(setup.removedDevices, ElementsAre(L"ROOT\\NET\\0000", L"ROOT\\NET\\0002"));
  EXPECT_THAT(setup.uninstalledInfs, ElementsAre(L"oem7.inf", L"oem9.inf"));
  std::vector<std::string> expected = {"I CTovrinModule::UninstallDevice - enter"};
  for (const auto& l : RemovalOf("ROOT\\NET\\0000", "00000000")) expected.push_back(l);
  for (const auto& l : RemovalOf("ROOT\\NET\\0002", "00000000", "oem9.inf")) expected.push_back(l);
  expected.push_back("I CTovrinModule::UninstallDevice - leave");
  EXPECT_EQ(Messages(), expected);
  EXPECT_EQ(setup.liveSets, 0u);

  // Remove parameters: header (size 8, DIF_REMOVE), global scope, profile 0.
  ASSERT_EQ(setup.removeParams.size(), 2u);
  const DWORD expectedParams[4] = {8, DIF_REMOVE, DI_REMOVEDEVICE_GLOBAL, 0};
  ASSERT_EQ(setup.removeParams[0].size(), 16u);
  EXPECT_EQ(std::memcmp(setup.removeParams[0].data(), expectedParams, 16), 0);
}

TEST_F(UninstallDeviceTest, AnIdListedTwiceRemovesTwice) {
  Add(L"ROOT\\NET\\0000", {L"root\\vnet", L"root\\vnet"});
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_EQ(setup.removedDevices.size(), 2u);
}

TEST_F(UninstallDeviceTest, AListWithoutItsClosingNullStaysInItsData) {
  FakeDevice& d = Add(L"ROOT\\NET\\0000", {});
  d.hardwareIds = {L'a', L'\0', L'r', L'o', L'o', L't', L'\\', L'v', L'n', L'e', L't'};
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_EQ(setup.removedDevices.size(), 1u);
}

TEST_F(UninstallDeviceTest, ARemovalNeedingARebootIsOnlyLogged) {
  Add(L"ROOT\\NET\\0000", {L"root\\vnet"}).installFlags = DI_NEEDREBOOT;
  Add(L"ROOT\\NET\\0001", {L"root\\vnet"}).installFlags = DI_NEEDRESTART;
  EXPECT_EQ(Uninstall(), S_OK);
  std::vector<std::string> m = Messages();
  EXPECT_THAT(m, testing::Contains("I ROOT\\NET\\0000 : RemoveDevice result = 80070bc2"));
  EXPECT_THAT(m, testing::Contains("I ROOT\\NET\\0001 : RemoveDevice result = 80070bc2"));
}

TEST_F(UninstallDeviceTest, DriverPackage) {
  // Without an INF name nothing is removed from the driver store.
  Add(L"ROOT\\NET\\0000", {L"root\\vnet"}).infName.reset();
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_THAT(Messages(),
              ElementsAre("I CTovrinModule::UninstallDevice - enter", "I CTovrinModule::RemoveDevice - enter",
                          "E SetupDiGetDeviceProperty() = Element not found. (0x80070490)",
                          "I CTovrinModule::RemoveDevice - leave", "I ROOT\\NET\\0000 : RemoveDevice result = 00000000",
                          "I CTovrinModule::UninstallDevice - leave"));
  EXPECT_EQ(setup.removedDevices.size(), 1u);
  EXPECT_TRUE(setup.uninstalledInfs.empty());

  // A name of another type: silently nothing, and it is not read.
  installer.messages.clear();
  setup.calls.clear();
  setup.devices[0].infName = L"oem7.inf";
  setup.devices[0].infNameType = 0x11;
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_EQ(Messages().size(), 5u);
  EXPECT_TRUE(setup.uninstalledInfs.empty());
  EXPECT_THAT(setup.calls, testing::Contains("GetDeviceProperty:size"));
  EXPECT_THAT(setup.calls, testing::Not(testing::Contains("GetDeviceProperty:read")));

  // An empty string name is read (into the size and one byte more) and
  // gives an empty INF name.
  installer.messages.clear();
  setup.devices[0].infName = L"";
  setup.devices[0].infNameType = DEVPROP_TYPE_STRING;
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_THAT(Messages(), testing::Contains("I infPath = "));
  EXPECT_EQ(setup.propertyReadBytes.back(), sizeof(wchar_t) + 1);
  EXPECT_THAT(setup.uninstalledInfs, ElementsAre(L""));
  setup.uninstalledInfs.clear();

  // A package still in use stays; the removal counts all the same.
  installer.messages.clear();
  setup.devices[0].infName = L"oem7.inf";
  setup.fail["UninstallOemInf"] = ERROR_INF_IN_USE_BY_DEVICES;
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_THAT(Messages(),
              ElementsAre("I CTovrinModule::UninstallDevice - enter", "I CTovrinModule::RemoveDevice - enter",
                          "I infPath = oem7.inf",
                          "W SetupUninstallOEMInf() = {Missing System File} The required system file %hs is bad or "
                          "missing. (0xe000023d)",
                          "I CTovrinModule::RemoveDevice - leave", "I ROOT\\NET\\0000 : RemoveDevice result = 00000000",
                          "I CTovrinModule::UninstallDevice - leave"));

  // A failed read of the name with a buffer.
  installer.messages.clear();
  setup.fail.clear();
  setup.fail["GetDeviceProperty:read"] = ERROR_INVALID_DATA;
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_THAT(Messages(), testing::Contains("E SetupDiGetDeviceProperty() = The data is invalid. (0x8007000d)"));
  EXPECT_EQ(setup.uninstalledInfs.size(), 1u);
}

TEST_F(UninstallDeviceTest, FailedRemovalsAreOnlyLogged) {
  Add(L"ROOT\\NET\\0000", {L"root\\vnet"});
  setup.fail["SetClassInstallParams"] = ERROR_INVALID_USER_BUFFER;
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_THAT(Messages(),
              ElementsAre("I CTovrinModule::UninstallDevice - enter", "I CTovrinModule::RemoveDevice - enter",
                          "E SetupDiSetClassInstallParams() = The supplied user buffer is not valid for the "
                          "requested operation. (0x800706f8)",
                          "I CTovrinModule::RemoveDevice - leave", "I ROOT\\NET\\0000 : RemoveDevice result = 800706f8",
                          "I CTovrinModule::UninstallDevice - leave"));
  EXPECT_TRUE(setup.removedDevices.empty());

  installer.messages.clear();
  setup.fail.clear();
  setup.fail["CallClassInstaller:5"] = ERROR_NO_SUCH_DEVINST;
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_THAT(Messages(), testing::Contains("E SetupDiCallClassInstaller() = (0xe000020b)"));
  EXPECT_THAT(Messages(), testing::Contains("I ROOT\\NET\\0000 : RemoveDevice result = e000020b"));
  EXPECT_TRUE(setup.uninstalledInfs.empty());

  installer.messages.clear();
  setup.fail.clear();
  setup.fail["GetDeviceInstallParams"] = ERROR_INVALID_HANDLE;
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_THAT(Messages(), testing::Contains("E SetupDiGetDeviceInstallParams() = The handle is invalid. (0x80070006)"));
  EXPECT_THAT(Messages(), testing::Contains("I ROOT\\NET\\0000 : RemoveDevice result = 80070006"));
  EXPECT_EQ(setup.liveSets, 0u);
}

TEST_F(UninstallDeviceTest, FailuresThatEndTheAction) {
  Add(L"ROOT\\NET\\0000", {L"root\\vnet"});
  setup.fail["GetClassDevs"] = ERROR_INVALID_PARAMETER;
  EXPECT_EQ(Uninstall(), static_cast<HRESULT>(0x80070057));
  EXPECT_THAT(Messages(), ElementsAre("I CTovrinModule::UninstallDevice - enter",
                                      "E SetupDiGetClassDevsEx() = The parameter is incorrect. (0x80070057)",
                                      "I CTovrinModule::UninstallDevice - leave"));

  installer.messages.clear();
  setup.fail.clear();
  setup.fail["GetDeviceInstanceId"] = ERROR_INSUFFICIENT_BUFFER;
  EXPECT_EQ(Uninstall(), static_cast<HRESULT>(0x8007007A));
  EXPECT_THAT(Messages(), testing::Contains("E SetupDiGetDeviceInstanceId() = The data area passed to a system call "
                                            "is too small. (0x8007007a)"));
  EXPECT_EQ(setup.liveSets, 0u);

  setup.fail.clear();
  setup.fail["GetDeviceRegistryProperty:1:read"] = ERROR_INVALID_DATA;
  EXPECT_EQ(Uninstall(), static_cast<HRESULT>(0x8007000D));
  EXPECT_THAT(Messages(),
              testing::Contains("E SetupDiGetDeviceRegistryProperty() = The data is invalid. (0x8007000d)"));
  EXPECT_EQ(setup.liveSets, 0u);
  EXPECT_TRUE(setup.removedDevices.empty());

  // A missing list is skipped, not a failure.
  setup.fail.clear();
  setup.fail["GetDeviceRegistryProperty:1:size"] = ERROR_INVALID_DATA;
  EXPECT_EQ(Uninstall(), S_OK);
  EXPECT_TRUE(setup.removedDevices.empty());
}

TEST_F(UninstallDeviceTest, ClassIdMustBeABracedGuid) {
  for (const wchar_t* text : {L"", L"4D36E972-E325-11CE-BFC1-08002BE10318", L"{4D36E972-E325-11CE-BFC1-08002BE1031G}",
                              L"{4D36E972-E325-11CE-BFC1-08002BE10318"}) {
    installer.messages.clear();
    params.Set("clsid", text);
    EXPECT_EQ(Uninstall(), CO_E_CLASSSTRING);
    EXPECT_THAT(Messages(), ElementsAre("I CTovrinModule::UninstallDevice - enter", "E (0x800401f3)",
                                        "I CTovrinModule::UninstallDevice - leave"));
  }
  EXPECT_TRUE(setup.calls.empty());
  params.Set("clsid", L"{4d36e972-e325-11ce-bfc1-08002be10318}");
  EXPECT_EQ(Uninstall(), S_OK);
}

TEST_F(UninstallDeviceTest, BothForms) {
  Add(L"ROOT\\NET\\0000", {L"root\\vnet"}).installFlags = DI_NEEDREBOOT;
  installer.properties[L"TovrinData"] = L"/hwid=root\\vnet /clsid={4D36E972-E325-11CE-BFC1-08002BE10318}";
  EXPECT_EQ(UninstallDevice(FakeInstaller::kSession), 0u);
  EXPECT_TRUE(installer.Errors().empty());
  EXPECT_EQ(setup.removedDevices.size(), 1u);

  installer.properties[L"TovrinData"] = L"/hwid=root\\vnet /clsid=net";
  EXPECT_EQ(UninstallDevice(FakeInstaller::kSession), 1603u);
  EXPECT_THAT(installer.Errors(), ElementsAre(std::pair(25000, static_cast<int>(0x800401F3))));

  std::wstring line = L"/hwid=root\\vnet /clsid={4D36E972-E325-11CE-BFC1-08002BE10318}";
  EXPECT_EQ(RunUninstallDeviceW(nullptr, nullptr, line.data(), 1), S_OK);
  EXPECT_EQ(setup.removedDevices.size(), 2u);
}

}  // namespace
