// The host machine: a folder that stands for one Windows PC.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/WinTypes.h"

namespace platform::host {

struct MachineConfig {
  std::filesystem::path root;
  UINT acp = 1252;
  UINT uiLanguage = 1033;
  std::wstring user;                   // SID of the current user
  std::vector<std::wstring> loggedOn;  // SIDs whose hives are mounted at start
};

// Reads <root>/machine.ini. A missing file gives the defaults; a malformed
// one fails with "<file>:<line>: <what>" in *error.
bool LoadMachineConfig(const std::filesystem::path& root, MachineConfig* config, std::string* error);

class Machine {
 public:
  // The machine named by VELK_MACHINE, loaded once per process; null when
  // unset or unreadable (the reason is printed once to standard error).
  static const Machine* Current();
  // Forgets the loaded machine so that the next Current() reads VELK_MACHINE again.
  static void Reset();

  explicit Machine(MachineConfig config) : config_(std::move(config)) {}
  const MachineConfig& Config() const { return config_; }
  const std::filesystem::path& Root() const { return config_.root; }
  std::filesystem::path RegistryFolder() const { return config_.root / "registry"; }

  // "C:\Users\alice" -> <root>/drive_c/Users/alice. Existing components are
  // matched without regard to case, as Windows does; the rest are kept as
  // written. Only drive-absolute paths map.
  bool MapPath(std::wstring_view windowsPath, std::filesystem::path* hostPath) const;
  // The reverse, for paths inside a drive folder of the machine.
  bool UnmapPath(const std::filesystem::path& hostPath, std::wstring* windowsPath) const;

 private:
  MachineConfig config_;
};

}  // namespace platform::host
