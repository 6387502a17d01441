// Running a shell command from a test (host tests only: the Windows test
// programs have no shell), and the text helpers the peers' outputs are
// compared with.
#pragma once

#include <string>

#include "support/Hex.h"

namespace velk_test {

// Standard output of `sh -c command`; *exitCode receives its exit code
// (-1 when it did not exit normally or could not be started).
std::string RunCommand(const std::string& command, int* exitCode = nullptr);

// Whether the shell finds a program of that name.
bool HaveCommand(const std::string& name);

}  // namespace velk_test
