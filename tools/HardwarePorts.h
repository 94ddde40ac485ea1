#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/NetworkSnapshot.h"

namespace ww::tools {

// A network device that the stand-in tools list as a hardware port.
struct HardwarePortInfo {
    std::string device;
    std::string portName;     // "Wi-Fi", "Ethernet", "iPhone USB", ...
    std::string serviceType;  // the profiler's "type": "AirPort" or "Ethernet", or as declared
    bool wireless = false;
};

// The port of a physical device, read from its sysfs folder under `netDir`
// (normally /sys/class/net). Nothing for a device without a "device" link
// (loopback, veth, bridges, tun/tap, WireGuard, Docker): those are virtual.
std::optional<HardwarePortInfo> classifyNetDevice(const std::string& netDir,
                                                  const std::string& name);

// One line of a hardware-ports file: DEVICE<TAB>PORT NAME[<TAB>TYPE].
struct DeclaredPort {
    std::string device;
    std::string portName;
    std::string serviceType;  // "Ethernet" when the line gives none
};

// Reads a hardware-ports file's text. Blank lines and lines starting with "#"
// are skipped; malformed lines are skipped and described in `problems`.
std::vector<DeclaredPort> parseDeclaredPorts(std::string_view text,
                                             std::vector<std::string>* problems);

// True for the service types the agent counts as Wi-Fi.
bool isWirelessServiceType(std::string_view type);

// The hardware ports of the snapshot's links, in link order: declared ports
// first take their device, the other devices are classified from sysfs. Port
// names are made unique by appending " 2", " 3", ... to repeats.
std::vector<HardwarePortInfo> listHardwarePorts(const NetworkSnapshot& snapshot,
                                                const std::string& netDir,
                                                const std::vector<DeclaredPort>& declared);

// The ports in service order: ports with an IPv4 default route first, lowest
// metric first, then the others in link order (the sort is stable).
std::vector<HardwarePortInfo> inServiceOrder(std::vector<HardwarePortInfo> ports,
                                             const NetworkSnapshot& snapshot);

}  // namespace ww::tools
