#include "support/Command.h"

#include <sys/wait.h>

#include <cstdio>

namespace velk_test {

std::string RunCommand(const std::string& command, int* exitCode) {
  std::string out;
  if (exitCode) *exitCode = -1;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return out;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, p)) > 0) out.append(chunk, n);
  int status = ::pclose(p);
  if (exitCode && status != -1 && WIFEXITED(status)) *exitCode = WEXITSTATUS(status);
  return out;
}

bool HaveCommand(const std::string& name) {
  int status = -1;
  RunCommand("command -v " + name + " >/dev/null 2>&1", &status);
  return status == 0;
}

}  // namespace velk_test
