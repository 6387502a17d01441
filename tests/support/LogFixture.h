// A fixture whose log goes to a fake installer session with a fixed clock.
#pragma once

#include <gtest/gtest.h>

#include "Log.h"
#include "platform/Port.h"
#include "support/FakeClock.h"
#include "support/FakeInstaller.h"

namespace velk_test {

class LogFixture : public ::testing::Test {
 protected:
  LogFixture() : useInstaller_(installer), useClock_(clock) {
    g_logger.m_hInstall = FakeInstaller::kSession;
    g_logger.m_threshold = Info;
  }
  ~LogFixture() override {
    g_logger.m_hInstall = 0;
    g_logger.m_threshold = Info;
  }

  FakeInstaller installer;
  FakeClock clock;

 private:
  platform::ScopedPort<platform::Installer> useInstaller_;
  platform::ScopedPort<platform::Clock> useClock_;
};

}  // namespace velk_test
