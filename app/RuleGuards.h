#pragma once

#include <chrono>
#include <deque>
#include <optional>

#include "app/Clock.h"

namespace ww {

// Grace period and flap damping: what stands between the inventory's wired
// flag and the rules. Both are off by default, and then the rules see the
// inventory's findings unchanged. Not thread-safe: one check at a time uses it.
class RuleGuards {
  public:
    // How long the wired side must be stable before damping lets go, and the
    // window in which Wi-Fi actions are counted.
    static constexpr std::chrono::seconds kFlapWindow{60};

    enum class Event { None, DampingReleased };

    explicit RuleGuards(const Clock& clock) : m_clock(clock) {}

    // Each check, with the inventory's wired flag, before the rules. Returns
    // whether the rules treat wired as present: a wired link counts once it
    // has been seen continuously for `grace` (timed from the first check that
    // saw it). `event` tells when damping has just let go.
    bool wiredForRules(bool wired, std::chrono::seconds grace, Event* event = nullptr);

    // A Wi-Fi action by the rules. Cuts (disconnect, power off) are always
    // made; only a change of direction counts toward the limit, so repeating
    // the same step every check does not. Returns true when this cut engaged
    // damping.
    bool noteCut(int flapLimit);
    // Asked before Wi-Fi is restored (switched on when nothing is connected):
    // false while damping holds Wi-Fi off, and false when this restore would
    // reach the limit, in which case damping engages now (`engaged` is set)
    // rather than after going unprotected.
    bool mayRestore(int flapLimit, bool* engaged);
    void noteRestore(int flapLimit);

    bool isDamping() const { return m_damping; }
    // Whether the last Wi-Fi action was a cut (a repeated cut changes nothing).
    bool lastActionWasCut() const { return m_last == Direction::Cut; }
    // Wi-Fi actions counted in the last window.
    int recentActions() const { return static_cast<int>(m_actions.size()); }

    // When a check should run so that nothing waits for the next tick: the end
    // of the grace period, or the moment damping may let go.
    std::optional<Clock::SteadyTime> nextDeadline(std::chrono::seconds grace) const;

  private:
    enum class Direction { None, Cut, Restore };
    void forgetOldActions();
    bool count(Direction d, int flapLimit);

    const Clock& m_clock;
    std::optional<bool> m_wired;
    Clock::SteadyTime m_wiredSince{};
    Clock::SteadyTime m_lastWiredChange{};
    std::deque<Clock::SteadyTime> m_actions;
    Direction m_last = Direction::None;
    bool m_damping = false;
};

}  // namespace ww
