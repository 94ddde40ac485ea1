#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ww {

struct WiFiChannel {
    std::int64_t channelNumber = 0;
    std::int64_t channelBand = 0;   // 0 unknown, 1 2.4 GHz, 2 5 GHz, 3 6 GHz
    std::int64_t channelWidth = 0;  // 0 unknown, 1 20, 2 40, 3 80, 4 160, 5 320 MHz
};

// One Wi-Fi interface: power, disassociation and the link values the menu shows.
// Codes: interface mode 0 none, 1 station, 2 IBSS, 3 host AP; PHY mode 1 11a ...
// 6 11ax; security 0 open ... 4 WPA2 personal ... 11 WPA3 personal, 12 WPA3
// enterprise, 13 WPA3 transition, 14 OWE, INT64_MAX unknown.
class CWInterface {
public:
    virtual ~CWInterface() = default;

    // Returns when the power state has changed; on failure `error` (when given)
    // says why.
    virtual bool setPower(bool on, std::optional<std::string>* error) = 0;
    // Leaves the current network; power stays on. False when refused, and
    // `error` (when given) says why.
    virtual bool disassociate(std::optional<std::string>* error) = 0;

    virtual bool powerOn() = 0;
    virtual std::int64_t interfaceMode() = 0;
    virtual std::int64_t security() = 0;
    virtual std::int64_t activePHYMode() = 0;
    virtual std::optional<std::string> ssid() = 0;
    virtual std::optional<std::string> bssid() = 0;
    virtual std::optional<WiFiChannel> wlanChannel() = 0;
    virtual std::int64_t rssiValue() = 0;
    virtual std::int64_t noiseMeasurement() = 0;
    virtual double transmitRate() = 0;
};

using CWInterfacePtr = std::shared_ptr<CWInterface>;

// The Wi-Fi backend: hands out the default interface, or none when the
// machine has no Wi-Fi.
class WiFiClient {
public:
    virtual ~WiFiClient() = default;
    virtual CWInterfacePtr interface() = 0;
    // The backend in use now ("none", "sim", "nm", "iwd", "kernel"); for reports.
    virtual std::string backendName() const = 0;
};

// Operations on a possibly absent interface, behaving as the platform does on
// an absent object: power changes fail without an error, disassociation does
// nothing (and reports failure, as nothing was left), reads give false, 0 or
// nothing.
namespace wifi {
bool setPower(const CWInterfacePtr& iface, bool on, std::optional<std::string>* error);
bool disassociate(const CWInterfacePtr& iface, std::optional<std::string>* error);
}  // namespace wifi

}  // namespace ww
