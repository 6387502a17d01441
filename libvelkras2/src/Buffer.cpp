#include <cstring>

#include "BufferPrivate.h"
#include "platform/LastError.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"
#include "velkras2/Secret.h"

namespace {
const char kFile[] = "Buffer.cpp";
constexpr unsigned kLineNew = 17;
constexpr unsigned kLineAppend = 92;
constexpr unsigned kLineAppendNull = 118;
constexpr uint32_t kUnit = 256;

void ReleaseData(Buffer* buffer) {
  if (!buffer->data) return;
  Secret_Clear(buffer->data, buffer->capacity);
  RasUtil_Free(buffer->data);
}

// Gives the buffer room for `wanted` bytes, rounded up to whole units; a
// failure is recorded as function's, with its line and message. Not
// realloc: that may leave the old bytes (a key, a plaintext) behind in
// memory it releases uncleared.
bool Grow(Buffer* buffer, uint64_t wanted, const char* function, unsigned line, const char* message) {
  uint32_t capacity = 0;
  unsigned char* block = nullptr;
  if (_Buffer_RoundUp(buffer, wanted, &capacity)) {
    block = static_cast<unsigned char*>(RasUtil_Malloc(capacity));
  } else {
    platform::SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (!block) {
    RasSetLastError(function, kFile, line, 255, platform::GetLastErrorCode(), "%s", message);
    return false;
  }
  if (buffer->length) std::memcpy(block, buffer->data, buffer->length);
  ReleaseData(buffer);
  buffer->data = block;
  buffer->capacity = capacity;
  return true;
}

}  // namespace

Buffer* Buffer_New() {
  Buffer* buffer = static_cast<Buffer*>(RasUtil_Calloc(1, sizeof(Buffer)));
  if (!buffer) {
    RasSetLastError("Buffer_New", kFile, kLineNew, 255, platform::GetLastErrorCode(), "malloc failed");
    return nullptr;
  }
  buffer->unit = kUnit;
  return buffer;
}

bool Buffer_Append(Buffer* buffer, const void* bytes, uint32_t count) {
  // Growth counts from the capacity, so an attached text (length equal to
  // capacity, no whole unit) grows to the next unit boundary.
  if (static_cast<uint64_t>(buffer->length) + count > buffer->capacity &&
      !Grow(buffer, static_cast<uint64_t>(buffer->capacity) + count, "Buffer_Append", kLineAppend, "alloc failed"))
    return false;
  if (count) std::memcpy(buffer->data + buffer->length, bytes, count);
  buffer->length += count;
  return true;
}

bool Buffer_AppendNull(Buffer* buffer) {
  uint32_t need = 0;
  bool fits = _Buffer_RoundUp(buffer, static_cast<uint64_t>(buffer->length) + 1, &need);
  if ((!fits || buffer->capacity < need) &&
      !Grow(buffer, static_cast<uint64_t>(buffer->length) + 1, "Buffer_AppendNull", kLineAppendNull, "realloc failed"))
    return false;
  buffer->data[buffer->length] = 0;
  buffer->length += 1;
  return true;
}

void Buffer_Attach(Buffer* buffer, char* text) {
  ReleaseData(buffer);
  size_t length = std::strlen(text);
  buffer->data = reinterpret_cast<unsigned char*>(text);
  buffer->length = static_cast<uint32_t>(length);
  buffer->capacity = static_cast<uint32_t>(length);
}

void Buffer_Free(Buffer* buffer) {
  if (!buffer) return;
  ReleaseData(buffer);
  RasUtil_Free(buffer);
}

void _Buffer_Replace(Buffer* buffer, unsigned char* block, uint32_t capacity, uint32_t length) {
  ReleaseData(buffer);
  buffer->data = block;
  buffer->capacity = capacity;
  buffer->length = length;
}
