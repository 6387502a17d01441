// A clock that stands still unless a test or a Sleep moves it.
#pragma once

#include <vector>

#include "platform/Clock.h"

namespace velk_test {

class FakeClock : public platform::Clock {
 public:
  FakeClock();
  void GetLocalTime(SYSTEMTIME* time) override { *time = local; }
  void GetSystemTime(SYSTEMTIME* time) override { *time = utc; }
  int64_t UnixTime() override { return unixTime; }
  void Sleep(DWORD milliseconds) override;
  DWORD ProcessId() override { return processId; }
  DWORD ThreadId() override { return threadId; }

  SYSTEMTIME local{};
  SYSTEMTIME utc{};
  int64_t unixTime = 1715936587;  // 2024-05-17 09:03:07 UTC
  DWORD processId = 0x1F4;
  DWORD threadId = 0x1A2C;
  uint64_t sleptMilliseconds = 0;
  std::vector<DWORD> sleeps;
};

}  // namespace velk_test
