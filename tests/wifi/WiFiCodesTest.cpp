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
    for (const Row& r : std::initializer_list<Row>{{2412, 1, 1},
                                                   {2437, 6, 1},
                                                   {2472, 13, 1},
                                                   {2484, 14, 1},
                                                   {5180, 36, 2},
                                                   {5500, 100, 2},
                                                   {5825, 165, 2},
                                                   {5885, 177, 2},
                                                   {4920, 184, 2},
                                                   {5935, 2, 3},
                                                   {5955, 1, 3},
                                                   {6115, 33, 3},
                                                   {7115, 233, 3}}) {
        auto p = channelForFrequency(r.mhz);
        ASSERT_TRUE(p) << r.mhz;
        EXPECT_EQ(p->number, r.channel) << r.mhz;
        EXPECT_EQ(p->band, r.band) << r.mhz;
    }
    for (std::uint32_t outside : {0u, 900u, 2399u, 3000u, 5925u, 7200u, 58320u}) {
        EXPECT_FALSE(channelForFrequency(outside)) << outside;
    }
}

TEST(WiFiCodesTest, Widths) {
    EXPECT_EQ(widthCodeForMHz(20), 1);
    EXPECT_EQ(widthCodeForMHz(40), 2);
    EXPECT_EQ(widthCodeForMHz(80), 3);
    EXPECT_EQ(widthCodeForMHz(160), 4);
    EXPECT_EQ(widthCodeForMHz(320), 5);
    EXPECT_EQ(widthCodeForMHz(0), 0);
    EXPECT_EQ(widthCodeForMHz(10), 0);
    // enum nl80211_chan_width.
    EXPECT_EQ(widthCodeForNl80211(0), 1);  // 20 MHz without HT
    EXPECT_EQ(widthCodeForNl80211(1), 1);
    EXPECT_EQ(widthCodeForNl80211(2), 2);
    EXPECT_EQ(widthCodeForNl80211(3), 3);
    EXPECT_EQ(widthCodeForNl80211(4), 4);  // 80+80 counts as 160
    EXPECT_EQ(widthCodeForNl80211(5), 4);
    EXPECT_EQ(widthCodeForNl80211(6), 0);   // 5 MHz
    EXPECT_EQ(widthCodeForNl80211(13), 5);  // 320 MHz
    EXPECT_EQ(widthCodeForNl80211(99), 0);
}

TEST(WiFiCodesTest, InterfaceModes) {
    EXPECT_EQ(interfaceModeForNl80211(2), kModeStation);
    EXPECT_EQ(interfaceModeForNl80211(8), kModeStation);  // P2P client
    EXPECT_EQ(interfaceModeForNl80211(1), kModeIBSS);
    EXPECT_EQ(interfaceModeForNl80211(3), kModeHostAP);
    EXPECT_EQ(interfaceModeForNl80211(9), kModeHostAP);  // P2P GO
    EXPECT_EQ(interfaceModeForNl80211(6), kModeNone);    // monitor
    EXPECT_EQ(interfaceModeForNetworkManager(2), kModeStation);
    EXPECT_EQ(interfaceModeForNetworkManager(1), kModeIBSS);
    EXPECT_EQ(interfaceModeForNetworkManager(3), kModeHostAP);
    EXPECT_EQ(interfaceModeForNetworkManager(0), kModeNone);
    EXPECT_EQ(interfaceModeForNetworkManager(4), kModeNone);  // mesh
    EXPECT_EQ(interfaceModeForIwd("station"), kModeStation);
    EXPECT_EQ(interfaceModeForIwd("ad-hoc"), kModeIBSS);
    EXPECT_EQ(interfaceModeForIwd("ap"), kModeHostAP);
    EXPECT_EQ(interfaceModeForIwd(""), kModeNone);
}

TEST(WiFiCodesTest, PhyModesFromTheRateInUse) {
    RateInfo eht;
    eht.ehtMcs = 13;
    eht.heMcs = 11;  // never both in practice; EHT wins
    EXPECT_EQ(phyModeFor(eht, 3), kPhy11ax);
    EXPECT_EQ(eht.mcs(), 13);
    RateInfo he;
    he.heMcs = 11;
    EXPECT_EQ(phyModeFor(he, 3), kPhy11ax);
    RateInfo vht;
    vht.vhtMcs = 9;
    EXPECT_EQ(phyModeFor(vht, 2), kPhy11ac);
    EXPECT_EQ(vht.mcs(), 9);
    RateInfo ht;
    ht.htMcs = 15;
    EXPECT_EQ(phyModeFor(ht, 1), kPhy11n);
    EXPECT_EQ(ht.mcs(), 15);
    RateInfo legacy;
    legacy.bitrate100kbps = 540;
    EXPECT_EQ(phyModeFor(legacy, 2), kPhy11a);
    EXPECT_EQ(phyModeFor(legacy, 1), kPhy11g);
    EXPECT_EQ(legacy.mcs(), std::nullopt);
    legacy.bitrate100kbps = 110;
    EXPECT_EQ(phyModeFor(legacy, 1), kPhy11b);
    legacy.bitrate100kbps.reset();
    EXPECT_EQ(phyModeFor(legacy, 1), kPhyNone) << "no rate on 2.4 GHz tells nothing";
    EXPECT_EQ(phyModeFor(RateInfo{}, 0), kPhyNone);

    EXPECT_EQ(phyModeForIwd("802.11ax"), kPhy11ax);
    EXPECT_EQ(phyModeForIwd("802.11be"), kPhy11ax);
    EXPECT_EQ(phyModeForIwd("802.11ac"), kPhy11ac);
    EXPECT_EQ(phyModeForIwd("802.11n"), kPhy11n);
    EXPECT_EQ(phyModeForIwd("bogus"), kPhyNone);
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
    for (std::optional<std::string> diagnostic :
         {std::optional<std::string>(), std::optional<std::string>("WPA3-Personal"),
          std::optional<std::string>("WPA3-Personal + FT"),
          std::optional<std::string>("WPA2-Personal"), std::optional<std::string>("WPA1-Personal"),
          std::optional<std::string>("WPA2-Enterprise"),
          std::optional<std::string>("WPA1-Enterprise"),
          std::optional<std::string>("WPA3-Enterprise"), std::optional<std::string>("FILS-SHA256"),
          std::optional<std::string>("OWE"), std::optional<std::string>("OSEN")}) {
        for (const char* type : {"open", "wep", "psk", "8021x", "other"}) {
            if (auto code = securityCodeForIwd(diagnostic, std::string(type))) codes.insert(*code);
        }
    }
    codes.erase(kSecurityUnknown);  // the one code meant to read "Unknown"
    for (std::int64_t code : codes) {
        EXPECT_NE(WWUtils::stringForSecurityMode(code, 0), "Unknown") << "code " << code;
    }
}

TEST(WiFiCodesTest, SecurityFromIwd) {
    using O = std::optional<std::string>;
    EXPECT_EQ(securityCodeForIwd(O("WPA3-Personal"), O("psk")), kSecurityWPA3Personal);
    EXPECT_EQ(securityCodeForIwd(O("WPA3-Personal + FT"), O("psk")), kSecurityWPA3Personal);
    EXPECT_EQ(securityCodeForIwd(O("WPA2-Personal"), O("psk")), kSecurityWPA2Personal);
    EXPECT_EQ(securityCodeForIwd(O("WPA1-Personal"), O("psk")), kSecurityWPAPersonal);
    EXPECT_EQ(securityCodeForIwd(O("WPA2-Enterprise + FT"), O("8021x")), kSecurityWPA2Enterprise);
    EXPECT_EQ(securityCodeForIwd(O("OWE"), O("open")), kSecurityOWE);
    // Without diagnostics (or with a word it does not know) the network's type.
    EXPECT_EQ(securityCodeForIwd(std::nullopt, O("psk")), kSecurityWPA2Personal);
    EXPECT_EQ(securityCodeForIwd(O("OSEN"), O("8021x")), kSecurityWPA2Enterprise);
    EXPECT_EQ(securityCodeForIwd(std::nullopt, O("open")), kSecurityOpen);
    EXPECT_EQ(securityCodeForIwd(std::nullopt, O("wep")), kSecurityWEP);
    EXPECT_EQ(securityCodeForIwd(std::nullopt, std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace ww::linuxwifi
