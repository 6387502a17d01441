// The host library exports exactly the functions the Windows module
// exports by name from its .def file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> DefExports() {
  std::ifstream def(std::string(VELK_SOURCE_DIR) + "/Tovrin/Tovrin64.def");
  std::set<std::string> names;
  std::string line;
  bool inExports = false;
  while (std::getline(def, line)) {
    std::istringstream words(line);
    std::string first;
    if (!(words >> first)) continue;
    if (first == "EXPORTS") {
      inExports = true;
    } else if (inExports) {
      names.insert(first);
    }
  }
  return names;
}

std::set<std::string> LibraryFunctions() {
  std::string cmd = "nm -D --defined-only '" + std::string(VELK_BINARY_DIR) + "/libTovrin.so'";
  std::set<std::string> names;
  FILE* p = popen(cmd.c_str(), "r");
  char line[4096];
  while (p && std::fgets(line, sizeof line, p)) {
    char address[64], type[8], name[4000];
    if (std::sscanf(line, "%63s %7s %3999s", address, type, name) == 3 && std::string(type) == "T") names.insert(name);
  }
  if (p) pclose(p);
  return names;
}

TEST(Exports, HostLibraryMatchesTheDefFile) {
  std::set<std::string> def = DefExports();
  ASSERT_FALSE(def.empty());
  EXPECT_THAT(def, testing::Contains("DebugEntryPointW"));
  EXPECT_EQ(LibraryFunctions(), def);
}

TEST(Exports, DefNamesTheModule) {
  std::ifstream def(std::string(VELK_SOURCE_DIR) + "/Tovrin/Tovrin64.def");
  std::string first;
  std::getline(def, first);
  EXPECT_EQ(first, "LIBRARY \"Tovrin64.dll\"");
}

}  // namespace
