#include "platform/linux/notify/FreedesktopNotifier.h"

#include <systemd/sd-bus.h>

#include <cstring>

#include "platform/foundation/Text.h"

namespace ww::notify {

namespace {

constexpr std::uint64_t kCallTimeoutMicros = 2'000'000;

}  // namespace

FreedesktopNotifier::FreedesktopNotifier(std::string appName) : m_appName(std::move(appName)) {}

FreedesktopNotifier::~FreedesktopNotifier() {
    if (m_bus) sd_bus_flush_close_unref(m_bus);
}

std::string FreedesktopNotifier::bodyText(const std::string& text) {
    std::string out;
    for (char c : text::singleLine(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool FreedesktopNotifier::notify(const std::string& summary, const std::string& body,
                                 std::string* error) {
    std::lock_guard lock(m_mutex);
    if (!m_bus) {
        int r = sd_bus_open_user(&m_bus);
        if (r < 0) {
            m_bus = nullptr;
            if (error) *error = std::string("no session bus: ") + std::strerror(-r);
            return false;
        }
        sd_bus_set_method_call_timeout(m_bus, kCallTimeoutMicros);
    }
    const std::string s = text::singleLine(summary);
    const std::string b = bodyText(body);
    sd_bus_error busError = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    int r = sd_bus_call_method(m_bus, "org.freedesktop.Notifications",
                               "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                               "Notify", &busError, &reply, "susssasa{sv}i", m_appName.c_str(), 0u,
                               "network-wired", s.c_str(), b.c_str(), 0, 0, -1);
    bool ok = r >= 0;
    if (!ok && error) {
        *error = busError.message ? busError.message : std::strerror(-r);
    }
    sd_bus_error_free(&busError);
    sd_bus_message_unref(reply);
    if (!ok) {
        // A bus that went away is not reused: the next notification reconnects.
        sd_bus_flush_close_unref(m_bus);
        m_bus = nullptr;
    }
    return ok;
}

}  // namespace ww::notify
