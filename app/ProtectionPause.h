#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/Clock.h"
#include "app/UserDefaults.h"

namespace ww {

// Pausing protection: while paused no rule acts on Wi-Fi and the icon shows
// the warning form. The end of the pause is kept in the preferences
// ("ProtectionPausedUntil", a date), so it holds across a restart of the
// agent, and the pause ends by itself when that moment has passed.
class ProtectionPause {
  public:
    static constexpr const char* kKey = "ProtectionPausedUntil";

    enum class Result { Done, PasswordNeeded, WrongPassword, LockedByPolicy };

    ProtectionPause(UserDefaults& store, const Clock& clock) : m_store(store), m_clock(clock) {}

    // Whether the rule is locked (by a managed policy); a locked rule cannot
    // be paused. Unset: never locked.
    void setRuleLocked(std::function<bool()> isRuleLocked) {
        m_ruleLocked = std::move(isRuleLocked);
    }
    bool isRuleLocked() const { return m_ruleLocked && m_ruleLocked(); }
    // Pausing asks for the exit password when one is set.
    bool needsPassword() const;

    // Pauses for `duration` from now (a new pause replaces a running one).
    // `password` is what the user typed, when asked.
    Result pause(std::chrono::seconds duration,
                 const std::optional<std::string>& password = std::nullopt);
    // Ends the pause now. Resuming protection needs no password.
    void resume();

    // The end of the running pause; nothing when not paused (an end that has
    // passed, or an unreadable value, is no pause).
    std::optional<Clock::WallTime> pausedUntil() const;
    bool isPaused() const { return pausedUntil().has_value(); }
    // True once when a pause found to have ended is cleared from the store.
    bool clearIfEnded();

    // "Wirewatch" or "Wirewatch: protection paused until 14:35".
    std::string toolTip() const;

  private:
    UserDefaults& m_store;
    const Clock& m_clock;
    std::function<bool()> m_ruleLocked;
};

// "14:35" in local time.
std::string localClockTime(Clock::WallTime t);

}  // namespace ww
