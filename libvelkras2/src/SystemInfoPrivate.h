// Steps of the machine identity, open to the tests and the fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/WinTypes.h"

constexpr size_t kSmbiosTextSize = 128;

// One SMBIOS structure inside the fetched data: its formatted area starts at
// header (header[1] bytes long) and its string set runs from strings up to
// end, which never lies beyond the fetched data.
struct SmbiosStructure {
  const BYTE* header;
  const BYTE* strings;
  const BYTE* end;
};

bool SystemInfo_DeriveKey(const void* bytes, uint32_t count, unsigned char key[32]);
bool SystemInfo_ReadSmbiosId(char text[kSmbiosTextSize]);
bool SystemInfo_FormatUuid(const BYTE uuid[16], unsigned version, char text[kSmbiosTextSize]);
bool SystemInfo_GetSmbiosString(const SmbiosStructure* structure, BYTE number, char* destination, size_t room);
// The first System Information (type 1) structure of raw SMBIOS data.
bool SystemInfo_FindSystemStructure(const BYTE* data, size_t size, SmbiosStructure* found);
