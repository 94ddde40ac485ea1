#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/WiFiInterface.h"

namespace ww {

// The colour the menu draws values in: the application's named colour
// "values-color" where the platform has named colours (from macOS 10.13 on;
// always on Linux), else the label colour (the empty name).
std::string menuTextColorName(float osVersion);

// Texts of the status menu's information items. `p` is whether Wi-Fi power is
// on: with power off every Wi-Fi item shows its label alone.
namespace menuTexts {
std::string opMode(bool p, const std::optional<std::string>& name);
std::string security(bool p, const std::string& name);
std::string phyMode(bool p, const std::optional<std::string>& name);
std::string ssid(bool p, const std::optional<std::string>& ssid);
// "36/5 GHz (80 MHz)"; an absent channel reads as 0/Unknown (Unknown); a band
// or width without a name shows as "Unknown".
std::string channelText(const std::optional<WiFiChannel>& channel);
std::string channel(bool p, const std::optional<WiFiChannel>& channel);
std::string bssid(bool p, const std::string& normalizedBssid);
// The rate cut toward zero to a whole number of Mbit/s.
std::string transmitRate(bool p, double rate);
std::string rssi(bool p, std::int64_t dBm);
std::string noise(bool p, std::int64_t dBm);
std::string mcsIndex(bool p, const std::optional<std::string>& mcs);
// A prepared wired line, or the label with "Not Available" when the inventory
// never prepared one.
std::string wiredLine(const std::optional<std::string>& prepared, const std::string& label);
// "Interface name: en0/Ethernet"; absent parts show as "Not Available".
std::string interfaceName(const std::optional<std::string>& bsdName,
                          const std::optional<std::string>& displayName);
}  // namespace menuTexts

}  // namespace ww
