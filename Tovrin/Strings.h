// The module's string table (Tovrin.rc) and the ids the code loads.
#pragma once

#include "platform/StringTable.h"

extern const platform::StringTableRef kTovrinStrings;

// Asks the user to exit the running client.
constexpr UINT IDS_CLIENT_RUNNING = 103;
