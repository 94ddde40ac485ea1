#include "app/WiFiBackends.h"

#include "logging/DDLog.h"
#include "platform/linux/wifi/WiFiBackend.h"
#include "platform/sim/SimWifiInterface.h"

namespace ww {

bool wifi::setPower(const CWInterfacePtr& iface, bool on, std::optional<std::string>* error) {
    if (error) error->reset();
    if (!iface) return false;
    return iface->setPower(on, error);
}

bool wifi::disassociate(const CWInterfacePtr& iface, std::optional<std::string>* error) {
    if (error) error->reset();
    if (!iface) return false;
    return iface->disassociate(error);
}

namespace {

class NoWiFiClient : public WiFiClient {
public:
    CWInterfacePtr interface() override { return nullptr; }
    std::string backendName() const override { return "none"; }
};

class DryRunInterface : public CWInterface {
public:
    explicit DryRunInterface(CWInterfacePtr inner) : m_inner(std::move(inner)) {}

    bool setPower(bool on, std::optional<std::string>* error) override {
        if (error) error->reset();
        WWLogInfo("Dry run: would switch Wi-Fi power %@ (currently %@)", on ? "on" : "off",
                  m_inner->powerOn() ? "on" : "off");
        return true;
    }
    bool disassociate(std::optional<std::string>* error) override {
        if (error) error->reset();
        WWLogInfo("Dry run: would disconnect Wi-Fi from %@", m_inner->ssid());
        return true;
    }
    bool powerOn() override { return m_inner->powerOn(); }
    std::int64_t interfaceMode() override { return m_inner->interfaceMode(); }
    std::int64_t security() override { return m_inner->security(); }
    std::int64_t activePHYMode() override { return m_inner->activePHYMode(); }
    std::optional<std::string> ssid() override { return m_inner->ssid(); }
    std::optional<std::string> bssid() override { return m_inner->bssid(); }
    std::optional<WiFiChannel> wlanChannel() override { return m_inner->wlanChannel(); }
    std::int64_t rssiValue() override { return m_inner->rssiValue(); }
    std::int64_t noiseMeasurement() override { return m_inner->noiseMeasurement(); }
    double transmitRate() override { return m_inner->transmitRate(); }

private:
    CWInterfacePtr m_inner;
};

class DryRunClient : public WiFiClient {
public:
    explicit DryRunClient(std::unique_ptr<WiFiClient> inner) : m_inner(std::move(inner)) {}
    CWInterfacePtr interface() override {
        CWInterfacePtr real = m_inner->interface();
        if (!real) return nullptr;
        return std::make_shared<DryRunInterface>(std::move(real));
    }
    std::string backendName() const override { return m_inner->backendName(); }

private:
    std::unique_ptr<WiFiClient> m_inner;
};

}  // namespace

std::unique_ptr<WiFiClient> makeNoWiFiClient() { return std::make_unique<NoWiFiClient>(); }

std::unique_ptr<WiFiClient> makeDryRunWiFiClient(std::unique_ptr<WiFiClient> inner) {
    return std::make_unique<DryRunClient>(std::move(inner));
}

bool isLinuxWiFiBackend(const std::string& spec) {
    return spec == "auto" || spec == "linux" || spec == "nm" || spec == "iwd" || spec == "kernel";
}

std::unique_ptr<WiFiClient> makeWiFiClient(const std::string& spec, std::string* error) {
    if (spec == "none") return makeNoWiFiClient();
    if (spec.rfind("sim:", 0) == 0) {
        std::string path = spec.substr(4);
        if (path.empty()) {
            if (error) *error = "sim: needs a file, as in sim:/path/to/wifi.plist";
            return nullptr;
        }
        std::string why;
        if (!sim::SimWifiFile(path).read(&why)) {
            if (error) *error = "cannot use the simulated Wi-Fi: " + why;
            return nullptr;
        }
        return sim::makeSimWiFiClient(path);
    }
    if (isLinuxWiFiBackend(spec)) {
        std::string why;
        auto client =
            linuxwifi::makeLinuxWiFiClient(spec, linuxwifi::linuxWiFiOptionsFromEnvironment(), why);
        if (!client && error) *error = why;
        return client;
    }
    if (error) {
        *error = "unknown Wi-Fi backend '" + spec +
                 "' (expected auto, nm, iwd, kernel, none, sim:FILE or linux)";
    }
    return nullptr;
}

}  // namespace ww
