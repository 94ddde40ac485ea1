#pragma once

// The platform's Wi-Fi codes (the CoreWLAN enumerations the menu names) made
// from what Linux reports: frequencies, channel widths, rate information,
// key-management suites and the daemons' own words. Pure functions, shared by
// every backend and by the `airport -I` stand-in.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace ww::linuxwifi {

// Interface mode: 0 none, 1 station, 2 IBSS, 3 host AP.
inline constexpr std::int64_t kModeNone = 0;
inline constexpr std::int64_t kModeStation = 1;
inline constexpr std::int64_t kModeIBSS = 2;
inline constexpr std::int64_t kModeHostAP = 3;

// PHY mode: 1 11a, 2 11b, 3 11g, 4 11n, 5 11ac, 6 11ax (EHT links too).
inline constexpr std::int64_t kPhyNone = 0;
inline constexpr std::int64_t kPhy11a = 1;
inline constexpr std::int64_t kPhy11b = 2;
inline constexpr std::int64_t kPhy11g = 3;
inline constexpr std::int64_t kPhy11n = 4;
inline constexpr std::int64_t kPhy11ac = 5;
inline constexpr std::int64_t kPhy11ax = 6;

// Channel band: 0 unknown, 1 2.4 GHz, 2 5 GHz, 3 6 GHz.
// Channel width: 0 unknown, 1 20, 2 40, 3 80, 4 160, 5 320 MHz.

// Security: the CoreWLAN codes.
inline constexpr std::int64_t kSecurityOpen = 0;
inline constexpr std::int64_t kSecurityWEP = 1;
inline constexpr std::int64_t kSecurityWPAPersonal = 2;
inline constexpr std::int64_t kSecurityWPAPersonalMixed = 3;  // WPA and WPA2 PSK
inline constexpr std::int64_t kSecurityWPA2Personal = 4;
inline constexpr std::int64_t kSecurityWPAEnterprise = 7;
inline constexpr std::int64_t kSecurityWPAEnterpriseMixed = 8;  // WPA and WPA2 802.1X
inline constexpr std::int64_t kSecurityWPA2Enterprise = 9;
inline constexpr std::int64_t kSecurityEnterprise = 10;
inline constexpr std::int64_t kSecurityWPA3Personal = 11;
inline constexpr std::int64_t kSecurityWPA3Enterprise = 12;
inline constexpr std::int64_t kSecurityWPA3Transition = 13;  // SAE and PSK
inline constexpr std::int64_t kSecurityOWE = 14;
inline constexpr std::int64_t kSecurityOWETransition = 15;  // the open side of an OWE pair
// The platform's value for a security it cannot tell ("Unknown").
inline constexpr std::int64_t kSecurityUnknown = std::numeric_limits<std::int64_t>::max();

struct ChannelPosition {
    std::int64_t number = 0;
    std::int64_t band = 0;
};

// The channel of a centre frequency in MHz: 2484 is 14; 2412-2472 give
// (f-2407)/5 in 2.4 GHz; 5 GHz gives (f-5000)/5; 5935 is channel 2 and the
// rest of 6 GHz gives (f-5950)/5. Nothing for a frequency in no band
// (60 GHz, 0, sub-GHz).
std::optional<ChannelPosition> channelForFrequency(std::uint32_t mhz);

// Width code of a width in MHz (20, 40, 80, 160, 320); 0 for any other.
std::int64_t widthCodeForMHz(std::uint32_t mhz);
// Width code of nl80211's enum nl80211_chan_width (80+80 counts as 160).
std::int64_t widthCodeForNl80211(std::uint32_t chanWidth);

// Interface mode of nl80211's iftype (2 station and 8 P2P client: station;
// 1 IBSS; 3 AP and 9 P2P GO: host AP; anything else: none).
std::int64_t interfaceModeForNl80211(std::uint32_t iftype);
// Of NetworkManager's NM80211Mode (1 ad-hoc, 2 infrastructure, 3 AP).
std::int64_t interfaceModeForNetworkManager(std::uint32_t mode);
// Of iwd's Device.Mode ("station", "ad-hoc", "ap").
std::int64_t interfaceModeForIwd(const std::string& mode);

// What nl80211 says about the transmit rate in use.
struct RateInfo {
    std::optional<std::uint32_t> bitrate100kbps;  // RATE_INFO_BITRATE32 or BITRATE
    std::optional<std::uint8_t> htMcs, vhtMcs, heMcs, ehtMcs;
    std::optional<std::uint8_t> vhtNss, heNss, ehtNss;
    // The MCS index in use, whichever generation carries it.
    std::optional<std::int64_t> mcs() const;
};

// PHY mode of the rate in use (it follows the last frame sent, so only where
// the association's cannot be read): EHT or HE: 802.11ax; VHT: ac; HT: n;
// otherwise 802.11a on 5 or 6 GHz, and on 2.4 GHz 802.11g when the rate is
// above 11 Mb/s, else b. 0 when nothing tells (no rate, unknown band).
std::int64_t phyModeFor(const RateInfo& rate, std::int64_t band);
// The 802.11 generations one side of a link offers on a band.
struct PhyCapabilities {
    bool ht = false, vht = false, he = false, eht = false;
};

// PHY mode of an association: the newest generation both the station and the
// access point offer (VHT counts on 5 GHz only); below HT 802.11a on 5 or
// 6 GHz, and on 2.4 GHz 802.11g when the access point offers OFDM rates
// (`ofdm`), else b. 0 for an unknown band.
std::int64_t phyModeForAssociation(const PhyCapabilities& station,
                                   const PhyCapabilities& accessPoint, std::int64_t band,
                                   bool ofdm);

// Of iwd's TxMode text ("802.11n", "802.11ac", "802.11ax", "802.11be"); 0 for
// any other.
std::int64_t phyModeForIwd(const std::string& txMode);

// The key management a network offers, from its RSN and WPA elements (or
// NetworkManager's flags), and its privacy capability bit.
struct SecurityTraits {
    bool rsn = false;  // an RSN element (WPA2/WPA3)
    bool wpa = false;  // a WPA element (WPA1)
    bool rsnPsk = false, rsnSae = false, rsnEap = false, rsnSuiteB = false, rsnOwe = false,
         oweTransition = false;
    bool wpaPsk = false, wpaEap = false;
    bool privacy = false;
};

// The security code: SAE with PSK 13, SAE 11, Suite-B 12, PSK in both
// elements 3, RSN PSK 4, WPA PSK 2, 802.1X in both 8, RSN 802.1X 9, WPA
// 802.1X 7, OWE 14, OWE transition 15; an RSN or WPA element with none of these: unknown
// (kSecurityUnknown); no element: WEP with the privacy bit, else open.
std::int64_t securityCode(const SecurityTraits& traits);

// NetworkManager's AccessPoint Flags, WpaFlags and RsnFlags.
SecurityTraits securityTraitsForNetworkManager(std::uint32_t flags, std::uint32_t wpaFlags,
                                               std::uint32_t rsnFlags);

// iwd: the diagnostics' "Security" text ("WPA2-Personal", "WPA3-Personal + FT",
// "WPA1-Enterprise", "OWE", ...) when given, else the network's Type ("open",
// "psk", "8021x", "wep"). Nothing when neither tells.
std::optional<std::int64_t> securityCodeForIwd(const std::optional<std::string>& diagnostic,
                                               const std::optional<std::string>& networkType);

}  // namespace ww::linuxwifi
