#include "tools/ToolOutput.h"

#include <net/if.h>
// clang-format off
#include <linux/if.h>
#include <linux/if_arp.h>
// clang-format on

#include <cmath>
#include <cstdint>

#include "platform/foundation/Format.h"

namespace ww::tools {

namespace {

std::string flagNames(unsigned flags) {
    static const struct {
        unsigned bit;
        const char* name;
    } kFlags[] = {
        {IFF_UP, "UP"},
        {IFF_BROADCAST, "BROADCAST"},
        {IFF_DEBUG, "DEBUG"},
        {IFF_LOOPBACK, "LOOPBACK"},
        {IFF_POINTOPOINT, "POINTOPOINT"},
        {IFF_NOTRAILERS, "NOTRAILERS"},
        {IFF_RUNNING, "RUNNING"},
        {IFF_NOARP, "NOARP"},
        {IFF_PROMISC, "PROMISC"},
        {IFF_ALLMULTI, "ALLMULTI"},
        {IFF_MASTER, "MASTER"},
        {IFF_SLAVE, "SLAVE"},
        {IFF_MULTICAST, "MULTICAST"},
        {IFF_PORTSEL, "PORTSEL"},
        {IFF_AUTOMEDIA, "AUTOMEDIA"},
        {IFF_DYNAMIC, "DYNAMIC"},
        {IFF_LOWER_UP, "LOWER_UP"},
        {IFF_DORMANT, "DORMANT"},
        {IFF_ECHO, "ECHO"},
    };
    std::string names;
    for (const auto& f : kFlags) {
        if (!(flags & f.bit)) continue;
        if (!names.empty()) names += ',';
        names += f.name;
    }
    return names;
}

std::uint32_t netmask(int prefixLength) {
    if (prefixLength <= 0) return 0;
    if (prefixLength >= 32) return 0xFFFFFFFFu;
    return ~((1u << (32 - prefixLength)) - 1);
}

std::string dottedNetmask(int prefixLength) {
    std::uint32_t m = netmask(prefixLength);
    return format("%u.%u.%u.%u", m >> 24, (m >> 16) & 0xFF, (m >> 8) & 0xFF, m & 0xFF);
}

plist::Value stringArray(const std::vector<std::string>& texts) {
    plist::Value::Array items;
    for (const auto& t : texts) items.push_back(plist::Value::string(t));
    return plist::Value::array(std::move(items));
}

const char* linkAuth(std::int64_t security) {
    switch (security) {
        case 0:
            return "none";
        case 1:
        case 6:
            return "wep";
        case 2:
        case 3:
            return "wpa-psk";
        case 4:
        case 5:
            return "wpa2-psk";
        case 7:
        case 8:
            return "wpa";
        case 9:
        case 10:
            return "wpa2";
        case 11:
            return "wpa3-sae";
        case 12:
            return "wpa3";
        case 13:
            return "wpa3-transition";
        case 14:
            return "owe";
        default:
            return "unknown";
    }
}

const char* opMode(std::int64_t interfaceMode) {
    switch (interfaceMode) {
        case 1:
            return "station";
        case 2:
            return "IBSS";
        case 3:
            return "hostap";
        default:
            return "";
    }
}

}  // namespace

std::string formatIfconfig(const NetworkSnapshot& snapshot) {
    std::string out;
    for (const Link& link : snapshot.links) {
        out += format("%@: flags=%x<%@> mtu %u\n", link.name, link.flags, flagNames(link.flags),
                      link.mtu);
        // inet6 lines come first: a link-local one carries the interface name,
        // and a name such as "ether1" would otherwise read as the hardware
        // address line after the real one.
        for (const IPv6Address& a : link.ipv6) {
            if (a.linkLocal) {
                out += format("\tinet6 %@%%%@ prefixlen %d scopeid 0x%x\n", a.address, link.name,
                              a.prefixLength, link.index);
            } else {
                out += format("\tinet6 %@ prefixlen %d\n", a.address, a.prefixLength);
            }
        }
        if (link.hardwareAddress && link.hardwareType == ARPHRD_ETHER) {
            out += format("\tether %@\n", *link.hardwareAddress);
        }
        for (const IPv4Address& a : link.ipv4) {
            std::string line = format("\tinet %@", a.address);
            if (a.peer) line += format(" --> %@", *a.peer);
            line += format(" netmask 0x%08x", netmask(a.prefixLength));
            if (a.broadcast) line += format(" broadcast %@", *a.broadcast);
            out += line + "\n";
        }
        if (!(link.flags & IFF_LOOPBACK)) {
            out += format("\tstatus: %@\n", link.active ? "active" : "inactive");
        }
    }
    return out;
}

std::string formatHardwarePortListing(const std::vector<HardwarePortInfo>& ports,
                                      const NetworkSnapshot& snapshot) {
    std::string out = "\n";
    for (const HardwarePortInfo& port : ports) {
        const Link* link = snapshot.findLink(port.device);
        std::string address =
            link && link->hardwareAddress ? *link->hardwareAddress : std::string("N/A");
        out += format("Hardware Port: %@\nDevice: %@\nEthernet Address: %@\n\n", port.portName,
                      port.device, address);
    }
    out += "VLAN Configurations\n===================\n";
    return out;
}

plist::Value networkDataSection(const std::vector<HardwarePortInfo>& orderedPorts,
                                const NetworkSnapshot& snapshot) {
    plist::Value::Array items;
    std::int64_t order = 0;
    for (const HardwarePortInfo& port : orderedPorts) {
        plist::Value service = plist::Value::dictionary();
        service.set("_name", plist::Value::string(port.portName));
        service.set("interface", plist::Value::string(port.device));
        service.set("type", plist::Value::string(port.serviceType));
        service.set("hardware", plist::Value::string(port.wireless ? "AirPort" : "Ethernet"));
        service.set("spnetwork_service_order", plist::Value::integer(order++));
        if (const Link* link = snapshot.findLink(port.device)) {
            std::vector<std::string> addresses, masks;
            for (const IPv4Address& a : link->ipv4) {
                addresses.push_back(a.address);
                masks.push_back(dottedNetmask(a.prefixLength));
            }
            if (!addresses.empty()) {
                service.set("ip_address", stringArray(addresses));
                plist::Value v4 = plist::Value::dictionary();
                v4.set("Addresses", stringArray(addresses));
                v4.set("SubnetMasks", stringArray(masks));
                v4.set("InterfaceName", plist::Value::string(port.device));
                service.set("IPv4", std::move(v4));
            }
            if (link->hardwareAddress) {
                plist::Value ethernet = plist::Value::dictionary();
                ethernet.set("MAC Address", plist::Value::string(*link->hardwareAddress));
                service.set("Ethernet", std::move(ethernet));
            }
        }
        items.push_back(std::move(service));
    }
    plist::Value section = plist::Value::dictionary();
    section.set("_dataType", plist::Value::string("SPNetworkDataType"));
    section.set("_parentDataType", plist::Value::string("SPRootDataType"));
    section.set("_items", plist::Value::array(std::move(items)));
    return section;
}

std::string formatSystemProfilerXml(const std::vector<plist::Value>& sections) {
    return plist::toXml(plist::Value::array(sections));
}

std::string formatSystemProfilerText(const plist::Value& networkSection) {
    const plist::Value* items = networkSection.find("_items");
    if (!items || !items->arrayValue()) return {};
    std::string out = "Network:\n\n";
    for (const plist::Value& service : *items->arrayValue()) {
        auto text = [&](const char* key) {
            const plist::Value* v = service.find(key);
            return v && v->stringValue() ? *v->stringValue() : std::string();
        };
        out += format("    %@:\n\n", text("_name"));
        out += format("      Type: %@\n", text("type"));
        out += format("      Hardware: %@\n", text("hardware"));
        out += format("      BSD Device Name: %@\n", text("interface"));
        if (const plist::Value* a = service.find("ip_address"); a && a->arrayValue()) {
            std::string joined;
            for (const plist::Value& ip : *a->arrayValue()) {
                if (!joined.empty()) joined += ", ";
                if (ip.stringValue()) joined += *ip.stringValue();
            }
            out += format("      IPv4 Addresses: %@\n", joined);
        }
        out += "\n";
    }
    return out;
}

std::string formatAirPortInfo(const AirPortInfo& info) {
    if (!info.present) return {};
    if (!info.power) return "AirPort: Off\n";
    std::string out;
    auto line = [&](const char* key, const std::string& value) {
        out += format("%15s: %@\n", key, value);
    };
    bool associated = info.ssid.has_value();
    line("agrCtlRSSI", std::to_string(info.rssiValue));
    line("agrExtRSSI", "0");
    line("agrCtlNoise", std::to_string(info.noiseMeasurement));
    line("agrExtNoise", "0");
    line("state", associated ? "running" : "init");
    line("op mode", opMode(info.interfaceMode));
    line("lastTxRate", format("%.0f", std::round(info.transmitRate)));
    if (info.maxRate) line("maxRate", format("%.0f", std::round(*info.maxRate)));
    line("lastAssocStatus", "0");
    line("802.11 auth", "open");
    line("link auth", associated ? linkAuth(info.security) : "");
    line("BSSID", info.bssid.value_or(""));
    line("SSID", info.ssid.value_or(""));
    if (info.mcs) line("MCS", *info.mcs);
    if (info.channelNumber) {
        static const char* const kWidths[] = {"", "", ",40", ",80", ",160", ",320"};
        std::int64_t w = info.channelWidth;
        line("channel", std::to_string(*info.channelNumber) + (w >= 0 && w <= 5 ? kWidths[w] : ""));
    }
    return out;
}

std::string formatAirPortInfo(const sim::SimWifiState& state) {
    AirPortInfo info;
    info.present = state.present;
    info.power = state.power;
    info.interfaceMode = state.interfaceMode;
    info.security = state.security;
    info.ssid = state.ssid;
    info.bssid = state.bssid;
    info.channelNumber = state.channelNumber;
    info.channelWidth = state.channelWidth;
    info.transmitRate = state.transmitRate;
    info.rssiValue = state.rssiValue;
    info.noiseMeasurement = state.noiseMeasurement;
    info.mcs = state.mcs;
    return formatAirPortInfo(info);
}

}  // namespace ww::tools
