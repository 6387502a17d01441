#pragma once

#include <string>

#include "platform/WinTypes.h"

// Moves <local>\Pellacor\velk to <local>\TESSMAR\velk for one profile. The
// first anchorChars characters of localAppData name the profile folder:
// nothing below it is ever reached through a link.
void MigrateConnectDefFolder(const std::wstring& localAppData, size_t anchorChars);
