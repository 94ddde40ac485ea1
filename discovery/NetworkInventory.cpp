#include "discovery/NetworkInventory.h"

#include <map>

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

}  // namespace

NetworkInventory::NetworkInventory(CommandTable commands, NetworkState& state, Hooks hooks)
    : m_commands(std::move(commands)), m_state(state), m_hooks(std::move(hooks)) {}

void NetworkInventory::getAllNetworksDetails() {
    InterfaceTable ifconfigInterfaces = executeAndParseIfconfigCommand(m_commands);
    SystemProfilerTable systemProfilerInterfaces = executeAndParseSystemProfilerCommand(m_commands);
    InterfaceTable connectedInterfaces = executeAndParseNetworksetupCommand(
        m_commands, ifconfigInterfaces, systemProfilerInterfaces);
    WWLogInfo("AppDelegate: getAllNetworksDetails - connected networks are %@",
              connectedInterfaces);

    // Keyed by the order as a number, which is the order the keys sort in; of
    // records sharing an order, the one visited last stays.
    std::map<std::int64_t, InterfaceInfoPtr> interfacesByServiceOrder;
    InterfaceList usbHotspotInterfaces;
    for (const auto& [bsdName, record] : connectedInterfaces) {
        interfacesByServiceOrder[record->serviceOrder] = record;
        if (isWireless(*record)) {
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
    if (isWireless(*preferred)) return;

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
