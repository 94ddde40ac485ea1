// The platform codes made from what Linux reports: channels of frequencies,
// widths, modes, PHY modes and security.

#include <gtest/gtest.h>

#include <set>

#include "menu/WiFiValueNames.h"
#include "platform/linux/wifi/WiFiCodes.h"

namespace ww::linuxwifi {
namespace {

TEST(WiFiCodesTest, ChannelsOfFrequencies) {
    struct Row {
        std::uint32_t mhz;
        std::int64_t channel, band;
    };
    // clang-format off
    for (const Row& r : std::initializer_list<Row>{
             {2412, 1, 1}, {2437, 6, 1}, {2472, 13, 1}, {2484, 14, 1}, {5180, 36, 2},
             {5500, 100, 2}, {5825, 165, 2}, {5885, 177, 2}, {4920, 184, 2}, {5935, 2, 3},
             {5955, 1, 3}, {6115, 33, 3}, {7115, 233, 3}}) {
        // clang-format on
        auto p = channelForFrequency(r.mhz);
        ASSERT_TRUE(p) << r.mhz;
        EXPECT_EQ(std::pair(p->number, p->band), std::pair(r.channel, r.band)) << r.mhz;
    }
    for (std::uint32_t outside : {0u, 900u, 2399u, 3000u, 5925u, 7200u, 58320u}) {
        EXPECT_FALSE(channelForFrequency(outside)) << outside;
    }
}

// The tables' edges: an unknown value is the absent code, never a neighbour's.
TEST(WiFiCodesTest, WidthsAndModes) {
    for (auto [mhz, code] :
         {std::pair{20u, 1}, {40u, 2}, {80u, 3}, {160u, 4}, {320u, 5}, {0u, 0}, {10u, 0}}) {
        EXPECT_EQ(widthCodeForMHz(mhz), code) << mhz;
    }
    // enum nl80211_chan_width: 20 MHz without HT, 80+80 as 160, 5 MHz unknown.
    for (auto [width, code] : {std::pair{0u, 1}, {1u, 1}, {3u, 3}, {4u, 4}, {6u, 0}, {99u, 0}}) {
        EXPECT_EQ(widthCodeForNl80211(width), code) << width;
    }
    // clang-format off
    // enum nl80211_iftype: P2P client and GO, monitor.
    for (auto [type, mode] : {std::pair{2u, kModeStation}, {8u, kModeStation}, {1u, kModeIBSS},
                              {3u, kModeHostAP}, {9u, kModeHostAP}, {6u, kModeNone}}) {
        EXPECT_EQ(interfaceModeForNl80211(type), mode) << type;
    }
    // NM80211Mode: mesh is none of ours.
    for (auto [nm, mode] : {std::pair{2u, kModeStation}, {1u, kModeIBSS}, {3u, kModeHostAP},
                            {0u, kModeNone}, {4u, kModeNone}}) {
        EXPECT_EQ(interfaceModeForNetworkManager(nm), mode) << nm;
    }
    for (auto [iwd, mode] : {std::pair{"station", kModeStation}, {"ad-hoc", kModeIBSS},
                             {"ap", kModeHostAP}, {"", kModeNone}}) {
        EXPECT_EQ(interfaceModeForIwd(iwd), mode) << iwd;
    }
    // clang-format on
}

// Each generation's rate nest is in the nl80211 station table; here what no
// nest shows.
TEST(WiFiCodesTest, PhyModes) {
    RateInfo eht;
    eht.ehtMcs = 13;
    eht.heMcs = 11;  // never both in practice; EHT wins
    EXPECT_EQ(phyModeFor(eht, 3), kPhy11ax);
    EXPECT_EQ(eht.mcs(), 13);
    EXPECT_EQ(phyModeFor(RateInfo{}, 1), kPhyNone) << "no rate on 2.4 GHz tells nothing";
    EXPECT_EQ(phyModeFor(RateInfo{}, 0), kPhyNone);
    // clang-format off
    for (auto [mode, phy] : {std::pair{"802.11ax", kPhy11ax}, {"802.11be", kPhy11ax},
                             {"802.11ac", kPhy11ac}, {"802.11n", kPhy11n}, {"bogus", kPhyNone}}) {
        // clang-format on
        EXPECT_EQ(phyModeForIwd(mode), phy) << mode;
    }
}

TEST(WiFiCodesTest, SecurityFromNetworkManagerFlags) {
    struct Row {
        std::uint32_t flags, wpa, rsn;
        std::int64_t code;
        const char* what;
    };
    for (const Row& r : std::initializer_list<Row>{
             {0, 0, 0, kSecurityOpen, "open"},
             {1, 0, 0, kSecurityWEP, "privacy bit alone"},
             {1, 0x100 | 0x4, 0, kSecurityWPAPersonal, "WPA PSK"},
             {1, 0x100, 0x100 | 0x8, kSecurityWPAPersonalMixed, "WPA and WPA2 PSK"},
             {1, 0, 0x100 | 0x8 | 0x80, kSecurityWPA2Personal, "WPA2 PSK"},
             {1, 0, 0x400 | 0x8, kSecurityWPA3Personal, "SAE"},
             {1, 0, 0x500 | 0x8, kSecurityWPA3Transition, "SAE and PSK"},
             {1, 0x200, 0, kSecurityWPAEnterprise, "WPA 802.1X"},
             {1, 0x200, 0x200, kSecurityWPAEnterpriseMixed, "WPA and WPA2 802.1X"},
             {1, 0, 0x200, kSecurityWPA2Enterprise, "WPA2 802.1X"},
             {1, 0, 0x2000, kSecurityWPA3Enterprise, "Suite-B 192"},
             {0, 0, 0x800, kSecurityOWE, "OWE"},
             {0, 0, 0x1800, kSecurityOWE, "OWE, also a transition pair"},
             {0, 0, 0x1000, kSecurityOWETransition, "the open side of an OWE transition pair"},
             {1, 0, 0x8, kSecurityUnknown, "RSN with no known key management"},
         }) {
        EXPECT_EQ(securityCode(securityTraitsForNetworkManager(r.flags, r.wpa, r.rsn)), r.code)
            << r.what;
    }
}

// Every code a backend can produce has a name in the menu's table: the element
// parser's and NetworkManager's traits in every combination, NetworkManager's
// key-management flags in every combination, and iwd's texts.
TEST(WiFiCodesTest, EverySecurityCodeABackendProducesHasAName) {
    std::set<std::int64_t> codes;
    for (unsigned bits = 0; bits < (1u << 11); ++bits) {
        SecurityTraits t;
        bool* fields[] = {&t.rsn,    &t.wpa,       &t.rsnPsk,       &t.rsnSae,
                          &t.rsnEap, &t.rsnSuiteB, &t.rsnOwe,       &t.wpaPsk,
                          &t.wpaEap, &t.privacy,   &t.oweTransition};
        for (unsigned k = 0; k < 11; ++k) *fields[k] = (bits >> k) & 1;
        codes.insert(securityCode(t));
    }
    for (std::uint32_t rsn = 0; rsn < 0x4000; rsn += 0x100) {
        for (std::uint32_t wpa : {0x0u, 0x100u, 0x200u, 0x300u}) {
            for (std::uint32_t flags : {0u, 1u}) {
                codes.insert(securityCode(securityTraitsForNetworkManager(flags, wpa, rsn | 0x8)));
                codes.insert(securityCode(securityTraitsForNetworkManager(flags, wpa, rsn)));
            }
        }
    }
    for (const char* diagnostic :
         {static_cast<const char*>(nullptr), "WPA3-Personal", "WPA3-Personal + FT", "WPA2-Personal",
          "WPA1-Personal", "WPA2-Enterprise", "WPA1-Enterprise", "WPA3-Enterprise", "FILS-SHA256",
          "OWE", "OSEN"}) {
        for (const char* type : {"open", "wep", "psk", "8021x", "other"}) {
            auto code = securityCodeForIwd(
                diagnostic ? std::optional<std::string>(diagnostic) : std::nullopt,
                std::string(type));
            if (code) codes.insert(*code);
        }
    }
    codes.erase(kSecurityUnknown);  // the one code meant to read "Unknown"
    for (std::int64_t code : codes) {
        EXPECT_NE(WWUtils::stringForSecurityMode(code, 0), "Unknown") << "code " << code;
    }
}

TEST(WiFiCodesTest, SecurityFromIwd) {
    using O = std::optional<std::string>;
    struct Row {
        O diagnostic, type;
        std::optional<std::int64_t> code;
    };
    // Without diagnostics (or with a word it does not know) the network's type.
    // clang-format off
    for (const Row& r : std::initializer_list<Row>{
             {"WPA3-Personal", "psk", kSecurityWPA3Personal},
             {"WPA3-Personal + FT", "psk", kSecurityWPA3Personal},
             {"WPA2-Personal", "psk", kSecurityWPA2Personal},
             {"WPA1-Personal", "psk", kSecurityWPAPersonal},
             {"WPA2-Enterprise + FT", "8021x", kSecurityWPA2Enterprise},
             {"OWE", "open", kSecurityOWE}, {"OSEN", "8021x", kSecurityWPA2Enterprise},
             {std::nullopt, "psk", kSecurityWPA2Personal},
             {std::nullopt, "open", kSecurityOpen}, {std::nullopt, "wep", kSecurityWEP},
             {std::nullopt, std::nullopt, std::nullopt}}) {
        // clang-format on
        EXPECT_EQ(securityCodeForIwd(r.diagnostic, r.type), r.code) << r.diagnostic.value_or("-");
    }
}

}  // namespace
}  // namespace ww::linuxwifi
