#include "discovery/InterfaceInspector.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/Text.h"

namespace ww {

const char* interfaceClassName(InterfaceClass c) {
    switch (c) {
        case InterfaceClass::Wired:
            return "wired";
        case InterfaceClass::WiFi:
            return "Wi-Fi";
        case InterfaceClass::USBHotspot:
            return "USB hotspot";
        case InterfaceClass::NotCounted:
            break;
    }
    return "not counted";
}

const char* interfaceOverrideName(InterfaceOverride o) {
    switch (o) {
        case InterfaceOverride::Wired:
            return "wired";
        case InterfaceOverride::Ignore:
            return "ignore";
        case InterfaceOverride::Automatic:
            break;
    }
    return "automatic";
}

std::map<std::string, InterfaceOverride> parseInterfaceOverrides(
    const std::optional<plist::Value>& value) {
    std::map<std::string, InterfaceOverride> overrides;
    if (!value || !value->isDictionary()) return overrides;
    for (const auto& [name, v] : *value->dictionaryValue()) {
        const std::string* s = v.stringValue();
        if (!s) continue;
        std::string word = text::toLowerAscii(text::trim(*s));
        if (word == "wired") overrides[name] = InterfaceOverride::Wired;
        if (word == "ignore") overrides[name] = InterfaceOverride::Ignore;
    }
    return overrides;
}

std::string inspectorLine(const InterfaceReport& report) {
    std::string line = text::singleLine(report.name);
    if (report.portName && !report.portName->empty() && *report.portName != report.name) {
        line += " \"" + text::singleLine(*report.portName) + "\"";
    }
    line += ": ";
    line += interfaceClassName(report.classification);
    if (!report.reason.empty()) line += " (" + text::singleLine(report.reason) + ")";
    return line;
}

std::vector<std::string> inspectorLines(const InterfaceReports& reports) {
    std::vector<std::string> lines;
    lines.reserve(reports.size());
    for (const auto& r : reports) lines.push_back(inspectorLine(r));
    return lines;
}

std::string inspectorJson(const InterfaceReports& reports) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& r : reports) {
        nlohmann::json entry;
        entry["name"] = r.name;
        entry["port"] = r.portName ? nlohmann::json(*r.portName) : nlohmann::json(nullptr);
        entry["address"] = r.address ? nlohmann::json(*r.address) : nlohmann::json(nullptr);
        entry["classification"] = interfaceClassName(r.classification);
        entry["reason"] = r.reason;
        entry["override"] = interfaceOverrideName(r.override);
        list.push_back(std::move(entry));
    }
    nlohmann::json doc;
    doc["interfaces"] = std::move(list);
    return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace ww
