// A temporary folder for one test, and small file helpers. Portable: the
// Windows test programs use it too.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/Hex.h"

namespace velk_test {

class TempFolder {
 public:
  // A new folder of its own: a name taken already is never reused.
  TempFolder() {
    static unsigned serial = 0;
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
      root_ = std::filesystem::temp_directory_path() /
              ("velkras2-" + std::to_string(stamp) + "-" + std::to_string(++serial));
      if (std::filesystem::create_directory(root_)) break;
    }
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

}  // namespace velk_test
