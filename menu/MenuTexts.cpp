#include "menu/MenuTexts.h"

#include <cmath>

#include "menu/WiFiValueNames.h"
#include "platform/foundation/Format.h"

namespace ww {

std::string menuTextColorName(float osVersion) {
#if defined(__APPLE__)
    return osVersion >= 10.13f ? "values-color" : "";
#else
    (void)osVersion;
    return "values-color";
#endif
}

namespace menuTexts {

namespace {
std::string labelled(bool p, const char* label, const std::optional<std::string>& value) {
    if (p && value) return std::string(label) + " " + *value;
    return label;
}
}  // namespace

std::string opMode(bool p, const std::optional<std::string>& name) {
    return labelled(p, "Op Mode:", name);
}

std::string security(bool p, const std::string& name) { return labelled(p, "Security:", name); }

std::string phyMode(bool p, const std::optional<std::string>& name) {
    return labelled(p, "PHY Mode:", name);
}

std::string ssid(bool p, const std::optional<std::string>& ssid) {
    return labelled(p, "SSID:", ssid);
}

std::string channelText(const std::optional<WiFiChannel>& channel) {
    WiFiChannel c = channel.value_or(WiFiChannel{});
    return ww::format("%lu/%@ (%@)", static_cast<std::uint64_t>(c.channelNumber),
                      WWUtils::stringForChannelBand(c.channelBand).value_or("Unknown"),
                      WWUtils::stringForChannelWidth(c.channelWidth).value_or("Unknown"));
}

std::string channel(bool p, const std::optional<WiFiChannel>& channel) {
    return labelled(p, "Channel:", channelText(channel));
}

std::string bssid(bool p, const std::string& normalizedBssid) {
    return labelled(p, "BSSID:", normalizedBssid);
}

std::string transmitRate(bool p, double rate) {
    if (!p) return "Transmit Rate:";
    // A rate the interface cannot express reads as 0 rather than as garbage.
    double whole = std::isfinite(rate) ? std::trunc(rate) : 0;
    if (whole > 9.0e18 || whole < -9.0e18) whole = 0;
    return ww::format("Transmit Rate: %@ Mbps", static_cast<std::int64_t>(whole));
}

std::string rssi(bool p, std::int64_t dBm) {
    return p ? ww::format("RSSI: %@ dBm", dBm) : "RSSI:";
}

std::string noise(bool p, std::int64_t dBm) {
    return p ? ww::format("Noise: %@ dBm", dBm) : "Noise:";
}

std::string mcsIndex(bool p, const std::optional<std::string>& mcs) {
    if (!p) return "MCS Index: N/A";
    return ww::format("MCS Index: %@", mcs.value_or("N/A"));
}

std::string wiredLine(const std::optional<std::string>& prepared, const std::string& label) {
    return prepared ? *prepared : label + "Not Available";
}

std::string interfaceName(const std::optional<std::string>& bsdName,
                          const std::optional<std::string>& displayName) {
    return ww::format("Interface name: %@/%@", bsdName.value_or("Not Available"),
                      displayName.value_or("Not Available"));
}

}  // namespace menuTexts
}  // namespace ww
