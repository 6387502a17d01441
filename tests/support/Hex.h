// Lower-case hexadecimal text of bytes, for comparing with the peers.
#pragma once

#include <string>

namespace velk_test {

std::string Hex(const std::string& bytes);

}  // namespace velk_test
