#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "app/Clock.h"
#include "app/ExposureAudit.h"
#include "app/Notifications.h"
#include "app/ProtectionPause.h"
#include "app/RuleGuards.h"
#include "app/UserDefaults.h"

namespace ww {

// What the check cycle consults around its rules beyond the rules
// themselves: grace period and flap damping ("WiredGraceSeconds",
// "FlapLimit"), pausing, the exposure audit and the notifications. With the
// default settings it changes nothing the rules do. The check-thread calls
// come from one check at a time.
class ProtectionFeatures {
  public:
    ProtectionFeatures(UserDefaults& store, const Clock& clock, Notifier* notifier,
                       std::string auditPath);

    ProtectionPause& pause() { return m_pause; }
    ExposureAudit& audit() { return m_audit; }
    AgentNotifications& notifications() { return m_notifications; }
    const Clock& clock() const { return m_clock; }

    // ---- check thread ----
    // The check starts to look at the network.
    void checkStarted();
    struct RuleInputs {
        bool wired = false;  // as the rules are to see it (after the grace period)
        bool wireless = false;
        bool paused = false;  // no rule acts
    };
    // The inventory's findings in, what the rules see out. Logs when a pause
    // begins or ends and when damping lets go.
    RuleInputs beforeRules(bool wired, bool wireless);
    // A rule cut Wi-Fi: disconnected (`powerOff` false) or switched off.
    // `succeeded`: the step reported no failure; `wasUp`: Wi-Fi was connected
    // or powered before, so the step changed something.
    void didCut(bool powerOff, bool succeeded, bool wasUp);
    // Before switching Wi-Fi on because nothing is connected: false while flap
    // damping holds Wi-Fi off.
    bool mayRestore();
    void didRestore();
    // The icon the check chose (nothing: unchanged).
    void afterRules(const std::optional<std::string>& iconBaseName, bool warning);

    // When the next check should come without waiting for a tick: the end of
    // the grace period, the moment damping may let go, the end of a pause.
    std::optional<Clock::SteadyTime> nextDeadline();

    std::string toolTip() const { return m_pause.toolTip(); }

  private:
    std::chrono::seconds graceSetting();
    int flapLimitSetting();

    UserDefaults& m_store;
    const Clock& m_clock;
    ProtectionPause m_pause;
    ExposureAudit m_audit;
    AgentNotifications m_notifications;
    RuleGuards m_guards;
    Clock::SteadyTime m_lookedAt{};
    bool m_wasPaused = false;
    bool m_pauseIgnored = false;
    bool m_wiredRaw = false, m_wirelessRaw = false;
    bool m_lastWarning = false;
};

}  // namespace ww
