#include <ctime>

#include "platform/Clock.h"

namespace platform {

namespace {

class Win32Clock : public Clock {
 public:
  void GetLocalTime(SYSTEMTIME* time) override { ::GetLocalTime(time); }
  void GetSystemTime(SYSTEMTIME* time) override { ::GetSystemTime(time); }
  int64_t UnixTime() override { return static_cast<int64_t>(::time(nullptr)); }
  void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
  DWORD ProcessId() override { return GetCurrentProcessId(); }
  DWORD ThreadId() override { return GetCurrentThreadId(); }
};

}  // namespace

Clock& Clock::Default() {
  static Win32Clock clock;
  return clock;
}

}  // namespace platform
