#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Plist.h"

namespace ww {

// How the inventory counted one interface.
enum class InterfaceClass { Wired, WiFi, USBHotspot, NotCounted };

// The user's word on one interface ("InterfaceOverrides": name -> "wired" or
// "ignore"). "ignore" takes it out of both counts; "wired" counts it as wired
// whenever it is connected, whatever its port type.
enum class InterfaceOverride { Automatic, Wired, Ignore };

// One interface the inventory saw, whether it counted or not, and why.
struct InterfaceReport {
    std::string name;                     // the BSD name, as ifconfig printed it
    std::optional<std::string> portName;  // the hardware port or service name
    std::optional<std::string> address;   // the IPv4 address, when it had one
    InterfaceClass classification = InterfaceClass::NotCounted;
    std::string reason;
    InterfaceOverride override = InterfaceOverride::Automatic;
};
using InterfaceReports = std::vector<InterfaceReport>;

// "wired", "Wi-Fi", "USB hotspot", "not counted".
const char* interfaceClassName(InterfaceClass c);
// "wired", "ignore", "automatic".
const char* interfaceOverrideName(InterfaceOverride o);

// Reads the preference value: a dictionary of texts. Entries whose value is
// neither "wired" nor "ignore" (any case) are left out; so is anything that is
// not a dictionary.
std::map<std::string, InterfaceOverride> parseInterfaceOverrides(
    const std::optional<plist::Value>& value);

// One line per interface, as the inspector shows it (also in the tray menu):
//   en5 "Thunderbolt Ethernet": wired (hardware port)
//   docker0: not counted (virtual: not a hardware port)
// Names are made safe to print on one line.
std::string inspectorLine(const InterfaceReport& report);
std::vector<std::string> inspectorLines(const InterfaceReports& reports);

// {"interfaces": [{"name", "port", "address", "classification", "reason",
// "override"}, ...]}, pretty-printed. Bytes that are not UTF-8 come out as
// U+FFFD, so the document is always valid JSON.
std::string inspectorJson(const InterfaceReports& reports);

}  // namespace ww
