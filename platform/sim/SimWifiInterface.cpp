#include "platform/sim/SimWifiInterface.h"

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

bool SimWifiInterface::setPower(bool on, std::optional<std::string>* error) {
    if (error) error->reset();
    std::string why;
    auto current = m_file.readState(&why);
    if (!current) {
        if (error) *error = why;
        return false;
    }
    if (current->failPower) {
        if (error) *error = *current->failPower;
        return false;
    }
    bool ok = m_file.update([on](plist::Value& d) { d.set("power", plist::Value::boolean(on)); },
                            on ? "setPower:1" : "setPower:0", &why);
    if (!ok && error) *error = why;
    return ok;
}

void SimWifiInterface::disassociate() {
    m_file.update(
        [](plist::Value& d) {
            d.erase("ssid");
            d.erase("bssid");
        },
        "disassociate");
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

private:
    std::string m_path;
};

}  // namespace

std::unique_ptr<WiFiClient> makeSimWiFiClient(std::string path) {
    return std::make_unique<SimWiFiClient>(std::move(path));
}

}  // namespace ww::sim
