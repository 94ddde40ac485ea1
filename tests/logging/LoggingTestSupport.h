#pragma once

// Helpers shared by the logging suites: a clock that can be moved and an
// empty log core.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "logging/DDLog.h"
#include "logging/DDLogClock.h"
#include "logging/DDLogger.h"
#include "tests/support/common_TestSupport.h"

namespace ww::test {

// The wall clock moved by an adjustable offset.
class OffsetClock : public DDLogClock {
  public:
    TimePoint now() const override {
        return std::chrono::system_clock::now() + std::chrono::nanoseconds(m_offsetNs.load());
    }
    void setOffset(std::chrono::nanoseconds offset) { m_offsetNs.store(offset.count()); }

  private:
    std::atomic<std::int64_t> m_offsetNs{0};
};

// Empties the core's logger list and waits until that is done, including the
// removed loggers' willRemoveLogger (a file logger rolls its file there).
inline void resetLogCore() {
    auto loggers = DDLog::allLoggers();
    DDLog::removeAllLoggers();
    DDLog::flushLog();
    for (const auto& logger : loggers) {
        if (auto queue = logger->loggerQueue()) queue->sync([] {});
    }
}

// Runs each test on an empty log core and leaves one behind.
class LogCoreFixture : public ::testing::Test {
  protected:
    void SetUp() override { resetLogCore(); }
    void TearDown() override { resetLogCore(); }
};

}  // namespace ww::test
