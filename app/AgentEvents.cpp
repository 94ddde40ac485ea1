#include "app/AgentEvents.h"

namespace ww {

const char* agentEventName(AgentEventKind kind) {
    switch (kind) {
        case AgentEventKind::WifiDisconnected:
            return "wifi-disconnected";
        case AgentEventKind::WifiSwitchedOff:
            return "wifi-switched-off";
        case AgentEventKind::WifiSwitchedOn:
            return "wifi-switched-on";
        case AgentEventKind::HotspotDisabled:
            return "hotspot-disabled";
        case AgentEventKind::WarningEntered:
            return "warning-entered";
        case AgentEventKind::WarningLeft:
            return "warning-left";
        case AgentEventKind::PolicyApplied:
            return "policy-applied";
    }
    return "unknown";
}

}  // namespace ww
