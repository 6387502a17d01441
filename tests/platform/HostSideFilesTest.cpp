// Links planted at the names of the files the host stand-ins keep beside
// the machine's data: each change is refused with a clear message, or goes
// around the link, and nothing is written outside the machine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <fstream>
#include <functional>

#include "platform/DeviceSetup.h"
#include "platform/LastError.h"
#include "platform/NamedMutex.h"
#include "platform/Registry.h"
#include "platform/host/machine/PnpStore.h"
#include "platform/host/machine/RegFile.h"
#include "support/TempMachine.h"

namespace fs = std::filesystem;

namespace {

const GUID kNet = {0x4D36E972, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
const char kNetInf[] =
    "[Version]\r\nSignature = \"$Windows NT$\"\r\nClass = Net\r\nClassGUID = {4d36e972-e325-11ce-bfc1-08002be10318}\r\n"
    "[Manufacturer]\r\nTESSMAR = Models\r\n[Models]\r\nAdapter = Install, root\\vnet\r\n[Install]\r\n";

DWORD CreateKey(HKEY root, const wchar_t* path) {
  platform::RegKey key;
  return static_cast<DWORD>(platform::Registry::Default().CreateKey(root, path, KEY_ALL_ACCESS, key.Put(), nullptr));
}

DWORD CreateMutex() {
  platform::SetLastErrorCode(0);
  HANDLE h = platform::NamedMutex::Default().Create(L"Global\\Velk.Test", FALSE);
  if (!h) return platform::GetLastErrorCode();
  platform::NamedMutex::Default().Close(h);
  return 0;
}

DWORD RegisterAndUpdate() {
  platform::DeviceSetup& setup = platform::DeviceSetup::Default();
  HDEVINFO set = setup.CreateDeviceInfoList(&kNet);
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  const wchar_t list[] = L"root\\vnet\0";
  BOOL ok =
      setup.CreateDeviceInfo(set, L"Net", &kNet, DICD_GENERATE_ID, &d) &&
      setup.SetDeviceRegistryProperty(set, &d, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(list), sizeof list) &&
      setup.CallClassInstaller(DIF_REGISTERDEVICE, set, &d) &&
      setup.UpdateDriver(nullptr, L"root\\vnet", L"C:\\velk\\vnet.inf", INSTALLFLAG_FORCE, nullptr);
  DWORD error = ok ? 0 : platform::GetLastErrorCode();
  setup.DestroyDeviceInfoList(set);
  return error;
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder)) out.push_back(e.path().lexically_relative(folder));
  std::sort(out.begin(), out.end());
  return out;
}

TEST(HostSideFilesTest, PlantedLinksNeverLeadOutOfTheMachine) {
  const struct {
    const char* name;  // relative to the machine; a link to the outside folder
    const char* link;  // its target below that folder; "" for the folder itself
    std::function<DWORD()> change;
    DWORD error;
    const char* message;  // in standard error; "" for none
  } cases[] = {
      {"registry/HKLM.reg.lock", "missing", [] { return CreateKey(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Velk"); },
       ERROR_CANTWRITE, "registry/HKLM.reg.lock: a link stands at this name; refused"},
      {"drive_c/Users/alice/NTUSER.DAT.lock", "missing", [] { return CreateKey(HKEY_CURRENT_USER, L"Software\\Velk"); },
       ERROR_CANTWRITE, "NTUSER.DAT.lock: a link stands at this name; refused"},
      {"drive_c/Users/alice/NTUSER.DAT.lock", "file", [] { return CreateKey(HKEY_CURRENT_USER, L"Software\\Velk"); },
       ERROR_CANTWRITE, "NTUSER.DAT.lock: a link stands at this name; refused"},
      {"kernel-objects/.guard", "missing", CreateMutex, ERROR_ACCESS_DENIED,
       "kernel-objects/.guard: a link stands at this name; refused"},
      {"kernel-objects/Global/Velk.Test", "file", CreateMutex, ERROR_ACCESS_DENIED,
       "Global/Velk.Test: a link stands at this name; refused"},
      {"kernel-objects", "", CreateMutex, ERROR_ACCESS_DENIED, "the folder lies outside the machine; refused"},
      {"kernel-objects/pnp.lock", "missing", RegisterAndUpdate, ERROR_ACCESS_DENIED,
       "pnp.lock: a link stands at this name; refused"},
      {"drive_c/Windows/INF", "", RegisterAndUpdate, ERROR_ACCESS_DENIED,
       "INF: the folder lies outside the machine; refused"},
      // A link at a package's name is skipped over: the package gets the next.
      {"drive_c/Windows/INF/oem0.inf", "file", RegisterAndUpdate, 0, ""},
      {"drive_c/Windows/INF/oem0.inf", "missing", RegisterAndUpdate, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " -> " + c.link);
    velk_test::TempMachine machine("[machine]\nuser=S-1-5-21-100-1001\n");
    velk_test::TempMachine outside("");
    machine.Write("registry/HKLM.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\"
                  "S-1-5-21-100-1001]\r\n\"ProfileImagePath\"=\"C:\\\\Users\\\\alice\"\r\n");
    machine.Write("drive_c/Users/alice/NTUSER.DAT", "Windows Registry Editor Version 5.00\r\n\r\n");
    machine.Write("drive_c/velk/vnet.inf", kNetInf);
    outside.Write("file", "outside\n");
    ::setenv("VELK_MACHINE", machine.Root().c_str(), 1);  // the second folder took it
    velk_test::TempMachine::Reload();
    fs::create_directories((machine.Root() / c.name).parent_path());
    fs::create_symlink(outside.Root() / c.link, machine.Root() / c.name);

    testing::internal::CaptureStderr();
    EXPECT_EQ(c.change(), c.error);
    std::string err = testing::internal::GetCapturedStderr();
    if (*c.message) {
      EXPECT_THAT(err, testing::HasSubstr(c.message));
    } else {
      EXPECT_EQ(err, "");
    }
    EXPECT_THAT(Listing(outside.Root()), testing::ElementsAre("file"));
    EXPECT_EQ(outside.Read("file"), "outside\n");
    if (c.error == 0) {
      EXPECT_EQ(machine.Read("drive_c/Windows/INF/oem1.inf"), kNetInf);
    }
  }
}

TEST(HostSideFilesTest, LinksAreFollowedOnlyWhileTheyStayBelowTheRoot) {
  velk_test::TempMachine machine;
  const fs::path objects = machine.Root() / "kernel-objects";
  // A sibling whose name merely begins with the root's name is outside.
  const fs::path sibling = machine.Root().string() + "-x";
  fs::create_directories(sibling);
  fs::create_symlink(sibling, objects);
  testing::internal::CaptureStderr();
  EXPECT_EQ(CreateMutex(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(fs::is_empty(sibling));
  fs::remove_all(sibling);

  fs::remove(objects);
  fs::create_directories(machine.Root() / "elsewhere");
  fs::create_symlink(machine.Root() / "elsewhere", objects);
  EXPECT_EQ(CreateMutex(), 0u);
  EXPECT_TRUE(fs::exists(machine.Root() / "elsewhere/Global/Velk.Test"));
}

}  // namespace

namespace {

// A profile folder swapped for a link to a folder outside the machine, and
// back, over and over while its hive is written: each write lands in the
// real folder or is refused, never outside. Round counts are printed for the
// record; a run without the folder opened once put 3 of 300 writes outside.
TEST(HostSideFilesStress, HiveWritesNeverFollowAFolderSwappedForALink) {
  velk_test::TempMachine machine;
  const fs::path outside = machine.Root().parent_path() / (machine.Root().filename().string() + "-outside");
  fs::create_directories(outside / "eve");
  fs::create_directories(machine.Root() / "drive_c/Users/eve");
  const fs::path users = machine.Root() / "drive_c/Users";
  std::atomic<bool> done{false};
  std::atomic<int> swaps{0}, attempts{0};
  std::thread swapper([&] {
    // Error codes, not exceptions: a write may make the folder again while
    // it is away (that folder is then dropped).
    std::error_code ec;
    int seen = -1;
    while (!done) {
      if (attempts == seen) {
        std::this_thread::yield();
        continue;
      }
      seen = attempts;
      fs::rename(users / "eve", users / "eve.real", ec);
      fs::create_symlink(outside / "eve", users / "eve", ec);
      fs::remove(users / "eve", ec);
      if (fs::exists(users / "eve.real", ec)) {
        fs::remove_all(users / "eve", ec);
        fs::rename(users / "eve.real", users / "eve", ec);
      }
      ++swaps;
    }
  });
  platform::host::RegNode root;
  root.CreateChild(L"Software")->SetValue(L"v", platform::host::MakeDword(1));
  int written = 0, refused = 0;
  std::string firstError;
  for (int round = 0; round < 300; ++round, ++attempts) {
    std::string error;
    if (platform::host::WriteRegFileAtomic(users / "eve/NTUSER.DAT", root, L"HKEY_CURRENT_USER",
                                           platform::host::RegFileForm{}, &error))
      ++written;
    else if (++refused == 1)
      firstError = error;
    std::this_thread::yield();
  }
  done = true;
  swapper.join();
  std::printf("300 hive writes during %d folder swaps: %d written, %d refused (%s)\n", swaps.load(), written, refused,
              firstError.c_str());
  EXPECT_TRUE(fs::is_empty(outside / "eve")) << Listing(outside).size() << " files outside the machine";
  EXPECT_GT(written, 0);
  fs::remove_all(outside);
}

}  // namespace
