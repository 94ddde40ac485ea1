#include "app/Notifications.h"

#include "logging/DDLog.h"

namespace ww {

const char* notificationPreferenceKey(NotificationKind kind) {
    switch (kind) {
        case NotificationKind::WiFiCut:
            return "NotifyWiFiCut";
        case NotificationKind::WarningEntered:
            return "NotifyWarningState";
        case NotificationKind::HotspotDisabled:
            return "NotifyHotspotDisabled";
        case NotificationKind::DampingEngaged:
            break;
    }
    return "NotifyFlapDamping";
}

bool AgentNotifications::post(NotificationKind kind, const std::string& summary,
                              const std::string& body) {
    if (!m_notifier || !m_store.boolForKey(notificationPreferenceKey(kind))) return false;
    const auto now = m_clock.now();
    auto& last = m_last[static_cast<std::size_t>(kind)];
    {
        std::lock_guard lock(m_mutex);
        if (last && now - *last < kMinimumGap) return false;
        last = now;
    }
    std::string error;
    if (m_notifier->notify(summary, body, &error)) return true;
    WWLogInfo("AppDelegate: notification \"%@\" not shown: %@", summary, error);
    std::lock_guard lock(m_mutex);
    last.reset();
    return false;
}

}  // namespace ww
