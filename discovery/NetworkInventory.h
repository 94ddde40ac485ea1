#pragma once

#include <functional>
#include <map>
#include <string>

#include "discovery/CommandTable.h"
#include "discovery/NetworkState.h"

namespace ww {

// The network inventory: runs the three tools, classifies what is connected,
// and writes its findings into the shared state.
class NetworkInventory {
public:
    struct Hooks {
        // Reads the preference "DisableUSBConnectedPersonalHotspot" (absent is false).
        std::function<bool()> hotspotShutOffEnabled;
        // Starts the USB watcher (WWUtils::detectConnectedUSBHotspot); may be empty.
        std::function<void()> detectConnectedUSBHotspot;
    };

    NetworkInventory(CommandTable commands, NetworkState& state, Hooks hooks);

    // The user's overrides ("InterfaceOverrides"), applied before anything is
    // counted; none by default.
    void setInterfaceOverrides(std::map<std::string, InterfaceOverride> overrides) {
        m_overrides = std::move(overrides);
    }

    // One pass; runs on the check's thread. Sets viaEthernet / viaWifi (never
    // clears them), may replace the hotspot list and the four wired texts, and
    // replaces the interface reports. Overrides apply before anything counts;
    // a link the ifconfig tool reports inactive never counts.
    void getAllNetworksDetails();

private:
    CommandTable m_commands;
    NetworkState& m_state;
    Hooks m_hooks;
    std::map<std::string, InterfaceOverride> m_overrides;
};

// Runs the Wi-Fi tool and keeps its MCS value in state.mcsInx (unchanged when
// the tool printed no MCS line).
void executeAirPortCommand(const CommandTable& commands, NetworkState& state);

}  // namespace ww
