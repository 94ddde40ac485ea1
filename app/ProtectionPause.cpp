#include "app/ProtectionPause.h"

#include "settings/ManagedExitPassword.h"

namespace ww {

namespace {

// Property-list dates count from 2001-01-01 00:00:00 UTC.
constexpr double kUnixTo2001 = 978307200.0;

double toPlistDate(Clock::WallTime t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count() - kUnixTo2001;
}

Clock::WallTime fromPlistDate(double d) {
    return Clock::WallTime(std::chrono::duration_cast<Clock::WallTime::duration>(
        std::chrono::duration<double>(d + kUnixTo2001)));
}

}  // namespace

std::string localClockTime(Clock::WallTime t) { return localTimeText(t, "%H:%M"); }

ProtectionPause::ProtectionPause(UserDefaults& store, const Clock& clock)
    : m_store(store),
      m_clock(clock),
      // The preferences are the user's to edit: a pause written there must not
      // get round a rule the administrator fixes, as the pause items cannot.
      m_ruleLocked([&store] { return store.isManaged("selectedInterfaceOption"); }) {}

// The same gate as quitting: the administrator's password when the policy
// sets one, else the user's.
bool ProtectionPause::needsPassword() const { return exitpassword::isExitGuarded(m_store); }

ProtectionPause::Result ProtectionPause::pause(std::chrono::seconds duration,
                                               const std::optional<std::string>& password) {
    if (isRuleLocked()) return Result::LockedByPolicy;
    if (needsPassword()) {
        if (!password) return Result::PasswordNeeded;
        if (!exitpassword::opensExitGate(m_store, *password)) return Result::WrongPassword;
    }
    m_store.setObject(plist::Value::date(toPlistDate(m_clock.wallNow() + duration)), kKey);
    m_store.synchronize();
    return Result::Done;
}

void ProtectionPause::resume() {
    if (!m_store.objectForKey(kKey)) return;
    m_store.removeObjectForKey(kKey);
    m_store.synchronize();
}

std::optional<Clock::WallTime> ProtectionPause::pausedUntil() const {
    if (isRuleLocked()) return std::nullopt;
    return storedUntil();
}

std::optional<Clock::WallTime> ProtectionPause::storedUntil() const {
    auto value = m_store.objectForKey(kKey);
    if (!value) return std::nullopt;
    auto date = value->dateValue();
    if (!date) return std::nullopt;
    Clock::WallTime until = fromPlistDate(*date);
    if (until <= m_clock.wallNow()) return std::nullopt;
    return until;
}

bool ProtectionPause::clearIfEnded() {
    // An ignored pause stays: it holds again once the policy lets go of the rule.
    if (!m_store.objectForKey(kKey) || storedUntil()) return false;
    resume();
    return true;
}

std::string ProtectionPause::toolTip() const {
    auto until = pausedUntil();
    if (!until) return "Wirewatch";
    return "Wirewatch: protection paused until " + localClockTime(*until);
}

}  // namespace ww
