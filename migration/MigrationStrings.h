// The program's string table (Migration.rc) and the ids the code loads.
#pragma once

#include "platform/StringTable.h"

extern const platform::StringTableRef kMigrationStrings;

// Tells the user that the run failed and whom to ask.
constexpr UINT IDS_MIGRATION_FAILED = 515;
