// Clock and ids of the host: the real time, process and thread ids.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/Clock.h"

namespace platform {

namespace {

void Fill(const struct tm& t, long nanoseconds, SYSTEMTIME* out) {
  out->wYear = static_cast<WORD>(t.tm_year + 1900);
  out->wMonth = static_cast<WORD>(t.tm_mon + 1);
  out->wDayOfWeek = static_cast<WORD>(t.tm_wday);
  out->wDay = static_cast<WORD>(t.tm_mday);
  out->wHour = static_cast<WORD>(t.tm_hour);
  out->wMinute = static_cast<WORD>(t.tm_min);
  out->wSecond = static_cast<WORD>(t.tm_sec);
  out->wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

class HostClock : public Clock {
 public:
  void GetLocalTime(SYSTEMTIME* time) override {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t;
    localtime_r(&ts.tv_sec, &t);
    Fill(t, ts.tv_nsec, time);
  }
  void GetSystemTime(SYSTEMTIME* time) override {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t;
    gmtime_r(&ts.tv_sec, &t);
    Fill(t, ts.tv_nsec, time);
  }
  int64_t UnixTime() override { return static_cast<int64_t>(::time(nullptr)); }
  void Sleep(DWORD milliseconds) override {
    struct timespec ts {
      static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L
    };
    while (nanosleep(&ts, &ts) != 0) {
    }
  }
  DWORD ProcessId() override { return static_cast<DWORD>(::getpid()); }
  DWORD ThreadId() override { return static_cast<DWORD>(::syscall(SYS_gettid)); }
};

}  // namespace

Clock& Clock::Default() {
  static HostClock clock;
  return clock;
}

}  // namespace platform
