#include "app/ProtectionFeatures.h"

#include <algorithm>

#include "logging/DDLog.h"

namespace ww {

namespace {

// The rule lines are part of the check; these lines carry its name too.
constexpr const char* kCheckFn = "checkInterfaceStatusRequest";
// A grace period longer than this is taken as this.
constexpr std::int64_t kMaxGraceSeconds = 3600;

}  // namespace

ProtectionFeatures::ProtectionFeatures(UserDefaults& store, const Clock& clock, Notifier* notifier,
                                       std::string auditPath)
    : m_store(store),
      m_clock(clock),
      m_pause(store, clock),
      m_audit(std::move(auditPath), clock),
      m_notifications(store, clock, notifier),
      m_guards(clock) {}

std::chrono::seconds ProtectionFeatures::graceSetting() {
    return std::chrono::seconds(
        std::clamp<std::int64_t>(m_store.integerForKey("WiredGraceSeconds"), 0, kMaxGraceSeconds));
}

int ProtectionFeatures::flapLimitSetting() {
    return static_cast<int>(std::clamp<std::int64_t>(m_store.integerForKey("FlapLimit"), 0, 1000));
}

void ProtectionFeatures::checkStarted() { m_lookedAt = m_clock.now(); }

ProtectionFeatures::RuleInputs ProtectionFeatures::beforeRules(bool wired, bool wireless) {
    m_audit.observe(wired, wireless, m_lookedAt, m_clock.now());
    m_wiredRaw = wired;
    m_wirelessRaw = wireless;

    RuleInputs in;
    in.wireless = wireless;
    const auto grace = graceSetting();
    RuleGuards::Event event;
    in.wired = m_guards.wiredForRules(wired, grace, &event);
    if (event == RuleGuards::Event::DampingReleased) {
        WWLogErrorIn(kCheckFn,
                     "AppDelegate: flap damping ended, the wired side has been stable for 60 s");
    }
    if (wired && !in.wired) {
        WWLogInfoIn(kCheckFn,
                    "AppDelegate: wired link in its grace period of %@ s, not yet counted",
                    static_cast<std::int64_t>(grace.count()));
    }

    // A pause that ended (perhaps while the agent was not running) is cleared.
    const bool ended = m_pause.clearIfEnded();
    auto until = m_pause.pausedUntil();
    in.paused = until.has_value();
    if (in.paused && !m_wasPaused) {
        WWLogErrorIn(kCheckFn, "AppDelegate: protection paused until %@, no rule acts",
                     localClockTime(*until));
    } else if (!in.paused && (m_wasPaused || ended)) {
        WWLogErrorIn(kCheckFn, "AppDelegate: protection resumed");
    }
    m_wasPaused = in.paused;
    const bool ignored = m_pause.isIgnored();
    if (ignored && !m_pauseIgnored) {
        WWLogErrorIn(kCheckFn,
                     "AppDelegate: the pause in the preferences is ignored, the rule is set by "
                     "your administrator");
    }
    m_pauseIgnored = ignored;
    return in;
}

void ProtectionFeatures::didCut(bool powerOff, bool succeeded, bool wasUp) {
    if (succeeded) {
        m_audit.actedOn(powerOff ? "Wi-Fi switched off by the rule"
                                 : "Wi-Fi disconnected by the rule");
    }
    // Repeating a cut every check changes nothing; a cut after a restore, or
    // of a connected Wi-Fi, does.
    const bool changed = wasUp || !m_guards.lastActionWasCut();
    const int limit = flapLimitSetting();
    if (m_guards.noteCut(limit)) {
        WWLogErrorIn(kCheckFn,
                     "AppDelegate: Wi-Fi flapping, %@ Wi-Fi actions within 60 s; holding Wi-Fi off "
                     "until the wired side has been stable for 60 s",
                     m_guards.recentActions());
        m_notifications.post(NotificationKind::DampingEngaged, "Wi-Fi held off",
                             "The wired link keeps changing. Wirewatch keeps Wi-Fi off until it "
                             "has been stable for a minute.");
    }
    if (succeeded && changed) {
        m_notifications.post(NotificationKind::WiFiCut,
                             powerOff ? "Wi-Fi switched off" : "Wi-Fi disconnected",
                             powerOff ? "Wirewatch switched Wi-Fi off because a wired network is "
                                        "connected."
                                      : "Wirewatch disconnected Wi-Fi because a wired network is "
                                        "connected.");
    }
}

bool ProtectionFeatures::mayRestore() {
    bool engaged = false;
    const int limit = flapLimitSetting();
    bool may = m_guards.mayRestore(limit, &engaged);
    if (engaged) {
        WWLogErrorIn(kCheckFn,
                     "AppDelegate: Wi-Fi flapping, %@ Wi-Fi actions within 60 s; holding Wi-Fi off "
                     "until the wired side has been stable for 60 s",
                     m_guards.recentActions() + 1);
        m_notifications.post(NotificationKind::DampingEngaged, "Wi-Fi held off",
                             "The wired link keeps changing. Wirewatch keeps Wi-Fi off until it "
                             "has been stable for a minute.");
    }
    return may;
}

void ProtectionFeatures::didRestore() { m_guards.noteRestore(flapLimitSetting()); }

void ProtectionFeatures::afterRules(const std::optional<std::string>& iconBaseName, bool warning) {
    if (!iconBaseName) return;
    if (warning && !m_lastWarning) {
        m_notifications.post(NotificationKind::WarningEntered, "Wirewatch: not protected",
                             m_pause.isPaused()
                                 ? "Protection is paused."
                                 : "A wired network is connected and no rule protects you.");
    }
    m_lastWarning = warning;
}

std::optional<Clock::SteadyTime> ProtectionFeatures::nextDeadline() {
    auto next = m_guards.nextDeadline(graceSetting());
    if (auto until = m_pause.pausedUntil()) {
        // Stored dates are not exact to the nanosecond: never come early.
        auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - m_clock.wallNow());
        auto end = m_clock.now() + left;
        if (!next || end < *next) next = end;
    }
    return next;
}

}  // namespace ww
