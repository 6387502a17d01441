#include "BufferPrivate.h"
#include "platform/LastError.h"
#include "velkras2/RasError.h"
#include "velkras2/RasUtil.h"

namespace {
const char kFile[] = "Buffer_encode.cpp";
constexpr unsigned kLineBinToHex = 58;
const char kDigits[] = "0123456789abcdef";
}  // namespace

bool Buffer_BinToHex(Buffer* buffer) {
  uint32_t size = 0;
  unsigned char* block = nullptr;
  if (_Buffer_RoundUp(buffer, 2 * static_cast<uint64_t>(buffer->length), &size)) {
    block = static_cast<unsigned char*>(RasUtil_Malloc(size));
  } else {
    platform::SetLastErrorCode(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (!block) {
    RasSetLastError("Buffer_BinToHex", kFile, kLineBinToHex, 255, platform::GetLastErrorCode(), "malloc failed");
    return false;
  }
  for (size_t i = 0; i < buffer->length; ++i) {
    block[2 * i] = static_cast<unsigned char>(kDigits[buffer->data[i] >> 4]);
    block[2 * i + 1] = static_cast<unsigned char>(kDigits[buffer->data[i] & 0x0F]);
  }
  _Buffer_Replace(buffer, block, size, 2 * buffer->length);
  return true;
}
