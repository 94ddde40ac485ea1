#pragma once

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

// `airport -I` for the simulated Wi-Fi: nothing without a Wi-Fi device,
// "AirPort: Off" when powered off, otherwise the right-aligned key: value lines.
std::string formatAirPortInfo(const sim::SimWifiState& state);

}  // namespace ww::tools
