// The iwd backend: power through Device.Powered, disassociation through
// Station.Disconnect() (iwd then stops autoconnecting on that device until
// it is told to connect), link values from the station, its connected
// network and StationDiagnostic.GetDiagnostics(); nl80211 fills the rest
// (noise, the width, and whatever the diagnostics leave out).

#include <algorithm>
#include <map>

#include "platform/linux/wifi/Nl80211.h"
#include "platform/linux/wifi/WiFiBackend.h"

namespace ww::linuxwifi {

namespace {

constexpr const char* kService = "net.connman.iwd";
constexpr const char* kDevice = "net.connman.iwd.Device";
constexpr const char* kStation = "net.connman.iwd.Station";
constexpr const char* kNetwork = "net.connman.iwd.Network";
constexpr const char* kDiagnostic = "net.connman.iwd.StationDiagnostic";

std::optional<std::string> stringOf(const DBusDict& d, const char* key) {
    auto it = d.find(key);
    if (it == d.end()) return std::nullopt;
    return it->second.asString();
}

std::optional<std::string> stringOf(const DBusValue& d, const char* key) {
    const DBusValue* v = d.find(key);
    return v ? v->asString() : std::nullopt;
}

std::optional<std::int64_t> intOf(const DBusValue& d, const char* key) {
    const DBusValue* v = d.find(key);
    return v ? v->asInt() : std::nullopt;
}

// The networks the agent disconnected, by device object path: power on
// connects them again (iwd does not rejoin by itself after a disconnect).
struct Remembered {
    std::mutex mutex;
    std::map<std::string, std::string> networks;
};

class IwdDevice : public WiFiDevice {
  public:
    IwdDevice(std::shared_ptr<SystemBus> bus, std::shared_ptr<Nl80211> nl,
              std::shared_ptr<Remembered> remembered, std::string path, std::string name)
        : m_bus(std::move(bus)),
          m_nl(std::move(nl)),
          m_remembered(std::move(remembered)),
          m_path(std::move(path)),
          m_name(std::move(name)) {}

    const std::string& name() const override { return m_name; }

    WiFiLink read(unsigned fields) override {
        WiFiLink link;
        DBusError error;
        if (fields & (kLinkPower | kLinkMode)) {
            if (auto device = m_bus->getAll(kService, m_path, kDevice, error)) {
                auto powered = device->find("Powered");
                link.power = powered != device->end() && powered->second.asBool().value_or(false);
                link.interfaceMode = interfaceModeForIwd(stringOf(*device, "Mode").value_or(""));
            }
        }
        const unsigned connectionFields = kLinkSecurity | kLinkSsid | kLinkBssid | kLinkChannel |
                                          kLinkRssi | kLinkTransmitRate | kLinkMcs | kLinkPhyMode;
        std::optional<std::string> networkPath;
        if (fields & connectionFields) networkPath = connectedNetwork();
        std::optional<std::string> networkType;
        if (networkPath && (fields & (kLinkSsid | kLinkSecurity))) {
            if (auto network = m_bus->getAll(kService, *networkPath, kNetwork, error)) {
                link.ssid = stringOf(*network, "Name");
                networkType = stringOf(*network, "Type");
            }
        }
        // The diagnostics, where the daemon offers them.
        std::optional<DBusValue> diagnostics;
        const unsigned diagnosticFields = kLinkSecurity | kLinkBssid | kLinkChannel | kLinkRssi |
                                          kLinkTransmitRate | kLinkMcs | kLinkPhyMode;
        if (networkPath && (fields & diagnosticFields)) {
            diagnostics = m_bus->call(kService, m_path, kDiagnostic, "GetDiagnostics", error);
            if (diagnostics && diagnostics->kind != DBusValue::Kind::Dict) diagnostics.reset();
        }
        std::optional<std::string> diagnosticSecurity;
        bool haveRssi = false, haveRate = false, haveBssid = false;
        std::int64_t frameMode = kPhyNone;
        if (diagnostics) {
            const DBusValue& d = *diagnostics;
            diagnosticSecurity = stringOf(d, "Security");
            if (auto bss = stringOf(d, "ConnectedBss")) {
                link.bssid = bss;
                haveBssid = true;
            }
            if (auto frequency = intOf(d, "Frequency"); frequency && *frequency > 0) {
                if (auto position = channelForFrequency(static_cast<std::uint32_t>(*frequency))) {
                    link.channel = WiFiChannel{position->number, position->band, 0};
                }
            }
            if (auto rssi = intOf(d, "RSSI")) {
                link.rssi = *rssi;
                haveRssi = true;
            }
            // TxMode, TxBitrate and TxMCS describe the last frame sent: an
            // HT/VHT/HE one gives the rate and MCS and proves its generation;
            // after a legacy one nl80211 gives the last such rate.
            auto rate = intOf(d, "TxBitrate");
            auto mcs = intOf(d, "TxMCS");
            if (rate && mcs) {
                link.transmitRate = static_cast<double>(*rate) / 10.0;  // 100 kbit/s
                link.mcs = *mcs;
                haveRate = true;
            }
            if (auto mode = stringOf(d, "TxMode")) frameMode = phyModeForIwd(*mode);
        }
        if (networkPath && (fields & kLinkSecurity)) {
            link.security = securityCodeForIwd(diagnosticSecurity, networkType).value_or(0);
        }
        // nl80211 for what is still missing.
        unsigned fromKernel = fields & kLinkNoise;
        if (fields & kLinkChannel) fromKernel |= kLinkChannel;
        if ((fields & kLinkRssi) && !haveRssi) fromKernel |= kLinkRssi;
        if ((fields & (kLinkTransmitRate | kLinkMcs)) && !haveRate)
            fromKernel |= kLinkTransmitRate | kLinkMcs;
        // The association's PHY mode comes from the kernel, which knows what
        // the radio and the access point offer.
        if (fields & kLinkPhyMode) fromKernel |= kLinkPhyMode;
        if ((fields & kLinkBssid) && !haveBssid && networkPath) fromKernel |= kLinkBssid;
        if (fromKernel) {
            WiFiLink kernel = m_nl->readLink(m_name, fromKernel);
            link.noise = kernel.noise;
            if (fromKernel & kLinkChannel) {
                if (!link.channel)
                    link.channel = kernel.channel;
                else if (kernel.channel)
                    link.channel->channelWidth = kernel.channel->channelWidth;
            }
            if (fromKernel & kLinkRssi) link.rssi = kernel.rssi;
            if (fromKernel & kLinkTransmitRate) {
                link.transmitRate = kernel.transmitRate;
                link.mcs = kernel.mcs;
            }
            if (fromKernel & kLinkPhyMode) link.phyMode = std::max(kernel.phyMode, frameMode);
            if (fromKernel & kLinkBssid) link.bssid = kernel.bssid;
        }
        return link;
    }

    bool setPower(bool on, std::string& error) override {
        DBusError e;
        if (!m_bus->setProperty(kService, m_path, kDevice, "Powered", on, e)) {
            error = std::string("iwd refused to switch ") + m_name + (on ? " on" : " off") + ": " +
                    e.text();
            return false;
        }
        if (!on) return true;
        // Join again the network the agent itself left: iwd does not while
        // the device stays powered.
        std::string network;
        {
            std::lock_guard lock(m_remembered->mutex);
            auto it = m_remembered->networks.find(m_path);
            if (it == m_remembered->networks.end()) return true;
            network = it->second;
        }
        // Connecting may take longer than the call limit; a timeout means it
        // is under way. A network that is gone (the radio was off and has not
        // scanned yet) is left to iwd's autoconnect, which a power cycle
        // restores.
        bool done = m_bus->call(kService, network, kNetwork, "Connect", e, false).has_value() ||
                    e.errnum == ETIMEDOUT || e.is("org.freedesktop.DBus.Error.UnknownObject") ||
                    e.is("org.freedesktop.DBus.Error.UnknownMethod") ||
                    e.is("net.connman.iwd.AlreadyConnected");
        if (done) {
            std::lock_guard lock(m_remembered->mutex);
            m_remembered->networks.erase(m_path);
            return true;
        }
        error =
            "Wi-Fi is on, but iwd refused to join " + m_name + " to its network again: " + e.text();
        return false;
    }

    bool disassociate(std::string& error) override {
        auto network = connectedNetwork();
        if (!network) return true;  // not on a network
        DBusError e;
        if (!m_bus->call(kService, m_path, kStation, "Disconnect", e) &&
            !e.is("net.connman.iwd.NotConnected")) {
            error = "iwd refused to disconnect " + m_name + ": " + e.text();
            return false;
        }
        std::lock_guard lock(m_remembered->mutex);
        m_remembered->networks[m_path] = *network;
        return true;
    }

  private:
    // The station's connected network; nothing when not connected (or not a
    // station: iwd drops the Station interface while the radio is off).
    std::optional<std::string> connectedNetwork() {
        DBusError error;
        auto station = m_bus->getAll(kService, m_path, kStation, error);
        if (!station) return std::nullopt;
        auto state = stringOf(*station, "State");
        auto network = stringOf(*station, "ConnectedNetwork");
        if (!network || network->empty() || *network == "/") return std::nullopt;
        if (state && *state != "connected" && *state != "roaming") return std::nullopt;
        return network;
    }

    std::shared_ptr<SystemBus> m_bus;
    std::shared_ptr<Nl80211> m_nl;
    std::shared_ptr<Remembered> m_remembered;
    std::string m_path;
    std::string m_name;
};

class IwdBackend : public WiFiBackend {
  public:
    explicit IwdBackend(std::shared_ptr<BusHolder> bus)
        : m_holder(std::move(bus)),
          m_nl(std::make_shared<Nl80211>()),
          m_remembered(std::make_shared<Remembered>()) {}

    const char* name() const override { return "iwd"; }
    const char* title() const override { return "iwd"; }

    BackendLookup lookUp() override {
        BackendLookup out;
        auto bus = m_holder->busWith(kService, out.why);
        if (!bus) return out;
        DBusError error;
        out.available = true;
        auto objects = bus->call(kService, "/", "org.freedesktop.DBus.ObjectManager",
                                 "GetManagedObjects", error);
        if (!objects || objects->kind != DBusValue::Kind::Dict) {
            // An iwd that does not answer is passed over for this look.
            if (bus->broken()) {
                out.available = false;
                out.why = "iwd does not answer (" + error.text() + ")";
                return out;
            }
            out.why = "iwd lists no objects (" + error.text() + ")";
            return out;
        }
        std::vector<DeviceCandidate> devices;
        for (const auto& [path, interfaces] : objects->entries) {
            const DBusValue* device = interfaces.find(kDevice);
            if (!device) continue;
            auto name = stringOf(*device, "Name");
            if (!name || name->empty()) continue;
            bool connected = false;
            if (const DBusValue* station = interfaces.find(kStation)) {
                connected = stringOf(*station, "State").value_or("") == "connected";
            }
            devices.push_back(DeviceCandidate{path, *name, connected});
        }
        const DeviceCandidate* chosen = preferredDevice(devices);
        if (!chosen) {
            out.why = "iwd has no Wi-Fi device";
            return out;
        }
        out.device =
            std::make_shared<IwdDevice>(bus, m_nl, m_remembered, chosen->path, chosen->name);
        return out;
    }

  private:
    std::shared_ptr<BusHolder> m_holder;
    std::shared_ptr<Nl80211> m_nl;
    std::shared_ptr<Remembered> m_remembered;
};

}  // namespace

std::unique_ptr<WiFiBackend> makeIwdBackend(std::shared_ptr<BusHolder> bus,
                                            const LinuxWiFiOptions&) {
    return std::make_unique<IwdBackend>(std::move(bus));
}

}  // namespace ww::linuxwifi
