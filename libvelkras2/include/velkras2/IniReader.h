// Looks up one key of one section in an INI text held in memory.
#pragma once

#include <cstdint>

struct IniReader {
  const char* data;  // not owned
  uint32_t size;     // bytes, the terminating 0 byte included
};

IniReader* IniReader_New(const char* data, uint32_t size);
// False only when memory runs out. On true, *value is a new allocation (free
// with RasUtil_Free) when the key was found, null otherwise.
bool IniReader_Read(IniReader* reader, const char* section, const char* key, char** value);
void IniReader_Free(IniReader* reader);
