#pragma once

// What every Linux backend hands out: one Wi-Fi device, read as a whole link
// or value by value, switched on and off, disconnected. LinkInterface makes a
// device the agent's CWInterface.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/WiFiInterface.h"

namespace ww::linuxwifi {

// The link values, as the absent object gives them where they cannot be read
// (false, 0, nothing).
struct WiFiLink {
    bool power = false;
    std::int64_t interfaceMode = 0;
    std::int64_t security = 0;
    std::int64_t phyMode = 0;
    std::optional<std::string> ssid;
    std::optional<std::string> bssid;
    std::optional<WiFiChannel> channel;
    std::int64_t rssi = 0;
    std::int64_t noise = 0;
    double transmitRate = 0;  // Mb/s
    // For `airport -I` only.
    std::optional<std::int64_t> mcs;
    double maxRate = 0;  // Mb/s, 0 when unknown
};

// Which values a read needs; a backend may fill more.
enum LinkField : unsigned {
    kLinkPower = 1u << 0,
    kLinkMode = 1u << 1,
    kLinkSecurity = 1u << 2,
    kLinkPhyMode = 1u << 3,
    kLinkSsid = 1u << 4,
    kLinkBssid = 1u << 5,
    kLinkChannel = 1u << 6,
    kLinkRssi = 1u << 7,
    kLinkNoise = 1u << 8,
    kLinkTransmitRate = 1u << 9,
    kLinkMcs = 1u << 10,
    kLinkMaxRate = 1u << 11,
    kLinkAll = (1u << 12) - 1,
};

// One Wi-Fi device of a backend. May be used from several threads (the
// check's and the main thread, one at a time); implementations lock what
// they share.
class WiFiDevice {
  public:
    virtual ~WiFiDevice() = default;
    // The network interface name (wlan0).
    virtual const std::string& name() const = 0;
    // Reads at least `fields` afresh.
    virtual WiFiLink read(unsigned fields) = 0;
    // True once the power state is as asked; else false and why.
    virtual bool setPower(bool on, std::string& error) = 0;
    // Leaves the current network and stays powered. A device that is not
    // associated counts as done. False and why when refused.
    virtual bool disassociate(std::string& error) = 0;
};

using WiFiDevicePtr = std::shared_ptr<WiFiDevice>;

// The agent's view of a device: every value read afresh; a refused
// disassociation logged and reported.
class LinkInterface : public CWInterface {
  public:
    explicit LinkInterface(WiFiDevicePtr device) : m_device(std::move(device)) {}
    const WiFiDevicePtr& device() const { return m_device; }

    bool setPower(bool on, std::optional<std::string>* error) override;
    bool disassociate(std::optional<std::string>* error) override;
    bool powerOn() override { return m_device->read(kLinkPower).power; }
    std::int64_t interfaceMode() override { return m_device->read(kLinkMode).interfaceMode; }
    std::int64_t security() override { return m_device->read(kLinkSecurity).security; }
    std::int64_t activePHYMode() override { return m_device->read(kLinkPhyMode).phyMode; }
    std::optional<std::string> ssid() override { return m_device->read(kLinkSsid).ssid; }
    std::optional<std::string> bssid() override { return m_device->read(kLinkBssid).bssid; }
    std::optional<WiFiChannel> wlanChannel() override {
        return m_device->read(kLinkChannel).channel;
    }
    std::int64_t rssiValue() override { return m_device->read(kLinkRssi).rssi; }
    std::int64_t noiseMeasurement() override { return m_device->read(kLinkNoise).noise; }
    double transmitRate() override { return m_device->read(kLinkTransmitRate).transmitRate; }

  private:
    WiFiDevicePtr m_device;
};

}  // namespace ww::linuxwifi
