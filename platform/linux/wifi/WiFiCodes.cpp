#include "platform/linux/wifi/WiFiCodes.h"

namespace ww::linuxwifi {

std::optional<ChannelPosition> channelForFrequency(std::uint32_t mhz) {
    const std::int64_t f = mhz;
    if (f >= 2400 && f < 2500) return ChannelPosition{f == 2484 ? 14 : (f - 2407) / 5, 1};
    // The 4.9 GHz public-safety and Japanese channels count from 4000 MHz.
    if (f >= 4910 && f <= 4980) return ChannelPosition{(f - 4000) / 5, 2};
    if (f >= 5000 && f < 5925) return ChannelPosition{(f - 5000) / 5, 2};
    if (f == 5935) return ChannelPosition{2, 3};
    if (f >= 5950 && f <= 7125) return ChannelPosition{(f - 5950) / 5, 3};
    return std::nullopt;
}

std::int64_t widthCodeForMHz(std::uint32_t mhz) {
    switch (mhz) {
        case 20:
            return 1;
        case 40:
            return 2;
        case 80:
            return 3;
        case 160:
            return 4;
        case 320:
            return 5;
        default:
            return 0;
    }
}

std::int64_t widthCodeForNl80211(std::uint32_t chanWidth) {
    // enum nl80211_chan_width: 20_NOHT 0, 20 1, 40 2, 80 3, 80P80 4, 160 5,
    // 5/10/1/2/4/8/16 MHz 6..12, 320 13.
    switch (chanWidth) {
        case 0:
        case 1:
            return 1;
        case 2:
            return 2;
        case 3:
            return 3;
        case 4:
        case 5:
            return 4;
        case 13:
            return 5;
        default:
            return 0;
    }
}

std::int64_t interfaceModeForNl80211(std::uint32_t iftype) {
    switch (iftype) {
        case 2:  // station
        case 8:  // P2P client
            return kModeStation;
        case 1:  // IBSS
            return kModeIBSS;
        case 3:  // AP
        case 9:  // P2P GO
            return kModeHostAP;
        default:
            return kModeNone;
    }
}

std::int64_t interfaceModeForNetworkManager(std::uint32_t mode) {
    switch (mode) {
        case 1:
            return kModeIBSS;
        case 2:
            return kModeStation;
        case 3:
            return kModeHostAP;
        default:
            return kModeNone;
    }
}

std::int64_t interfaceModeForIwd(const std::string& mode) {
    if (mode == "station") return kModeStation;
    if (mode == "ad-hoc") return kModeIBSS;
    if (mode == "ap") return kModeHostAP;
    return kModeNone;
}

std::optional<std::int64_t> RateInfo::mcs() const {
    for (const auto& m : {ehtMcs, heMcs, vhtMcs, htMcs}) {
        if (m) return *m;
    }
    return std::nullopt;
}

std::int64_t phyModeFor(const RateInfo& rate, std::int64_t band) {
    if (rate.ehtMcs || rate.heMcs) return kPhy11ax;
    if (rate.vhtMcs) return kPhy11ac;
    if (rate.htMcs) return kPhy11n;
    if (band == 2 || band == 3) return kPhy11a;
    if (band == 1 && rate.bitrate100kbps) return *rate.bitrate100kbps > 110 ? kPhy11g : kPhy11b;
    return kPhyNone;
}

std::int64_t phyModeForAssociation(const PhyCapabilities& station,
                                   const PhyCapabilities& accessPoint, std::int64_t band,
                                   bool ofdm) {
    if (band < 1 || band > 3) return kPhyNone;
    if ((station.eht && accessPoint.eht) || (station.he && accessPoint.he)) return kPhy11ax;
    if (band == 2 && station.vht && accessPoint.vht) return kPhy11ac;
    if (station.ht && accessPoint.ht) return kPhy11n;
    if (band != 1) return kPhy11a;
    return ofdm ? kPhy11g : kPhy11b;
}

std::int64_t phyModeForIwd(const std::string& txMode) {
    if (txMode == "802.11be" || txMode == "802.11ax") return kPhy11ax;
    if (txMode == "802.11ac") return kPhy11ac;
    if (txMode == "802.11n") return kPhy11n;
    return kPhyNone;
}

std::int64_t securityCode(const SecurityTraits& t) {
    if (t.rsn || t.wpa) {
        if (t.rsnSae && t.rsnPsk) return kSecurityWPA3Transition;
        if (t.rsnSae) return kSecurityWPA3Personal;
        if (t.rsnSuiteB) return kSecurityWPA3Enterprise;
        if (t.rsnPsk && t.wpaPsk) return kSecurityWPAPersonalMixed;
        if (t.rsnPsk) return kSecurityWPA2Personal;
        if (t.wpaPsk) return kSecurityWPAPersonal;
        if (t.rsnEap && t.wpaEap) return kSecurityWPAEnterpriseMixed;
        if (t.rsnEap) return kSecurityWPA2Enterprise;
        if (t.wpaEap) return kSecurityWPAEnterprise;
        if (t.rsnOwe) return kSecurityOWE;
        if (t.oweTransition) return kSecurityOWETransition;
        return kSecurityUnknown;
    }
    return t.privacy ? kSecurityWEP : kSecurityOpen;
}

SecurityTraits securityTraitsForNetworkManager(std::uint32_t flags, std::uint32_t wpaFlags,
                                               std::uint32_t rsnFlags) {
    // NM80211ApSecurityFlags: pairwise/group ciphers in the low byte, then
    // 0x100 PSK, 0x200 802.1X, 0x400 SAE, 0x800 OWE, 0x1000 OWE transition,
    // 0x2000 EAP Suite-B 192.
    SecurityTraits t;
    t.privacy = (flags & 0x1) != 0;
    t.rsn = rsnFlags != 0;
    t.wpa = wpaFlags != 0;
    t.rsnPsk = (rsnFlags & 0x100) != 0;
    t.rsnEap = (rsnFlags & 0x200) != 0;
    t.rsnSae = (rsnFlags & 0x400) != 0;
    t.rsnOwe = (rsnFlags & 0x800) != 0;
    t.oweTransition = (rsnFlags & 0x1000) != 0;
    t.rsnSuiteB = (rsnFlags & 0x2000) != 0;
    t.wpaPsk = (wpaFlags & 0x100) != 0;
    t.wpaEap = (wpaFlags & 0x200) != 0;
    return t;
}

std::optional<std::int64_t> securityCodeForIwd(const std::optional<std::string>& diagnostic,
                                               const std::optional<std::string>& networkType) {
    if (diagnostic) {
        // iwd names the key management of the connection it made, with
        // " + FT" for fast transition.
        const std::string& s = *diagnostic;
        auto is = [&](const char* prefix) { return s.rfind(prefix, 0) == 0; };
        if (is("WPA3-Personal")) return kSecurityWPA3Personal;
        if (is("WPA3-Enterprise")) return kSecurityWPA3Enterprise;
        if (is("WPA2-Personal")) return kSecurityWPA2Personal;
        if (is("WPA1-Personal")) return kSecurityWPAPersonal;
        if (is("WPA2-Enterprise")) return kSecurityWPA2Enterprise;
        if (is("WPA1-Enterprise")) return kSecurityWPAEnterprise;
        if (is("FILS")) return kSecurityEnterprise;
        if (is("OWE")) return kSecurityOWE;
    }
    if (networkType) {
        if (*networkType == "open") return kSecurityOpen;
        if (*networkType == "wep") return kSecurityWEP;
        if (*networkType == "psk") return kSecurityWPA2Personal;
        if (*networkType == "8021x") return kSecurityWPA2Enterprise;
    }
    return std::nullopt;
}

}  // namespace ww::linuxwifi
