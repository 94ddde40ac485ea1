#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/AgentEvents.h"
#include "app/UserDefaults.h"
#include "app/WiFiInterface.h"

namespace ww {

// One setting as a check read it, and where it came from.
struct SettingReport {
    std::int64_t value = 0;
    SettingSource source = SettingSource::None;
};

// The Wi-Fi link values the menu showed, as read for it.
struct WiFiReport {
    bool present = false;  // a default Wi-Fi interface exists
    std::optional<std::string> interface;
    bool power = false;
    std::int64_t interfaceMode = 0;
    std::optional<std::string> opModeName;
    std::int64_t security = 0;
    std::string securityName;
    std::int64_t phyMode = 0;
    std::optional<std::string> phyModeName;
    std::optional<std::string> ssid;
    std::optional<std::string> bssid;  // normalised
    std::optional<WiFiChannel> channel;
    double transmitRate = 0;
    std::int64_t rssi = 0;
    std::int64_t noise = 0;
    std::optional<std::string> mcsIndex;
};

// The preferred wired interface the menu showed; absent values were "Not Available".
struct WiredReport {
    std::optional<std::string> interface;
    std::optional<std::string> displayName;
    std::optional<std::string> ipAddress;
    std::optional<std::string> macAddress;
};

// Everything one finished check decided and showed, for --once --json.
struct CheckReport {
    std::string icon;
    bool viaEthernet = false;
    bool viaWifi = false;
    SettingReport rule;
    SettingReport enableWireless;
    bool hotspotShutOff = false;
    SettingSource hotspotShutOffSource = SettingSource::None;
    // The details shown: Wi-Fi when true, else wired.
    bool showsWiFi = false;
    WiFiReport wifi;
    WiredReport wired;
    // The Wi-Fi and USB actions of this check, in order.
    std::vector<AgentEvent> actions;
    // The visible menu lines, as the text report prints them.
    std::vector<std::string> menu;
    // The policy file and the keys it fixes now (none: no policy in force).
    std::optional<std::string> policyPath;
    std::vector<std::string> policyKeys;
};

}  // namespace ww
