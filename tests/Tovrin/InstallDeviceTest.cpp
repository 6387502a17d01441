#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>

#include "DeviceFixture.h"

extern "C" UINT InstallDevice(MSIHANDLE install);
extern "C" HRESULT RunInstallDeviceW(HWND, HINSTANCE, LPWSTR, int);

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;
using velk_test::FakeInstaller;

class InstallDeviceTest : public velk_test::DeviceFixture {
 protected:
  HRESULT Install() { return TovrinModule().InstallDevice(nullptr, params); }
  std::wstring StoredHardwareIds() const {
    std::wstring s(setup.hardwareIdSet.size() / sizeof(wchar_t), L'?');
    std::memcpy(s.data(), setup.hardwareIdSet.data(), s.size() * sizeof(wchar_t));
    return s;
  }

  CActionParameters params;
};

const char* kInstallCalls[] = {"GetInfClass",
                               "CreateDeviceInfoList",
                               "CreateDeviceInfo",
                               "SetDeviceRegistryProperty",
                               "CallClassInstaller:25",
                               "UpdateDriver",
                               "GetDeviceRegistryProperty:8:size",
                               "GetDeviceRegistryProperty:8:read",
                               "GetDeviceRegistryProperty:9:size",
                               "GetDeviceRegistryProperty:9:read",
                               "DestroyDeviceInfoList"};

TEST_F(InstallDeviceTest, InstallsAndRenamesTheConnection) {
  params.Set("inf", L"C:\\Program Files\\velk\\driver\\vnet.inf");
  params.Set("hwid", L"root\\vnet");
  params.Set("ConnName", L"velk-access");
  EXPECT_EQ(Install(), S_OK);
  EXPECT_THAT(setup.calls, ElementsAreArray(kInstallCalls));
  EXPECT_EQ(setup.liveSets, 0u);
  EXPECT_EQ(setup.createdName, L"Net");
  EXPECT_EQ(setup.createFlags, static_cast<DWORD>(DICD_GENERATE_ID));
  EXPECT_EQ(StoredHardwareIds(), std::wstring(L"root\\vnet\0\0", 11));
  EXPECT_EQ(setup.updatedHardwareId, L"root\\vnet");
  EXPECT_EQ(setup.updatedInf, L"C:\\Program Files\\velk\\driver\\vnet.inf");
  EXPECT_EQ(setup.updateFlags, static_cast<DWORD>(INSTALLFLAG_FORCE));
  EXPECT_THAT(Messages(),
              ElementsAre("I CTovrinModule::InstallDevice - enter",
                          "I UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = 0",
                          "I SetConnectionName(\"velk-access\")", "I CTovrinModule::SetConnectionName - enter",
                          "I .uType:0 .pOleStr: \"Ethernet\"", "I .uType:0 .pOleStr: \"Ethernet 3\"",
                          "I Change connection name: \"Ethernet 3\" -> \"velk-access\"",
                          "I CTovrinModule::SetConnectionName - leave", "I CTovrinModule::InstallDevice - leave"));
  // Only the first item of that name is renamed; every block went back to the allocator.
  EXPECT_THAT(connections.renames, ElementsAre(std::pair<size_t, std::wstring>(1, L"velk-access")));
  EXPECT_TRUE(connections.outstanding.empty());
  EXPECT_EQ(connections.foreignFrees, 0u);
  EXPECT_EQ(connections.references, 0);
  EXPECT_EQ(registry.openHandles, 0u);
  EXPECT_EQ(registry.writes, 0u);
  EXPECT_THAT(clock.sleeps, ElementsAre(1000u, 1000u));
}

TEST_F(InstallDeviceTest, WithoutConnNameTheConnectionKeepsItsName) {
  params.Set("hwid", L"root\\vnet");
  EXPECT_EQ(Install(), S_OK);
  EXPECT_THAT(Messages(), ElementsAre("I CTovrinModule::InstallDevice - enter",
                                      "I UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = 0",
                                      "I CTovrinModule::InstallDevice - leave"));
  EXPECT_TRUE(connections.renames.empty());
  EXPECT_TRUE(registry.opens.empty());
  EXPECT_TRUE(clock.sleeps.empty());
}

TEST_F(InstallDeviceTest, AnEmptyConnNameIsStillPassedOn) {
  params.Set("hwid", L"root\\vnet");
  params.Set("ConnName", L"");
  connections.setNameResult = E_INVALIDARG;  // as the shell refuses an empty name
  EXPECT_EQ(Install(), S_OK);
  EXPECT_THAT(connections.renames, ElementsAre(std::pair<size_t, std::wstring>(1, L"")));
  std::vector<std::string> m = Messages();
  EXPECT_EQ(m[2], "I SetConnectionName(\"\")");
  EXPECT_EQ(m[m.size() - 2], "E The parameter is incorrect. (0x80070057)");
  EXPECT_TRUE(connections.outstanding.empty());
}

TEST_F(InstallDeviceTest, AFailedRenamingStillInstalls) {
  params.Set("hwid", L"root\\vnet");
  params.Set("ConnName", L"velk-access");
  connections.items = {{L"Wi-Fi"}};
  EXPECT_EQ(Install(), S_OK);
  EXPECT_THAT(Messages(),
              ElementsAre("I CTovrinModule::InstallDevice - enter",
                          "I UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = 0",
                          "I SetConnectionName(\"velk-access\")", "I CTovrinModule::SetConnectionName - enter",
                          "I .uType:0 .pOleStr: \"Wi-Fi\"", "I CTovrinModule::SetConnectionName - leave",
                          "E The system cannot find the file specified. (0x80070002)",
                          "I CTovrinModule::InstallDevice - leave"));
}

TEST_F(InstallDeviceTest, ANeededRebootIsOnlyLogged) {
  setup.rebootRequired = 7;  // any true BOOL
  EXPECT_EQ(Install(), S_OK);
  EXPECT_EQ(Messages()[1], "I UpdateDriverForPlugAndPlayDevices succeeded. bRebootRequired = 1");
}

TEST_F(InstallDeviceTest, AbsentParametersAreEmpty) {
  EXPECT_EQ(Install(), S_OK);
  // Two nulls: the empty multi-string.
  EXPECT_EQ(setup.hardwareIdSet.size(), 2 * sizeof(wchar_t));
  EXPECT_EQ(StoredHardwareIds(), std::wstring(L"\0\0", 2));
  EXPECT_EQ(setup.updatedHardwareId, L"");
  EXPECT_EQ(setup.updatedInf, L"");
}

TEST_F(InstallDeviceTest, HardwareIdLengthLimit) {
  params.Set("hwid", std::wstring(258, L'x'));
  EXPECT_EQ(Install(), S_OK);
  EXPECT_EQ(setup.hardwareIdSet.size(), 260 * sizeof(wchar_t));
  EXPECT_EQ(setup.updatedHardwareId, std::wstring(258, L'x'));

  setup.calls.clear();
  installer.messages.clear();
  params.Set("hwid", std::wstring(259, L'x'));
  EXPECT_EQ(Install(), E_INVALIDARG);
  EXPECT_TRUE(setup.calls.empty());
  EXPECT_THAT(Messages(), ElementsAre("I CTovrinModule::InstallDevice - enter",
                                      "E hwid longer than 258 characters: The parameter is incorrect. (0x80070057)",
                                      "I CTovrinModule::InstallDevice - leave"));
}

struct FailingStep {
  const char* call;
  DWORD error;
  const char* line;  // the Error line, after "E "
  HRESULT result;
  size_t callsMade;  // calls up to and including the failing one, plus the set's release
};

// Win32 errors in decimal, SetupAPI's (customer bit set) in hex.
std::string ErrorNumber(DWORD error) {
  char text[16];
  std::snprintf(text, sizeof text, error & 0x20000000u ? "0x%08lx" : "%lu", static_cast<unsigned long>(error));
  return text;
}

// Failures print the row, not its bytes.
void PrintTo(const FailingStep& step, std::ostream* out) {
  char result[16];
  std::snprintf(result, sizeof result, "0x%08lx", static_cast<unsigned long>(static_cast<DWORD>(step.result)));
  *out << step.call << " failing with " << ErrorNumber(step.error) << " -> " << result;
}

// The row's name: the failing call (gtest names take letters, digits and
// underscores only) and its error.
std::string StepName(const testing::TestParamInfo<FailingStep>& info) {
  std::string name;
  for (const char* c = info.param.call; *c; ++c) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name + (info.param.error == ERROR_SUCCESS ? "_NoError" : "_Error" + ErrorNumber(info.param.error));
}

class InstallDeviceFailureTest : public InstallDeviceTest, public testing::WithParamInterface<FailingStep> {};

TEST_P(InstallDeviceFailureTest, LogsTheStepAndReleasesTheSet) {
  const FailingStep& step = GetParam();
  setup.fail[step.call] = step.error;
  params.Set("hwid", L"root\\vnet");
  params.Set("ConnName", L"velk-access");
  EXPECT_EQ(Install(), step.result);
  EXPECT_THAT(Messages(), testing::Contains(std::string("E ") + step.line));
  EXPECT_EQ(Messages().back(), "I CTovrinModule::InstallDevice - leave");
  EXPECT_EQ(setup.liveSets, std::string(step.call) == "DestroyDeviceInfoList" ? 1u : 0u);
  EXPECT_EQ(setup.calls.size(), step.callsMade);
  // Nothing is renamed after a failure.
  EXPECT_TRUE(connections.renames.empty());
  EXPECT_TRUE(registry.opens.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EverySetupStep, InstallDeviceFailureTest,
    testing::Values(
        FailingStep{"GetInfClass", ERROR_FILE_NOT_FOUND,
                    "SetupDiGetINFClass() = The system cannot find the file specified. (0x80070002)",
                    static_cast<HRESULT>(0x80070002), 1},
        FailingStep{"CreateDeviceInfoList", ERROR_NOT_ENOUGH_MEMORY,
                    "SetupDiCreateDeviceInfoList() = Not enough memory resources are available to process this "
                    "command. (0x80070008)",
                    static_cast<HRESULT>(0x80070008), 2},
        FailingStep{"CreateDeviceInfo", ERROR_INVALID_DEVINST_NAME, "SetupDiCreateDeviceInfo() = (0xe0000205)",
                    static_cast<HRESULT>(0xE0000205), 4},
        FailingStep{"SetDeviceRegistryProperty", ERROR_INVALID_DATA,
                    "SetupDiSetDeviceRegistryProperty() = The data is invalid. (0x8007000d)",
                    static_cast<HRESULT>(0x8007000D), 5},
        FailingStep{"CallClassInstaller:25", ERROR_DEVINST_ALREADY_EXISTS, "SetupDiCallClassInstaller() = (0xe0000207)",
                    static_cast<HRESULT>(0xE0000207), 6},
        FailingStep{"UpdateDriver", ERROR_NO_SUCH_DEVINST, "UpdateDriverForPlugAndPlayDevices() = (0xe000020b)",
                    static_cast<HRESULT>(0xE000020B), 7},
        // The property reads log the error text alone.
        FailingStep{"GetDeviceRegistryProperty:8:size", ERROR_INVALID_DATA, "The data is invalid. (0x8007000d)",
                    static_cast<HRESULT>(0x8007000D), 8},
        FailingStep{"GetDeviceRegistryProperty:9:read", ERROR_ACCESS_DENIED, "Access is denied. (0x80070005)",
                    static_cast<HRESULT>(0x80070005), 11},
        // A call that fails without an error still fails.
        FailingStep{"GetDeviceRegistryProperty:8:size", ERROR_SUCCESS, "(0x80004005)", E_FAIL, 8},
        FailingStep{"DestroyDeviceInfoList", ERROR_INVALID_HANDLE,
                    "SetupDiDestroyDeviceInfoList() = The handle is invalid. (0x80070006)",
                    static_cast<HRESULT>(0x80070006), 11}),
    StepName);

TEST_F(InstallDeviceTest, OnlyASizeOfZeroFailsTheSizingCall) {
  // SetupAPI may fail the sizing call with another error yet report the
  // size: the property is read all the same.
  setup.failuresReportSize = true;
  setup.fail["GetDeviceRegistryProperty:8:size"] = ERROR_INVALID_DATA;
  setup.fail["GetDeviceRegistryProperty:9:size"] = ERROR_INVALID_USER_BUFFER;
  params.Set("hwid", L"root\\vnet");
  EXPECT_EQ(Install(), S_OK);
  EXPECT_THAT(setup.calls, ElementsAreArray(kInstallCalls));
  EXPECT_EQ(Messages().back(), "I CTovrinModule::InstallDevice - leave");
  EXPECT_EQ(Messages().size(), 3u);
}

TEST_F(InstallDeviceTest, PropertiesOfAnotherTypeAreRejected) {
  setup.driverType = REG_BINARY;
  EXPECT_EQ(Install(), static_cast<HRESULT>(0x8007065D));
  EXPECT_THAT(Messages(), testing::Contains("E The data supplied is of the wrong type. (0x8007065d)"));
  EXPECT_EQ(setup.liveSets, 0u);

  setup.driverType = REG_EXPAND_SZ;
  setup.classGuidType = REG_MULTI_SZ;
  EXPECT_EQ(Install(), S_OK);
}

TEST_F(InstallDeviceTest, InstallerFormReportsAFailure) {
  installer.properties[L"TovrinData"] = L"/inf=\"C:\\x y\\vnet.inf\" /hwid=root\\vnet";
  setup.fail["UpdateDriver"] = ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(InstallDevice(FakeInstaller::kSession), 1603u);
  EXPECT_EQ(setup.updateWindow, nullptr);
  EXPECT_THAT(installer.Errors(), ElementsAre(std::pair(25000, static_cast<int>(0x80070002))));
  EXPECT_THAT(
      Messages(),
      ElementsAre("####### Tovrin log PID=000001f4 #######", "I InstallDevice - enter",
                  "I TovrinData:/inf=\"C:\\x y\\vnet.inf\" /hwid=root\\vnet", "I CTovrinModule::InstallDevice - enter",
                  "E UpdateDriverForPlugAndPlayDevices() = The system cannot find the file "
                  "specified. (0x80070002)",
                  "I CTovrinModule::InstallDevice - leave", "E The system cannot find the file specified. (0x80070002)",
                  "I InstallDevice - leave"));
}

// From the script nobody could answer a prompt of the driver installation:
// it is told not to ask. Immediate or from a command line it keeps its flags.
TEST_F(InstallDeviceTest, TheDriverInstallationAsksNoOneFromTheScript) {
  struct Case {
    const char* form;
    std::optional<MSIRUNMODE> mode;
    DWORD flags;
  };
  const Case cases[] = {
      {"immediate", std::nullopt, INSTALLFLAG_FORCE},
      {"deferred", MSIRUNMODE_SCHEDULED, INSTALLFLAG_FORCE | INSTALLFLAG_NONINTERACTIVE},
      {"rollback", MSIRUNMODE_ROLLBACK, INSTALLFLAG_FORCE | INSTALLFLAG_NONINTERACTIVE},
      {"commit", MSIRUNMODE_COMMIT, INSTALLFLAG_FORCE | INSTALLFLAG_NONINTERACTIVE},
      {"command line", std::nullopt, INSTALLFLAG_FORCE},
  };
  installer.properties[L"TovrinData"] = L"/inf=C:\\d\\vnet.inf /hwid=root\\vnet";
  installer.properties[L"CustomActionData"] = L"/inf=C:\\d\\vnet.inf /hwid=root\\vnet";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    installer.scriptMode = c.mode;
    setup.updateFlags = 0;
    setup.updatedInf.clear();
    if (std::string(c.form) == "command line") {
      std::wstring line = L"/inf=C:\\d\\vnet.inf /hwid=root\\vnet";
      EXPECT_EQ(RunInstallDeviceW(nullptr, nullptr, line.data(), 1), S_OK);
    } else {
      EXPECT_EQ(InstallDevice(FakeInstaller::kSession), 0u);
    }
    EXPECT_EQ(setup.updatedInf, L"C:\\d\\vnet.inf");
    EXPECT_EQ(setup.updateFlags, c.flags);
  }
}

TEST_F(InstallDeviceTest, CommandLineFormPassesItsWindow) {
  std::wstring line = L"/inf=C:\\d\\vnet.inf /hwid=root\\vnet";
  HWND window = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(RunInstallDeviceW(window, nullptr, line.data(), 1), S_OK);
  EXPECT_EQ(setup.updateWindow, window);
  setup.fail["GetInfClass"] = ERROR_NO_ASSOCIATED_CLASS;
  EXPECT_EQ(RunInstallDeviceW(window, nullptr, line.data(), 1), static_cast<HRESULT>(0xE0000200));
}

}  // namespace
