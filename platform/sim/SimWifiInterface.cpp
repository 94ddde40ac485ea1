#include "platform/sim/SimWifiInterface.h"

#include "logging/DDLog.h"
#include "platform/linux/netlink/LinkControl.h"

namespace ww::sim {

SimWifiState SimWifiInterface::state() const {
    // An unreadable file reads as a powered-off radio with no link.
    auto s = m_file.readState();
    if (!s) {
        SimWifiState off;
        off.present = false;
        return off;
    }
    return *s;
}

namespace {

// The addresses of the network to join, checked before anything is changed.
std::optional<std::vector<netlink::Ipv4Prefix>> joinAddresses(const SimJoinNetwork& network,
                                                              std::string& error) {
    std::vector<netlink::Ipv4Prefix> out;
    for (const std::string& text : network.addresses) {
        auto prefix = netlink::Ipv4Prefix::parse(text);
        if (!prefix) {
            error = "joinNetwork: '" + text + "' is no IPv4 address with a prefix length";
            return std::nullopt;
        }
        out.push_back(*prefix);
    }
    return out;
}

std::unique_ptr<netlink::LinkControl> openLinkControl(const std::string& device,
                                                      std::string& error) {
    std::string why;
    auto control = netlink::LinkControl::open(why);
    if (!control) error = device + ": " + why;
    return control;
}

}  // namespace

bool SimWifiInterface::setPower(bool on, std::optional<std::string>* error) {
    if (error) error->reset();
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    std::string why;
    auto current = m_file.readState(&why);
    if (!current) return fail(why);
    if (current->failPower) return fail(*current->failPower);

    // Switching on while not associated joins the configured network, if any.
    const SimJoinNetwork* join =
        on && !current->ssid && current->joinNetwork ? &*current->joinNetwork : nullptr;
    std::vector<netlink::Ipv4Prefix> addresses;
    if (join && current->device) {
        auto parsed = joinAddresses(*join, why);
        if (!parsed) return fail(why);
        addresses = std::move(*parsed);
    }

    // The device changes before the file, so that whoever sees the operation
    // in the file finds the device changed already.
    std::optional<std::string> deviceError;
    bool joined = join != nullptr;
    if (current->device) {
        const std::string& device = *current->device;
        auto control = openLinkControl(device, why);
        if (!control) return fail(why);
        // The power change itself: when it fails nothing has changed.
        if (!control->setUp(device, on, why)) return fail(why);
        if (!on && !control->removeIpv4Addresses(device, why)) deviceError = why;
        for (const auto& prefix : addresses) {
            if (!control->addIpv4Address(device, prefix, why)) {
                deviceError = why;
                joined = false;
                break;
            }
        }
    }

    const bool dropsAssociation = !on && current->device.has_value();
    bool ok = m_file.update(
        [&](plist::Value& d) {
            d.set("power", plist::Value::boolean(on));
            if (dropsAssociation) {
                d.erase("ssid");
                d.erase("bssid");
            }
            if (joined) {
                d.set("ssid", plist::Value::string(join->ssid));
                if (join->bssid) {
                    d.set("bssid", plist::Value::string(*join->bssid));
                } else {
                    d.erase("bssid");
                }
            }
        },
        on ? "setPower:1" : "setPower:0", &why);
    if (!ok) return fail(why);
    // The power did change; what went wrong on the way is still a failure.
    if (deviceError) return fail(*deviceError);
    return true;
}

bool SimWifiInterface::disassociate(std::optional<std::string>* error) {
    if (error) error->reset();
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    std::string why;
    auto current = m_file.readState(&why);
    if (!current) {
        WWLogError("Simulated Wi-Fi: cannot disconnect: %@", why);
        return fail(why);
    }
    if (current->failDisconnect) {
        WWLogError("Simulated Wi-Fi: cannot disconnect: %@", *current->failDisconnect);
        return fail(*current->failDisconnect);
    }
    std::optional<std::string> deviceError;
    if (current->device) {
        const std::string& device = *current->device;
        auto control = openLinkControl(device, why);
        if (!control || !control->removeIpv4Addresses(device, why)) {
            WWLogError("Simulated Wi-Fi: cannot remove the device's addresses: %@", why);
            deviceError = why;
        }
    }
    bool ok = m_file.update(
        [](plist::Value& d) {
            d.erase("ssid");
            d.erase("bssid");
        },
        "disassociate", &why);
    if (!ok) {
        WWLogError("Simulated Wi-Fi: cannot disconnect: %@", why);
        return fail(why);
    }
    // The radio left, but the device still holds its addresses.
    if (deviceError) return fail(*deviceError);
    return true;
}

bool SimWifiInterface::powerOn() { return state().power; }
std::int64_t SimWifiInterface::interfaceMode() { return state().interfaceMode; }
std::int64_t SimWifiInterface::security() { return state().security; }
std::int64_t SimWifiInterface::activePHYMode() { return state().activePHYMode; }
std::optional<std::string> SimWifiInterface::ssid() { return state().ssid; }
std::optional<std::string> SimWifiInterface::bssid() { return state().bssid; }

std::optional<WiFiChannel> SimWifiInterface::wlanChannel() {
    SimWifiState s = state();
    if (!s.channelNumber) return std::nullopt;
    return WiFiChannel{*s.channelNumber, s.channelBand, s.channelWidth};
}

std::int64_t SimWifiInterface::rssiValue() { return state().rssiValue; }
std::int64_t SimWifiInterface::noiseMeasurement() { return state().noiseMeasurement; }
double SimWifiInterface::transmitRate() { return state().transmitRate; }

namespace {

class SimWiFiClient : public WiFiClient {
public:
    explicit SimWiFiClient(std::string path) : m_path(std::move(path)) {}
    CWInterfacePtr interface() override {
        auto s = SimWifiFile(m_path).readState();
        if (!s || !s->present) return nullptr;
        return std::make_shared<SimWifiInterface>(m_path);
    }
    std::string backendName() const override { return "sim"; }

private:
    std::string m_path;
};

}  // namespace

std::unique_ptr<WiFiClient> makeSimWiFiClient(std::string path) {
    return std::make_unique<SimWiFiClient>(std::move(path));
}

}  // namespace ww::sim
