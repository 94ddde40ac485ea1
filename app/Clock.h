#pragma once

#include <chrono>

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

}  // namespace ww
