#pragma once

#include <chrono>
#include <memory>

namespace ww {

// Where the file logger and its file infos read the time from. Age rolling
// depends on it, so tests give them a clock of their own.
class DDLogClock {
  public:
    using TimePoint = std::chrono::system_clock::time_point;

    virtual ~DDLogClock() = default;
    virtual TimePoint now() const = 0;

    // The wall clock.
    static std::shared_ptr<DDLogClock> system();
};

using DDLogClockPtr = std::shared_ptr<DDLogClock>;

}  // namespace ww
