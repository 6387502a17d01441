// A log fixture with fake device setup, connections folder and registry,
// holding one adapter whose connection is "Ethernet 3".
#pragma once

#include <string>
#include <vector>

#include "DeviceFakes.h"
#include "TovrinModule.h"
#include "support/LogFixture.h"

namespace velk_test {

class DeviceFixture : public LogFixture {
 protected:
  static constexpr const wchar_t* kClassGuid = L"{4d36e972-e325-11ce-bfc1-08002be10318}";
  static constexpr const wchar_t* kDriverKey = L"{4d36e972-e325-11ce-bfc1-08002be10318}\\0007";
  static constexpr const wchar_t* kNetCfgId = L"{11111111-2222-3333-4444-555555555555}";
  static constexpr const wchar_t* kClassPath =
      L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e972-e325-11ce-bfc1-08002be10318}\\0007";
  static constexpr const wchar_t* kConnectionPath =
      L"SYSTEM\\CurrentControlSet\\Control\\Network\\{4d36e972-e325-11ce-bfc1-08002be10318}\\"
      L"{11111111-2222-3333-4444-555555555555}\\Connection";
  static constexpr const char* kConnectionPathA =
      "SYSTEM\\CurrentControlSet\\Control\\Network\\{4d36e972-e325-11ce-bfc1-08002be10318}\\"
      "{11111111-2222-3333-4444-555555555555}\\Connection";

  DeviceFixture() : useSetup_(setup), useConnections_(connections), useRegistry_(registry) {
    registry.SetString(kClassPath, L"NetCfgInstanceId", kNetCfgId);
    registry.SetString(kConnectionPath, L"Name", L"Ethernet 3");
    connections.items = {{L"Ethernet"}, {L"Ethernet 3"}, {L"Ethernet 3"}};
  }

  // Log lines without their time and thread prefix: "I text".
  std::vector<std::string> Messages() const {
    std::vector<std::string> out;
    for (const auto& line : installer.Lines())
      out.push_back(line.size() >= 33 && line[4] == '-' ? line.substr(33) : line);
    return out;
  }

  FakeDeviceSetup setup;
  FakeNetConnections connections;
  FakeRegistry registry;

 private:
  platform::ScopedPort<platform::DeviceSetup> useSetup_;
  platform::ScopedPort<platform::NetConnections> useConnections_;
  platform::ScopedPort<platform::Registry> useRegistry_;
};

}  // namespace velk_test
