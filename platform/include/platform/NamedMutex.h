// Named kernel mutexes, the one object the kit shares between processes.
#pragma once

#include "platform/Port.h"
#include "platform/UniqueHandle.h"
#include "platform/WinTypes.h"

namespace platform {

class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  // CreateMutexW(default security, initialOwner, name). A handle also when
  // the name already existed: the last error then is ERROR_ALREADY_EXISTS,
  // otherwise ERROR_SUCCESS. Null with the last error when refused. A null
  // or empty name makes an unnamed mutex.
  virtual HANDLE Create(const wchar_t* name, BOOL initialOwner) = 0;
  // CloseHandle: the mutex ends with its last handle (or its process).
  virtual BOOL Close(HANDLE mutex) = 0;

  VELK_PORT(NamedMutex);
};

// Owns a mutex handle; Create gives null when refused.
using MutexHandle = UniqueHandle<ClosedThrough<NamedMutex, &NamedMutex::Close, NullInvalid<HANDLE>>>;

}  // namespace platform
