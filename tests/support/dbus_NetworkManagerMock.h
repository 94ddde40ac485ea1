#pragma once

// NetworkManager on a private bus: python3-dbusmock's "networkmanager"
// template, completed where it lacks the real API. Its Wi-Fi devices get the
// real Device.Disconnect() (which, as in NetworkManager, leaves the network,
// clears ActiveAccessPoint and sets Autoconnect false) and the real
// Autoconnect property (the template spells its own "AutoConnect"); access
// points get their WpaFlags, RsnFlags and, where asked, Bandwidth.

#include <cstdint>
#include <optional>
#include <string>

#include "tests/support/dbus_PrivateBus.h"

namespace ww::test {

class NetworkManagerMock {
  public:
    static constexpr const char* kService = "org.freedesktop.NetworkManager";
    static constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
    static constexpr const char* kManager = "org.freedesktop.NetworkManager";
    static constexpr const char* kDevice = "org.freedesktop.NetworkManager.Device";
    static constexpr const char* kWireless = "org.freedesktop.NetworkManager.Device.Wireless";
    static constexpr const char* kAccessPoint = "org.freedesktop.NetworkManager.AccessPoint";
    static constexpr const char* kMock = "org.freedesktop.DBus.Mock";
    static constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

    // NM80211ApSecurityFlags.
    static constexpr std::uint32_t kPairCcmp = 0x8, kGroupCcmp = 0x80, kPsk = 0x100, kSae = 0x400;

    struct AccessPoint {
        std::string name;  // object name below .../AccessPoint/
        std::string ssid;
        std::string bssid;
        std::uint32_t frequency = 5180;     // MHz
        std::uint32_t maxBitrate = 866700;  // kbit/s
        std::uint8_t strength = 70;
        std::uint32_t flags = 1;  // privacy
        std::uint32_t wpaFlags = 0;
        std::uint32_t rsnFlags = kPairCcmp | kGroupCcmp | kPsk;
        std::optional<std::uint32_t> bandwidth = std::nullopt;  // MHz (NetworkManager 1.46+)
    };

    explicit NetworkManagerMock(const PrivateBus& bus)
        : m_mock(bus, {"networkmanager", kService, "", true}), m_caller(bus.address()) {}

    bool running() const { return m_mock.running() && m_caller.connected(); }
    std::string whyNotRunning() const { return m_mock.whyNotRunning(); }
    DBusMock& mock() { return m_mock; }
    BusCaller& caller() { return m_caller; }

    // A Wi-Fi device (NMDeviceState `state`, 100 activated) with the real
    // Disconnect() and Autoconnect. Its path, empty on failure (`error`).
    std::string addWiFiDevice(const std::string& name, const std::string& interface,
                              std::uint32_t state, bool autoconnect, std::string* error) {
        std::string path = BusCaller::firstString(
            m_caller.call(kService, kManagerPath, kMock, "AddWiFiDevice", error, "ssi",
                          name.c_str(), interface.c_str(), static_cast<std::int32_t>(state)));
        if (path.empty()) return {};
        const std::string disconnect =
            "d = self.props['org.freedesktop.NetworkManager.Device']\n"
            "w = self.props['org.freedesktop.NetworkManager.Device.Wireless']\n"
            "if d['State'] < 40 or d['State'] > 100:\n"
            "    raise dbus.exceptions.DBusException('This device is not active', "
            "name='org.freedesktop.NetworkManager.Device.NotActive')\n"
            "d['Autoconnect'] = dbus.Boolean(False)\n"
            "d['State'] = dbus.UInt32(30)\n"
            "d['ActiveConnection'] = dbus.ObjectPath('/')\n"
            "w['ActiveAccessPoint'] = dbus.ObjectPath('/')\n";
        if (!m_caller.call(kService, path, kMock, "AddMethod", error, "sssss", kDevice,
                           "Disconnect", "", "", disconnect.c_str()) ||
            !m_caller.call(kService, path, kMock, "AddProperty", error, "ssv", kDevice,
                           "Autoconnect", "b", static_cast<int>(autoconnect)) ||
            !m_caller.call(kService, path, kMock, "AddProperty", error, "ssv", kWireless,
                           "ActiveAccessPoint", "o", "/")) {
            return {};
        }
        return path;
    }

    // An access point of `device`, made the device's active one when `active`.
    std::string addAccessPoint(const std::string& device, const AccessPoint& ap, bool active,
                               std::string* error) {
        std::string path = BusCaller::firstString(
            m_caller.call(kService, kManagerPath, kMock, "AddAccessPoint", error, "ssssuuuyu",
                          device.c_str(), ap.name.c_str(), ap.ssid.c_str(), ap.bssid.c_str(),
                          std::uint32_t{2}, ap.frequency, ap.maxBitrate, ap.strength, ap.rsnFlags));
        if (path.empty()) return {};
        if (!set(path, kAccessPoint, "Flags", "u", ap.flags, error) ||
            !set(path, kAccessPoint, "WpaFlags", "u", ap.wpaFlags, error) ||
            !set(path, kAccessPoint, "RsnFlags", "u", ap.rsnFlags, error)) {
            return {};
        }
        if (ap.bandwidth && !m_caller.call(kService, path, kMock, "AddProperty", error, "ssv",
                                           kAccessPoint, "Bandwidth", "u", *ap.bandwidth)) {
            return {};
        }
        if (active && !set(device, kWireless, "ActiveAccessPoint", "o", path.c_str(), error)) {
            return {};
        }
        return path;
    }

    // Properties.Set of one property: `type` "u" (a std::uint32_t), "b" (an int) or "o" (a
    // path).
    template <typename T>
    bool set(const std::string& path, const char* interface, const char* name, const char* type,
             T value, std::string* error) {
        return m_caller.call(kService, path, kProperties, "Set", error, "ssv", interface, name,
                             type, value) != nullptr;
    }

    // The manager's Properties.Set refuses every write, as NetworkManager does
    // for a user its policy does not admit.
    bool refuseSet(std::string* error) {
        return m_caller.call(kService, kManagerPath, kMock, "AddMethod", error, "sssss",
                             kProperties, "Set", "ssv", "",
                             "raise dbus.exceptions.DBusException('Not authorized to control "
                             "networking.', name='org.freedesktop.NetworkManager."
                             "PermissionDenied')") != nullptr;
    }

    std::optional<bool> wirelessEnabled() {
        auto reply = m_caller.call(kService, kManagerPath, kProperties, "Get", nullptr, "ss",
                                   kManager, "WirelessEnabled");
        int value = 0;
        if (!reply || sd_bus_message_read(reply.get(), "v", "b", &value) < 0) return std::nullopt;
        return value != 0;
    }

    // How many times a method of the object at `path` was called (the mock's
    // own call record of that object).
    int calls(const std::string& path, const char* method) {
        auto reply = m_caller.call(kService, path, kMock, "GetMethodCalls", nullptr, "s", method);
        if (!reply || sd_bus_message_enter_container(reply.get(), 'a', "(tav)") < 0) return -1;
        int n = 0;
        while (sd_bus_message_at_end(reply.get(), 0) == 0) {
            if (sd_bus_message_skip(reply.get(), "(tav)") < 0) return -1;
            ++n;
        }
        return n;
    }

  private:
    DBusMock m_mock;
    BusCaller m_caller;
};

}  // namespace ww::test
