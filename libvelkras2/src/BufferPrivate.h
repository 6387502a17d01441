// Shared by the Buffer modules.
#pragma once

#include <cstdint>

#include "velkras2/Buffer.h"

// n rounded up to a whole number of the buffer's units; false when the
// result does not fit the 32-bit sizes of the record.
// NOLINTNEXTLINE(bugprone-reserved-identifier): the library's private functions start with an underscore.
inline bool _Buffer_RoundUp(const Buffer* buffer, uint64_t n, uint32_t* rounded) {
  uint64_t unit = buffer->unit ? buffer->unit : 1;
  uint64_t r = n % unit == 0 ? n : n + unit - n % unit;
  if (r > UINT32_MAX) return false;
  *rounded = static_cast<uint32_t>(r);
  return true;
}

// Replaces the contents by a new block (the old one is freed).
// NOLINTNEXTLINE(bugprone-reserved-identifier): the library's private functions start with an underscore.
void _Buffer_Replace(Buffer* buffer, unsigned char* block, uint32_t capacity, uint32_t length);
