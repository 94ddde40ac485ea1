#pragma once

#include <mutex>
#include <string>

#include "app/Notifications.h"

struct sd_bus;

namespace ww::notify {

// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications) on the session bus, which sd-bus finds
// through DBUS_SESSION_BUS_ADDRESS. The bus is opened at the first
// notification and opened again after a failure; a call waits at most two
// seconds, so a stuck service cannot hold up a check. Thread-safe.
class FreedesktopNotifier : public Notifier {
  public:
    explicit FreedesktopNotifier(std::string appName = "Wirewatch");
    ~FreedesktopNotifier() override;
    FreedesktopNotifier(const FreedesktopNotifier&) = delete;
    FreedesktopNotifier& operator=(const FreedesktopNotifier&) = delete;

    bool notify(const std::string& summary, const std::string& body, std::string* error) override;

    // The texts as sent: one safe line of UTF-8 each, markup characters
    // escaped (servers may read the body as markup).
    static std::string bodyText(const std::string& text);

  private:
    std::mutex m_mutex;
    std::string m_appName;
    sd_bus* m_bus = nullptr;
};

}  // namespace ww::notify
