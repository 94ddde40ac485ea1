#pragma once

#include <functional>

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

    // One pass; runs on the check's thread. Sets viaEthernet / viaWifi (never
    // clears them), may replace the hotspot list and the four wired texts.
    void getAllNetworksDetails();

private:
    CommandTable m_commands;
    NetworkState& m_state;
    Hooks m_hooks;
};

// Runs the Wi-Fi tool and keeps its MCS value in state.mcsInx (unchanged when
// the tool printed no MCS line).
void executeAirPortCommand(const CommandTable& commands, NetworkState& state);

}  // namespace ww
