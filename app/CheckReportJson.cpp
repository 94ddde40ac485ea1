#include "app/CheckReportJson.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "menu/WiFiValueNames.h"
#include "platform/foundation/Text.h"

namespace ww {

namespace {

using json = nlohmann::ordered_json;

json orNull(const std::optional<std::string>& text) { return text ? json(*text) : json(nullptr); }

const char* ruleMeaning(std::int64_t rule) {
    if (rule == 0) return "disconnect-wifi";
    if (rule == 1) return "switch-wifi-off";
    return "none";
}

const char* enableWirelessMeaning(std::int64_t value) {
    if (value == 1) return "switch-wifi-on";
    if (value == 0) return "warn";
    return "nothing";
}

// Network names are whatever bytes a network sends: each bad byte becomes one
// U+FFFD (the JSON library's own replacement takes a bad sequence as one).
void replaceInvalidText(json& j) {
    if (j.is_string()) {
        j = text::replacingInvalidUtf8(j.get_ref<const std::string&>());
    } else if (j.is_structured()) {
        for (json& child : j) replaceInvalidText(child);
    }
}

json setting(const SettingReport& s, const char* meaning) {
    return {{"value", s.value}, {"meaning", meaning}, {"source", settingSourceName(s.source)}};
}

json wifiJson(const WiFiReport& w) {
    // Like the menu: a radio that is off (or absent) has no link to describe.
    if (!w.power || w.interfaceMode == 0) {
        json none = nullptr;
        return {{"present", w.present}, {"interface", orNull(w.interface)},
                {"power", w.power},     {"opMode", none},
                {"security", none},     {"phyMode", none},
                {"ssid", none},         {"bssid", none},
                {"channel", none},      {"transmitRate", none},
                {"rssi", none},         {"noise", none},
                {"mcsIndex", none}};
    }
    json channel = nullptr;
    if (w.channel) {
        channel = {{"number", w.channel->channelNumber},
                   {"band", orNull(WWUtils::stringForChannelBand(w.channel->channelBand))},
                   {"width", orNull(WWUtils::stringForChannelWidth(w.channel->channelWidth))}};
    }
    return {{"present", w.present},
            {"interface", orNull(w.interface)},
            {"power", w.power},
            {"opMode", {{"code", w.interfaceMode}, {"name", orNull(w.opModeName)}}},
            {"security", {{"code", w.security}, {"name", w.securityName}}},
            {"phyMode", {{"code", w.phyMode}, {"name", orNull(w.phyModeName)}}},
            {"ssid", orNull(w.ssid)},
            {"bssid", orNull(w.bssid)},
            {"channel", channel},
            {"transmitRate", static_cast<std::int64_t>(std::trunc(w.transmitRate))},
            {"rssi", w.rssi},
            {"noise", w.noise},
            {"mcsIndex", orNull(w.mcsIndex)}};
}

}  // namespace

std::string checkReportJson(const CheckReport& r, const RunFacts& run) {
    json actions = json::array();
    for (const AgentEvent& a : r.actions) {
        actions.push_back({{"action", agentEventName(a.kind)},
                           {"interface", a.interface.empty() ? json(nullptr) : json(a.interface)},
                           {"ok", a.ok},
                           {"changed", a.changed},
                           {"error", orNull(a.error)},
                           {"message", a.message}});
    }
    json policy = nullptr;
    if (r.policyPath) policy = {{"path", *r.policyPath}, {"keys", r.policyKeys}};

    json out = {
        {"schema", kCheckReportSchema},
        {"version", run.version},
        {"icon", r.icon},
        {"state", r.icon == "ww-warning-menubar" ? "warning" : "normal"},
        {"connected", {{"wired", r.viaEthernet}, {"wifi", r.viaWifi}}},
        {"rule", setting(r.rule, ruleMeaning(r.rule.value))},
        {"enableWireless",
         setting(r.enableWireless, enableWirelessMeaning(r.enableWireless.value))},
        {"hotspotShutOff",
         {{"value", r.hotspotShutOff}, {"source", settingSourceName(r.hotspotShutOffSource)}}},
        {"policy", policy},
        {"shown", r.showsWiFi ? "wifi" : "wired"},
        {"wifi", r.showsWiFi ? wifiJson(r.wifi) : json(nullptr)},
        {"wired", r.showsWiFi ? json(nullptr)
                              : json{{"interface", orNull(r.wired.interface)},
                                     {"name", orNull(r.wired.displayName)},
                                     {"ipAddress", orNull(r.wired.ipAddress)},
                                     {"macAddress", orNull(r.wired.macAddress)}}},
        {"actions", actions},
        {"menu", r.menu},
        {"backend", run.backend},
        {"backendRequested", run.backendRequested},
        {"dryRun", run.dryRun},
    };
    replaceInvalidText(out);
    return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace ww
