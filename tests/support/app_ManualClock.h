#pragma once

#include <mutex>

#include "app/Clock.h"

namespace ww::test {

// A clock that moves only when the test moves it; the wall clock starts at
// the real time so that dates and local times look like the real ones.
class ManualClock : public Clock {
  public:
    SteadyTime now() const override {
        std::lock_guard lock(m_mutex);
        return m_steady;
    }
    WallTime wallNow() const override {
        std::lock_guard lock(m_mutex);
        return m_wall;
    }
    void advance(std::chrono::steady_clock::duration d) {
        std::lock_guard lock(m_mutex);
        m_steady += d;
        m_wall += std::chrono::duration_cast<WallTime::duration>(d);
    }

    // Puts the wall clock at `t` (the steady clock goes on from where it is).
    void setWallNow(WallTime t) {
        std::lock_guard lock(m_mutex);
        m_wall = t;
    }

  private:
    mutable std::mutex m_mutex;
    SteadyTime m_steady = std::chrono::steady_clock::now();
    WallTime m_wall = std::chrono::system_clock::now();
};

}  // namespace ww::test
