#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "discovery/InterfaceInfo.h"
#include "discovery/InterfaceInspector.h"

namespace ww {

// What one inventory leaves for the rest of the check and for the menu: the two
// flags, the USB hotspots to shut off and the preferred wired interface's texts,
// plus the MCS index read from the Wi-Fi tool. Owned by the application
// delegate. The flags are cleared by the check trigger, set by the inventory.
// Texts and the list are replaced as whole values.
class NetworkState {
public:
    std::atomic<bool> viaEthernet{false};
    std::atomic<bool> viaWifi{false};

    InterfaceList hotspotInterfacesToDelete() const {
        std::lock_guard lock(m_mutex);
        return m_hotspotInterfacesToDelete;
    }
    void setHotspotInterfacesToDelete(InterfaceList list) {
        std::lock_guard lock(m_mutex);
        m_hotspotInterfacesToDelete = std::move(list);
    }

    // BSD name, "MAC address: ..." line, display name and "IP address: ..." line
    // of the preferred wired interface; absent until an inventory sets them.
    AtomicText ethernetInterfaceName;
    AtomicText ethernetMacAddress;
    AtomicText unknonInterfaceName;
    AtomicText unknownInterfaceIP;

    // The BSD name of the Wi-Fi interface last seen connected; absent until one was.
    AtomicText wifiInterfaceName;

    // The MCS index as the Wi-Fi tool printed it; absent until it first did.
    AtomicText mcsInx;

    // Every interface the last inventory saw, how it was counted and why.
    InterfaceReports interfaceReports() const {
        std::lock_guard lock(m_mutex);
        return m_interfaceReports;
    }
    void setInterfaceReports(InterfaceReports reports) {
        std::lock_guard lock(m_mutex);
        m_interfaceReports = std::move(reports);
    }

    // True the first time for this interface and override word: an override
    // is logged once, when it first changes a result.
    bool firstOverrideEffect(const std::string& name, InterfaceOverride o) {
        std::lock_guard lock(m_mutex);
        return m_loggedOverrides.insert(name + '\n' + interfaceOverrideName(o)).second;
    }

private:
    mutable std::mutex m_mutex;
    InterfaceList m_hotspotInterfacesToDelete;
    InterfaceReports m_interfaceReports;
    std::set<std::string> m_loggedOverrides;
};

}  // namespace ww
