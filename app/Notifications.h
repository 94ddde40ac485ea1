#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>

#include "app/Clock.h"
#include "app/UserDefaults.h"

namespace ww {

// Shows a desktop notification. Implementations live with the platform
// (freedesktop notifications on the session bus); they must be callable from
// any thread and must not wait long.
class Notifier {
  public:
    virtual ~Notifier() = default;
    // False when the notification could not be handed over (`error` says why).
    virtual bool notify(const std::string& summary, const std::string& body,
                        std::string* error) = 0;
};

// What the agent tells the user about, each kind switched on by a preference
// of its own (all off by default).
enum class NotificationKind { WiFiCut, WarningEntered, HotspotDisabled, DampingEngaged };
inline constexpr int kNotificationKinds = 4;

// "NotifyWiFiCut", "NotifyWarningState", "NotifyHotspotDisabled", "NotifyFlapDamping".
const char* notificationPreferenceKey(NotificationKind kind);

// The agent's notifications: at most one of a kind per minute, only when its
// preference is on, and never an error for the caller. Thread-safe.
class AgentNotifications {
  public:
    static constexpr std::chrono::seconds kMinimumGap{60};

    AgentNotifications(UserDefaults& store, const Clock& clock, Notifier* notifier)
        : m_store(store), m_clock(clock), m_notifier(notifier) {}

    // True when the notification was shown; false when switched off, too soon
    // after the last of its kind, without a notifier, or when showing failed
    // (the failure is logged; a failed attempt does not hold back the next).
    bool post(NotificationKind kind, const std::string& summary, const std::string& body);

  private:
    UserDefaults& m_store;
    const Clock& m_clock;
    Notifier* m_notifier;
    std::mutex m_mutex;
    std::array<std::optional<Clock::SteadyTime>, kNotificationKinds> m_last{};
};

}  // namespace ww
