#include "discovery/NetworkInventory.h"

#include <map>
#include <set>

#include "discovery/IfconfigParser.h"
#include "discovery/NetworksetupParser.h"
#include "discovery/SystemProfilerParser.h"
#include "discovery/WWUtils.h"
#include "logging/DDLog.h"
#include "platform/foundation/Text.h"

namespace ww {

namespace {

bool isWireless(const InterfaceInfo& record) {
    auto type = record.type.get();
    if (!type) return false;
    return *type == "IEEE80211" || *type == "AirPort" || *type == "airPort" || *type == "Wi-Fi";
}

bool isUSBHotspot(const InterfaceInfo& record) {
    auto name = record.displayName.get();
    if (!name) return false;
    std::string lower = text::toLowerAscii(*name);
    return text::contains(lower, "iphone") || text::contains(lower, "ipad");
}

std::optional<std::string> portNameOf(const std::string& name,
                                      const std::vector<HardwarePort>& ports,
                                      const SystemProfilerTable& services) {
    for (const auto& port : ports) {
        if (port.device && *port.device == name) return port.name;
    }
    if (auto it = services.find(name); it != services.end()) {
        if (const plist::Value* v = it->second.find("_name"); v && v->stringValue()) {
            return *v->stringValue();
        }
    }
    return std::nullopt;
}

// On Linux an address outlives its link (a static address on a port without
// a cable, on a Wi-Fi that left its network), so a link the tool reports down
// is not connected, whatever address it keeps. Tools that print no status
// leave the decision to the address alone.
bool linkIsDown(const std::string& status) { return status == "inactive"; }

// How the tools' findings count an interface, before any override.
void classifyAutomatically(InterfaceReport& report, const IfconfigBlock& block,
                           const InterfaceTable& connected) {
    if (block.loopback || block.address.starts_with("127")) {
        report.reason = "loopback";
    } else if (block.address.empty()) {
        report.reason = linkIsDown(block.status) ? "no address, inactive" : "no address";
    } else if (linkIsDown(block.status)) {
        report.reason = "inactive: the link is down";
    } else if (auto it = connected.find(block.name); it != connected.end()) {
        if (isWireless(*it->second)) {
            report.classification = InterfaceClass::WiFi;
            report.reason = "Wi-Fi port";
        } else if (isUSBHotspot(*it->second)) {
            report.classification = InterfaceClass::USBHotspot;
            report.reason = "USB personal hotspot";
        } else {
            report.classification = InterfaceClass::Wired;
            auto type = it->second->type.get();
            report.reason = WWUtils::hasValue(type) ? "hardware port, type " + *type
                                                    : std::string("hardware port");
        }
    } else {
        report.reason = "virtual: not a hardware port";
    }
}

}  // namespace

NetworkInventory::NetworkInventory(CommandTable commands, NetworkState& state, Hooks hooks)
    : m_commands(std::move(commands)), m_state(state), m_hooks(std::move(hooks)) {}

void NetworkInventory::getAllNetworksDetails() {
    std::vector<IfconfigBlock> seen;
    InterfaceTable ifconfigInterfaces = executeAndParseIfconfigCommand(m_commands, &seen);
    SystemProfilerTable systemProfilerInterfaces = executeAndParseSystemProfilerCommand(m_commands);
    std::vector<HardwarePort> ports;
    InterfaceTable connectedInterfaces = executeAndParseNetworksetupCommand(
        m_commands, ifconfigInterfaces, systemProfilerInterfaces, &ports);
    WWLogInfo("AppDelegate: getAllNetworksDetails - connected networks are %@",
              connectedInterfaces);

    // The user's overrides decide before anything is counted: ignored
    // interfaces leave the table, interfaces declared wired join it (when they
    // have an address) and count as wired whatever their type.
    const std::map<std::string, InterfaceOverride>& overrides = m_overrides;
    InterfaceTable counted = connectedInterfaces;
    std::erase_if(counted, [](const auto& entry) {
        return linkIsDown(entry.second->status.get().value_or(""));
    });
    std::set<std::string> forcedWired;
    InterfaceReports reports;
    for (const IfconfigBlock& block : seen) {
        InterfaceReport report;
        report.name = block.name;
        report.portName = portNameOf(block.name, ports, systemProfilerInterfaces);
        if (!block.address.empty()) report.address = block.address;
        classifyAutomatically(report, block, connectedInterfaces);
        auto o = overrides.find(block.name);
        if (o != overrides.end()) {
            report.override = o->second;
            auto usable = ifconfigInterfaces.find(block.name);
            InterfaceClass automatic = report.classification;
            std::string automaticReason = report.reason;
            if (o->second == InterfaceOverride::Ignore) {
                counted.erase(block.name);
                report.classification = InterfaceClass::NotCounted;
            } else if (usable != ifconfigInterfaces.end() && !linkIsDown(block.status)) {
                counted[block.name] = usable->second;
                forcedWired.insert(block.name);
                report.classification = automatic == InterfaceClass::USBHotspot
                                            ? InterfaceClass::USBHotspot
                                            : InterfaceClass::Wired;
            }
            if (report.classification != automatic) {
                report.reason = std::string("overridden; automatically ") +
                                interfaceClassName(automatic) + ", " + automaticReason;
                if (m_state.firstOverrideEffect(block.name, o->second)) {
                    WWLogInfo("AppDelegate: interface override: %@ is %@ (%@), not %@ (%@)",
                              block.name, interfaceClassName(report.classification),
                              interfaceOverrideName(o->second), interfaceClassName(automatic),
                              automaticReason);
                }
            }
        }
        reports.push_back(std::move(report));
    }
    m_state.setInterfaceReports(std::move(reports));

    // Keyed by the order as a number, which is the order the keys sort in; of
    // records sharing an order, the one visited last stays.
    std::map<std::int64_t, InterfaceInfoPtr> interfacesByServiceOrder;
    InterfaceList usbHotspotInterfaces;
    for (const auto& [bsdName, record] : counted) {
        interfacesByServiceOrder[record->serviceOrder] = record;
        if (isWireless(*record) && !forcedWired.contains(bsdName)) {
            m_state.viaWifi = true;
            m_state.wifiInterfaceName.set(bsdName);
        } else {
            if (isUSBHotspot(*record)) usbHotspotInterfaces.push_back(record);
            m_state.viaEthernet = true;
        }
    }

    bool shutOffHotspots = m_hooks.hotspotShutOffEnabled && m_hooks.hotspotShutOffEnabled();
    if (shutOffHotspots && !usbHotspotInterfaces.empty()) {
        WWLogInfo(
            "AppDelegate: user has enabled to disable personal hotspot and system is connected "
            "to personal hotspot so it will be terminated...");
        WWLogInfo("%@", usbHotspotInterfaces);
        m_state.setHotspotInterfacesToDelete(usbHotspotInterfaces);
        if (m_hooks.detectConnectedUSBHotspot) m_hooks.detectConnectedUSBHotspot();
    }

    if (interfacesByServiceOrder.empty()) return;
    const InterfaceInfoPtr& preferred = interfacesByServiceOrder.begin()->second;
    auto preferredName = preferred->BSDName.get();
    if (isWireless(*preferred) && !(preferredName && forcedWired.contains(*preferredName))) return;

    auto ip = preferred->IPAdress.get();
    auto mac = preferred->MacAdress.get();
    m_state.unknownInterfaceIP.set(
        format("IP address: %@", WWUtils::hasValue(ip) ? *ip : std::string("Not Available")));
    m_state.ethernetMacAddress.set(format("MAC address: %@", WWUtils::hasValue(mac)
                                                                 ? WWUtils::normalizeMAC(mac)
                                                                 : std::string("Not Available")));
    m_state.unknonInterfaceName.set(preferred->displayName.get());
    m_state.ethernetInterfaceName.set(preferred->BSDName.get());
}

}  // namespace ww
