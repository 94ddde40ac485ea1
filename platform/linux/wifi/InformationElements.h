#pragma once

// The 802.11 information elements of a BSS (as nl80211 hands them over in a
// scan entry): the SSID, the key-management suites of the RSN element and of
// the WPA vendor element, and the 802.11 generations and rates the access
// point offers. Pure parsing over untrusted bytes; fuzzed.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/wifi/WiFiCodes.h"

namespace ww::linuxwifi {

// A cipher or key-management suite selector: OUI in the high three bytes,
// suite type in the low one (00-0F-AC:2 is 0x000FAC02).
using SuiteSelector = std::uint32_t;

inline constexpr SuiteSelector kRsnOui = 0x000FAC00;
inline constexpr SuiteSelector kWpaOui = 0x0050F200;

struct InformationElements {
    // The first SSID element's bytes (empty for a hidden network); nothing
    // without one.
    std::optional<std::string> ssid;
    // An RSN element (48) / a WPA vendor element (221, 00-50-F2 type 1) was
    // present, and the key-management suites it lists. A present element
    // whose list is absent offers 802.1X (the standard's default).
    bool hasRsn = false;
    bool hasWpa = false;
    std::vector<SuiteSelector> rsnAkms;
    std::vector<SuiteSelector> wpaAkms;
    // HT and VHT Capabilities elements (45, 191), HE and EHT Capabilities in
    // the element extension (255, extension IDs 35 and 108).
    PhyCapabilities phy;
    // A supported rate above 11 Mb/s (elements 1 and 50): OFDM, not only
    // 802.11b's CCK.
    bool ofdmRates = false;
    // An element ran past the end of the data, or an RSN/WPA element ended
    // inside a field or listed more suites than it holds. What was read
    // before the fault is kept.
    bool malformed = false;
};

// Parses a sequence of elements (ID, length, body). Never reads past `size`.
InformationElements parseInformationElements(const std::uint8_t* data, std::size_t size);

// The traits the security code is made from, with the BSS's privacy
// capability bit.
SecurityTraits securityTraits(const InformationElements& elements, bool privacy);

}  // namespace ww::linuxwifi
