#pragma once

#include <memory>
#include <string>

#include "app/WiFiInterface.h"
#include "platform/sim/SimWifiFile.h"

namespace ww::sim {

// A Wi-Fi interface that lives in a property-list file: every read looks at
// the file, every change is written to it at once (atomically) and recorded
// in its "operations" array ("setPower:1", "setPower:0", "disassociate").
//
// With a "device" in the file the radio's changes also happen to that network
// device, over rtnetlink in the namespace of the calling thread (see
// SimWifiState). The device changes first, so that when the file shows an
// operation its effect on the device is in place. A power change whose link
// change fails changes nothing and reports the error; one whose address
// change fails is recorded in the file and still reports the error. A failed
// disassociation is logged and reported the same way.
class SimWifiInterface : public CWInterface {
public:
    explicit SimWifiInterface(std::string path) : m_file(std::move(path)) {}

    bool setPower(bool on, std::optional<std::string>* error) override;
    bool disassociate(std::optional<std::string>* error) override;
    bool powerOn() override;
    std::int64_t interfaceMode() override;
    std::int64_t security() override;
    std::int64_t activePHYMode() override;
    std::optional<std::string> ssid() override;
    std::optional<std::string> bssid() override;
    std::optional<WiFiChannel> wlanChannel() override;
    std::int64_t rssiValue() override;
    std::int64_t noiseMeasurement() override;
    double transmitRate() override;

private:
    SimWifiState state() const;
    SimWifiFile m_file;
};

// The client: the interface while the file says Wi-Fi is present, else none.
std::unique_ptr<WiFiClient> makeSimWiFiClient(std::string path);

}  // namespace ww::sim
