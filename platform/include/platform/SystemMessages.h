// System error texts (FormatMessageA from the system and a module's table).
#pragma once

#include "platform/Port.h"
#include "platform/WinTypes.h"

#ifndef _WIN32
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
#endif

namespace platform {

enum class MessageModule { None, Kernel32, Newdev, Setupapi };

class SystemMessages {
 public:
  virtual ~SystemMessages() = default;
  // FormatMessageA into buffer (size bytes); returns the characters written
  // without the terminator, 0 when no text exists.
  virtual DWORD Format(DWORD flags, MessageModule module, DWORD id, DWORD language, char* buffer, DWORD size) = 0;

  VELK_PORT(SystemMessages);
};

}  // namespace platform
