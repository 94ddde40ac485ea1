// The NetworkManager backend: power through the manager's WirelessEnabled,
// disassociation through Device.Disconnect() (NetworkManager then keeps the
// device from rejoining by itself; setting Autoconnect again does not bring
// it back, so power on activates the connection the agent left), link
// values from the active access point, and what NetworkManager does not know
// (signal, noise, PHY mode, MCS; the width before 1.46) from nl80211.

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/linux/wifi/Nl80211.h"
#include "platform/linux/wifi/WiFiBackend.h"

namespace ww::linuxwifi {

namespace {

constexpr const char* kService = "org.freedesktop.NetworkManager";
constexpr const char* kManagerPath = "/org/freedesktop/NetworkManager";
constexpr const char* kManager = "org.freedesktop.NetworkManager";
constexpr const char* kDevice = "org.freedesktop.NetworkManager.Device";
constexpr const char* kWireless = "org.freedesktop.NetworkManager.Device.Wireless";
constexpr const char* kAccessPoint = "org.freedesktop.NetworkManager.AccessPoint";
constexpr const char* kActive = "org.freedesktop.NetworkManager.Connection.Active";

constexpr std::uint32_t kDeviceTypeWifi = 2;
constexpr std::uint32_t kStateDisconnected = 30;
constexpr std::uint32_t kStatePrepare = 40;
constexpr std::uint32_t kStateActivated = 100;

std::uint32_t u32Of(const DBusDict& d, const char* key) {
    auto it = d.find(key);
    return it == d.end() ? 0 : it->second.asUInt32().value_or(0);
}

std::optional<std::string> stringOf(const DBusDict& d, const char* key) {
    auto it = d.find(key);
    if (it == d.end()) return std::nullopt;
    return it->second.asString();
}

// The connections (settings paths) the agent disconnected, by device path.
struct Remembered {
    std::mutex mutex;
    std::map<std::string, std::string> connections;
};

class NmDevice : public WiFiDevice {
  public:
    NmDevice(std::shared_ptr<SystemBus> bus, std::shared_ptr<Nl80211> nl,
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
        if (fields & kLinkPower) {
            auto v = m_bus->getProperty(kService, kManagerPath, kManager, "WirelessEnabled", error);
            link.power = v && v->asBool().value_or(false);
        }
        const unsigned fromAccessPoint =
            kLinkSecurity | kLinkSsid | kLinkBssid | kLinkChannel | kLinkMaxRate;
        std::optional<std::uint32_t> bandwidth;
        if (fields & (kLinkMode | kLinkTransmitRate | fromAccessPoint)) {
            if (auto wireless = m_bus->getAll(kService, m_path, kWireless, error)) {
                link.interfaceMode = interfaceModeForNetworkManager(u32Of(*wireless, "Mode"));
                link.transmitRate = u32Of(*wireless, "Bitrate") / 1000.0;  // kbit/s
                auto ap = stringOf(*wireless, "ActiveAccessPoint");
                if ((fields & fromAccessPoint) && ap && *ap != "/" && !ap->empty()) {
                    readAccessPoint(*ap, link, bandwidth);
                }
            }
        }
        // What only the kernel knows.
        const unsigned fromKernel = kLinkRssi | kLinkNoise | kLinkPhyMode | kLinkMcs;
        const bool needWidth = (fields & kLinkChannel) && link.channel && !bandwidth;
        if ((fields & fromKernel) || needWidth) {
            unsigned want = fields & fromKernel;
            if (needWidth) want |= kLinkChannel;
            WiFiLink kernel = m_nl->readLink(m_name, want);
            link.rssi = kernel.rssi;
            link.noise = kernel.noise;
            link.mcs = kernel.mcs;
            if (fields & kLinkPhyMode) link.phyMode = kernel.phyMode;
            if (needWidth && kernel.channel)
                link.channel->channelWidth = kernel.channel->channelWidth;
        }
        return link;
    }

    bool setPower(bool on, std::string& error) override {
        DBusError e;
        if (!m_bus->setProperty(kService, kManagerPath, kManager, "WirelessEnabled", on, e)) {
            error = std::string("NetworkManager refused to switch Wi-Fi ") + (on ? "on" : "off") +
                    ": " + e.text();
            return false;
        }
        if (!on) return true;
        // NetworkManager accepts the switch under a hardware block, but the
        // radio stays off.
        auto hardware =
            m_bus->getProperty(kService, kManagerPath, kManager, "WirelessHardwareEnabled", e);
        if (hardware && hardware->asBool() == false) {
            error = "Wi-Fi is switched off by a hardware switch";
            return false;
        }
        // Lift the block that a disconnect left, so that the device rejoins
        // its known networks as a Mac does when Wi-Fi comes back on.
        if (!m_bus->setProperty(kService, m_path, kDevice, "Autoconnect", true, e)) {
            error = "Wi-Fi is on, but NetworkManager refused to let " + m_name +
                    " join networks by itself: " + e.text();
            return false;
        }
        return rejoin(error);
    }

    bool disassociate(std::string& error) override {
        DBusError e;
        auto state = m_bus->getProperty(kService, m_path, kDevice, "State", e);
        if (state) {
            std::uint32_t s = state->asUInt32().value_or(0);
            if (s < kStatePrepare || s > kStateActivated) return true;  // not on a network
        }
        // What to activate again when Wi-Fi is to come back.
        std::optional<std::string> connection;
        auto active = m_bus->getProperty(kService, m_path, kDevice, "ActiveConnection", e);
        if (auto path = active ? active->asString() : std::nullopt; path && *path != "/") {
            auto settings = m_bus->getProperty(kService, *path, kActive, "Connection", e);
            if (settings && settings->asString() && *settings->asString() != "/") {
                connection = settings->asString();
            }
        }
        bool done = m_bus->call(kService, m_path, kDevice, "Disconnect", e).has_value();
        if (done || e.is("org.freedesktop.NetworkManager.Device.NotActive")) {
            if (done && connection) {
                std::lock_guard lock(m_remembered->mutex);
                m_remembered->connections[m_path] = *connection;
            }
            return true;
        }
        error = "NetworkManager refused to disconnect " + m_name + ": " + e.text();
        return false;
    }

  private:
    // Activates again the connection the agent disconnected, once.
    bool rejoin(std::string& error) {
        std::string connection;
        {
            std::lock_guard lock(m_remembered->mutex);
            auto it = m_remembered->connections.find(m_path);
            if (it == m_remembered->connections.end()) return true;
            connection = it->second;
        }
        auto forget = [&] {
            std::lock_guard lock(m_remembered->mutex);
            m_remembered->connections.erase(m_path);
            return true;
        };
        DBusError e;
        auto state = m_bus->getProperty(kService, m_path, kDevice, "State", e);
        std::uint32_t s = state ? state->asUInt32().value_or(0) : 0;
        if (s >= kStatePrepare && s <= kStateActivated) return forget();  // joining already
        // A radio that has just come on is not ready yet: the next check asks.
        if (state && s < kStateDisconnected) return true;
        if (m_bus->call(kService, kManagerPath, kManager, "ActivateConnection",
                        {{'o', connection}, {'o', m_path}, {'o', "/"}}, e)) {
            return forget();
        }
        if (e.is("org.freedesktop.NetworkManager.UnknownConnection")) return forget();  // deleted
        error = "Wi-Fi is on, but NetworkManager refused to join " + m_name +
                " to its network again: " + e.text();
        return false;
    }

    void readAccessPoint(const std::string& ap, WiFiLink& link,
                         std::optional<std::uint32_t>& bandwidth) {
        DBusError error;
        auto props = m_bus->getAll(kService, ap, kAccessPoint, error);
        if (!props) return;
        if (auto it = props->find("Ssid"); it != props->end())
            link.ssid = it->second.bytesAsString();
        link.bssid = stringOf(*props, "HwAddress");
        if (link.bssid && link.bssid->empty()) link.bssid.reset();
        link.security = securityCode(securityTraitsForNetworkManager(
            u32Of(*props, "Flags"), u32Of(*props, "WpaFlags"), u32Of(*props, "RsnFlags")));
        if (auto position = channelForFrequency(u32Of(*props, "Frequency"))) {
            WiFiChannel channel;
            channel.channelNumber = position->number;
            channel.channelBand = position->band;
            if (auto it = props->find("Bandwidth"); it != props->end()) {
                bandwidth = it->second.asUInt32();
                if (bandwidth) channel.channelWidth = widthCodeForMHz(*bandwidth);
            }
            link.channel = channel;
        }
        link.maxRate = u32Of(*props, "MaxBitrate") / 1000.0;
    }

    std::shared_ptr<SystemBus> m_bus;
    std::shared_ptr<Nl80211> m_nl;
    std::shared_ptr<Remembered> m_remembered;
    std::string m_path;
    std::string m_name;
};

class NetworkManagerBackend : public WiFiBackend {
  public:
    explicit NetworkManagerBackend(std::shared_ptr<BusHolder> bus)
        : m_holder(std::move(bus)),
          m_nl(std::make_shared<Nl80211>()),
          m_remembered(std::make_shared<Remembered>()) {}

    const char* name() const override { return "nm"; }
    const char* title() const override { return "NetworkManager"; }

    BackendLookup lookUp() override {
        BackendLookup out;
        auto bus = m_holder->busWith(kService, out.why);
        if (!bus) return out;
        DBusError error;
        auto devices = bus->getProperty(kService, kManagerPath, kManager, "Devices", error);
        if (!devices) {
            out.why = "NetworkManager gives no devices (" + error.text() + ")";
            return out;
        }
        std::vector<DeviceCandidate> wifi;
        for (const DBusValue& item : devices->items) {
            auto path = item.asString();
            if (!path) continue;
            auto props = bus->getAll(kService, *path, kDevice, error);
            if (!props || u32Of(*props, "DeviceType") != kDeviceTypeWifi) continue;
            if (auto managed = props->find("Managed");
                managed != props->end() && !managed->second.asBool().value_or(true)) {
                continue;
            }
            auto name = stringOf(*props, "Interface");
            if (!name || name->empty()) continue;
            auto connection = stringOf(*props, "ActiveConnection");
            bool active = u32Of(*props, "State") == kStateActivated ||
                          (connection && !connection->empty() && *connection != "/");
            wifi.push_back(DeviceCandidate{*path, *name, active});
        }
        // A NetworkManager that stopped answering is passed over for this look.
        if (bus->broken()) {
            out.why = "NetworkManager does not answer (" + error.text() + ")";
            return out;
        }
        const DeviceCandidate* chosen = preferredDevice(wifi);
        if (!chosen) {
            out.why = "NetworkManager manages no Wi-Fi device";
            return out;
        }
        out.available = true;
        out.device =
            std::make_shared<NmDevice>(bus, m_nl, m_remembered, chosen->path, chosen->name);
        return out;
    }

  private:
    std::shared_ptr<BusHolder> m_holder;
    std::shared_ptr<Nl80211> m_nl;
    std::shared_ptr<Remembered> m_remembered;
};

}  // namespace

std::unique_ptr<WiFiBackend> makeNetworkManagerBackend(std::shared_ptr<BusHolder> bus,
                                                       const LinuxWiFiOptions&) {
    return std::make_unique<NetworkManagerBackend>(std::move(bus));
}

}  // namespace ww::linuxwifi
