// Load-time work of the host library, where DllMain would run on Windows.
#include "../TovrinModule.h"

namespace {
__attribute__((constructor)) void OnLoad() { OnTovrinProcessAttach(); }
}  // namespace
