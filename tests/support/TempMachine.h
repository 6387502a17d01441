// A machine folder for one test: made empty, selected through
// VELK_MACHINE, removed and forgotten at the end.
#pragma once

#include <filesystem>
#include <string>

namespace velk_test {

class TempMachine {
 public:
  // machineIni is written as <root>/machine.ini unless empty.
  explicit TempMachine(
      const std::string& machineIni = "[machine]\nacp=1252 ui_language=1033\nuser=S-1-5-21-100-1001\n");
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  // Writes a file below the root, making its folders.
  void Write(const std::string& relative, const std::string& content) const;
  std::string Read(const std::string& relative) const;
  // Makes the platform read the machine again (after changing machine.ini).
  static void Reload();

 private:
  std::filesystem::path root_;
};

}  // namespace velk_test
