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

    ProtectionPause(UserDefaults& store, const Clock& clock);

    // Whether the rule is locked (the managed policy sets it); a locked rule
    // cannot be paused, and a pause found in the preferences is ignored while
    // it is.
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
    // passed, an unreadable value, or any pause while the rule is locked).
    std::optional<Clock::WallTime> pausedUntil() const;
    // A pause is stored and still to come, but the locked rule overrides it.
    bool isIgnored() const { return isRuleLocked() && storedUntil().has_value(); }
    bool isPaused() const { return pausedUntil().has_value(); }
    // True once when a pause found to have ended is cleared from the store.
    bool clearIfEnded();

    // "Wirewatch" or "Wirewatch: protection paused until 14:35".
    std::string toolTip() const;

  private:
    // The stored end, when it is still to come.
    std::optional<Clock::WallTime> storedUntil() const;

    UserDefaults& m_store;
    const Clock& m_clock;
    std::function<bool()> m_ruleLocked;
};

// "14:35" in local time.
std::string localClockTime(Clock::WallTime t);

}  // namespace ww
