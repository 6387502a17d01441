#include "support/FakeClock.h"

namespace velk_test {

FakeClock::FakeClock() {
  local = SYSTEMTIME{2024, 5, 5, 17, 9, 3, 7, 42};
  utc = local;
}

void FakeClock::Sleep(DWORD milliseconds) {
  sleeps.push_back(milliseconds);
  sleptMilliseconds += milliseconds;
  unixTime += milliseconds / 1000;
}

}  // namespace velk_test
