#pragma once

#include <string>

// Whether a search for the path itself finds an entry.
bool PathEntryExists(const std::wstring& path);
// Moves <local>\Pellacor\velk to <local>\TESSMAR\velk for one profile.
void MigrateConnectDefFolder(const std::wstring& localAppData);
