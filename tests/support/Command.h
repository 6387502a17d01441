// Running a shell command from a test, and small text helpers the peers'
// outputs are compared with.
#pragma once

#include <string>

namespace velk_test {

// Standard output of `sh -c command`; *exitCode receives its exit code
// (-1 when it did not exit normally or could not be started).
std::string RunCommand(const std::string& command, int* exitCode = nullptr);

// Lower-case hexadecimal text of bytes.
std::string Hex(const std::string& bytes);

}  // namespace velk_test
