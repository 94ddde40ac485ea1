#pragma once

// Helpers shared by the logging suites: a clock that can be moved, text shapes
// and an empty log core.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string_view>

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

// Matches text against a shape: '#' is a decimal digit, '%' an upper-case
// hexadecimal digit, '*' any run of characters (also none); everything else
// stands for itself. (std::regex trips GCC 12's warnings in sanitizer builds.)
inline bool matchesShape(std::string_view text, std::string_view shape) {
    if (shape.empty()) return text.empty();
    char c = shape.front();
    if (c == '*') {
        for (size_t k = 0; k <= text.size(); ++k) {
            if (matchesShape(text.substr(k), shape.substr(1))) return true;
        }
        return false;
    }
    if (text.empty()) return false;
    char t = text.front();
    bool ok = c == '#'   ? (t >= '0' && t <= '9')
              : c == '%' ? ((t >= '0' && t <= '9') || (t >= 'A' && t <= 'F'))
                         : t == c;
    return ok && matchesShape(text.substr(1), shape.substr(1));
}

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
