#include "support/TempMachine.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "platform/Port.h"
#include "platform/Registry.h"
#include "platform/host/adapters/HostRegistry.h"
#include "platform/host/machine/Machine.h"

namespace fs = std::filesystem;

namespace velk_test {

TempMachine::TempMachine(const std::string& machineIni) {
  std::string pattern = (fs::temp_directory_path() / "velk-machine-XXXXXX").string();
  root_ = ::mkdtemp(pattern.data());
  if (!machineIni.empty()) Write("machine.ini", machineIni);
  ::setenv("VELK_MACHINE", root_.c_str(), 1);
  Reload();
}

TempMachine::~TempMachine() {
  std::error_code ec;
  fs::remove_all(root_, ec);
  ::unsetenv("VELK_MACHINE");
  Reload();
}

void TempMachine::Reload() {
  platform::host::Machine::Reset();
  static_cast<platform::host::HostRegistry&>(platform::Registry::Default()).Forget();
}

void TempMachine::Write(const std::string& relative, const std::string& content) const {
  fs::path p = root_ / relative;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TempMachine::Read(const std::string& relative) const {
  std::ifstream in(root_ / relative, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace velk_test
