#pragma once

#include <optional>
#include <string>
#include <vector>

#include "discovery/CommandTable.h"
#include "discovery/InterfaceInfo.h"
#include "discovery/SystemProfilerParser.h"

namespace ww {

// One entry of the hardware-port listing, in the order listed.
struct HardwarePort {
    std::string name;
    // Absent only for a first port whose listing had no "Device:" line.
    std::optional<std::string> device;
    // Empty when the port had no "Ethernet Address:" line of its own.
    std::string ethernetAddress;
};

// Reads "Hardware Port:", "Device:" and "Ethernet Address:" lines. A port's
// address never carries over to the next port.
std::vector<HardwarePort> parseHardwarePorts(const std::optional<std::string>& output);

// Completes the ifconfig records in place and returns the connected ones: the
// devices of hardware ports (display name := port name, hardware address from
// the port when ifconfig printed none), and interfaces whose profiler service
// is named like a hardware port (status "active", names from the service).
// Every record gets its type, service name and service order from the profiler.
InterfaceTable mergeHardwarePorts(const std::vector<HardwarePort>& ports,
                                  const InterfaceTable& ifconfigInterfaces,
                                  const SystemProfilerTable& systemProfilerInterfaces);

// Runs the networksetup command line of `commands`, parses the ports and
// merges them. Never fails: no output gives an empty table. `ports`, when
// given, receives the ports listed.
InterfaceTable executeAndParseNetworksetupCommand(
    const CommandTable& commands, const InterfaceTable& ifconfigInterfaces,
    const SystemProfilerTable& systemProfilerInterfaces,
    std::vector<HardwarePort>* ports = nullptr);

}  // namespace ww
