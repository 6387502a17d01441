// A temporary folder for one test, and small file and process helpers.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <stdlib.h>

#include "support/Command.h"

namespace velk_test {

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velkras2-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::filesystem::path Path(const std::string& name) const { return root_ / name; }
  const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path root_;
};

inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline bool HaveCommand(const std::string& name) {
  int status = -1;
  RunCommand("command -v " + name + " >/dev/null 2>&1", &status);
  return status == 0;
}

}  // namespace velk_test
