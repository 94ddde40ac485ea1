#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Plist.h"
#include "platform/sim/SimWifiFile.h"
#include "tools/HardwarePorts.h"
#include "tools/NetworkSnapshot.h"

namespace ww::tools {

// The macOS ifconfig listing: one block per link, "name: flags=..." at the
// left, then tab-indented inet6, ether, inet and (except on loopback) status
// lines.
std::string formatIfconfig(const NetworkSnapshot& snapshot);

// The `networksetup -listallhardwareports` listing, with its leading empty
// line and the VLAN trailer.
std::string formatHardwarePortListing(const std::vector<HardwarePortInfo>& ports,
                                      const NetworkSnapshot& snapshot);

// The SPNetworkDataType section: "_items" holds one service per port, with
// "spnetwork_service_order" its position in `orderedPorts`.
plist::Value networkDataSection(const std::vector<HardwarePortInfo>& orderedPorts,
                                const NetworkSnapshot& snapshot);
// `system_profiler -xml`: an array of the given sections.
std::string formatSystemProfilerXml(const std::vector<plist::Value>& sections);
// `system_profiler` without -xml: an indented text listing.
std::string formatSystemProfilerText(const plist::Value& networkSection);

// What `airport -I` shows of a Wi-Fi link, from any backend.
struct AirPortInfo {
    bool present = false;  // a Wi-Fi device exists
    bool power = false;
    std::int64_t interfaceMode = 0;
    std::int64_t security = 0;
    std::optional<std::string> ssid;
    std::optional<std::string> bssid;
    std::optional<std::int64_t> channelNumber;
    std::int64_t channelWidth = 0;
    double transmitRate = 0;
    std::optional<double> maxRate;  // no line without it
    std::int64_t rssiValue = 0;
    std::int64_t noiseMeasurement = 0;
    std::optional<std::string> mcs;  // no line without it
};

// `airport -I`: nothing without a Wi-Fi device, "AirPort: Off" when powered
// off, otherwise the right-aligned key: value lines of macOS (agrCtlRSSI,
// agrCtlNoise, state, op mode, lastTxRate, maxRate, 802.11 auth, link auth,
// BSSID, SSID, MCS, channel as "36,80").
std::string formatAirPortInfo(const AirPortInfo& info);
// The same for the simulated Wi-Fi's state (no maxRate line).
std::string formatAirPortInfo(const sim::SimWifiState& state);

}  // namespace ww::tools
