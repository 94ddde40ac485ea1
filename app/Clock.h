#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace ww {

// Time as the agent's timing features see it: a steady clock for intervals
// and the wall clock for what is shown and stored. Tests inject their own.
class Clock {
  public:
    using SteadyTime = std::chrono::steady_clock::time_point;
    using WallTime = std::chrono::system_clock::time_point;

    virtual ~Clock() = default;
    virtual SteadyTime now() const = 0;
    virtual WallTime wallNow() const = 0;

    // The process's real clock.
    static Clock& system();
};

// A wall-clock moment in local time, as strftime writes it with `format`
// (short formats only: "%H:%M", "%Y-%m-%d").
inline std::string localTimeText(Clock::WallTime t, const char* format) {
    std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char buf[32];
    std::size_t n = std::strftime(buf, sizeof buf, format, &tm);
    return std::string(buf, n);
}

}  // namespace ww
