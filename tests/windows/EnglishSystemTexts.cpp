// The system's texts in the Windows test programs are Windows' English ones,
// as on the host: the tests check the logic's lines, and Wine's own table
// words many codes otherwise ("Access denied." for "Access is denied.") and
// finds none for SetupAPI's 0xE000xxxx codes. The adapter itself, which asks
// FormatMessageA, runs in the Wine end-to-end cases.
#include "platform/host/adapters/EnglishSystemMessages.h"

namespace {

platform::ScopedPort<platform::SystemMessages> english(platform::host::EnglishSystemMessages());

}  // namespace
