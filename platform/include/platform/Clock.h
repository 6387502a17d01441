// Clock and ids: time, waits, and the process and thread ids.
#pragma once

#include "platform/Port.h"
#include "platform/WinTypes.h"

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual void GetLocalTime(SYSTEMTIME* time) = 0;
  virtual void GetSystemTime(SYSTEMTIME* time) = 0;
  // Seconds since 1970-01-01 UTC.
  virtual int64_t UnixTime() = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  virtual DWORD ProcessId() = 0;
  virtual DWORD ThreadId() = 0;

  VELK_PORT(Clock);
};

}  // namespace platform
