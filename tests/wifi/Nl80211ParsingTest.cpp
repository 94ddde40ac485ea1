// The nl80211 reader's parsers, fed messages built with libnl's own calls
// (genlmsg_put, nla_put, nla_nest_start) as the kernel would send them, the
// link values made from what they give, and the request exchange against
// this kernel's generic netlink controller.

#include <gtest/gtest.h>
#include <linux/genetlink.h>
#include <linux/nl80211.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>

#include <memory>

#include "platform/linux/wifi/Nl80211.h"
#include "tests/wifi/WiFiTestSupport.h"

namespace ww::linuxwifi {
namespace {

using test::Bytes;
using test::concat;
using test::rsnElement;
using test::ssidElement;

struct MsgFree {
    void operator()(nl_msg* m) const { nlmsg_free(m); }
};
using Msg = std::unique_ptr<nl_msg, MsgFree>;

constexpr int kFamily = 0x1c;  // any number: the parsers do not look at it
const std::uint8_t kMac[6] = {0x4c, 0x43, 0x41, 0x04, 0x1c, 0xbc};

Msg message(std::uint8_t command, std::uint32_t ifindex = 3) {
    Msg m(nlmsg_alloc());
    genlmsg_put(m.get(), 0, 0, kFamily, 0, 0, command, 0);
    nla_put_u32(m.get(), NL80211_ATTR_IFINDEX, ifindex);
    return m;
}

Msg interfaceMessage(std::uint32_t iftype, std::optional<std::uint32_t> frequency,
                     std::optional<std::uint32_t> width, const char* ssid = nullptr) {
    Msg m = message(NL80211_CMD_NEW_INTERFACE);
    nla_put_string(m.get(), NL80211_ATTR_IFNAME, "wlan0");
    nla_put_u32(m.get(), NL80211_ATTR_IFTYPE, iftype);
    if (frequency) nla_put_u32(m.get(), NL80211_ATTR_WIPHY_FREQ, *frequency);
    if (width) nla_put_u32(m.get(), NL80211_ATTR_CHANNEL_WIDTH, *width);
    if (ssid) nla_put(m.get(), NL80211_ATTR_SSID, static_cast<int>(strlen(ssid)), ssid);
    return m;
}

// A rate nest: bitrate in 100 kbit/s (32-bit form unless `legacy16`) and
// MCS attributes as pairs of (attribute, value).
struct RateSpec {
    std::optional<std::uint32_t> bitrate;
    bool legacy16 = false;
    std::vector<std::pair<int, std::uint8_t>> u8s;
};

Msg stationMessage(std::optional<std::int8_t> signal, const RateSpec& rate) {
    Msg m = message(NL80211_CMD_NEW_STATION);
    nla_put(m.get(), NL80211_ATTR_MAC, 6, kMac);
    nlattr* info = nla_nest_start(m.get(), NL80211_ATTR_STA_INFO);
    if (signal) nla_put_u8(m.get(), NL80211_STA_INFO_SIGNAL, static_cast<std::uint8_t>(*signal));
    nlattr* tx = nla_nest_start(m.get(), NL80211_STA_INFO_TX_BITRATE);
    if (rate.bitrate) {
        if (rate.legacy16) {
            nla_put_u16(m.get(), NL80211_RATE_INFO_BITRATE,
                        static_cast<std::uint16_t>(*rate.bitrate));
        } else {
            nla_put_u32(m.get(), NL80211_RATE_INFO_BITRATE32, *rate.bitrate);
        }
    }
    for (auto [attribute, value] : rate.u8s) nla_put_u8(m.get(), attribute, value);
    nla_nest_end(m.get(), tx);
    nla_nest_end(m.get(), info);
    return m;
}

Msg bssMessage(std::optional<std::uint32_t> status, std::uint32_t frequency,
               std::uint16_t capability, const Bytes& ies,
               int iesAttribute = NL80211_BSS_INFORMATION_ELEMENTS) {
    Msg m = message(NL80211_CMD_NEW_SCAN_RESULTS);
    nlattr* bss = nla_nest_start(m.get(), NL80211_ATTR_BSS);
    nla_put(m.get(), NL80211_BSS_BSSID, 6, kMac);
    nla_put_u32(m.get(), NL80211_BSS_FREQUENCY, frequency);
    nla_put_u16(m.get(), NL80211_BSS_CAPABILITY, capability);
    nla_put(m.get(), iesAttribute, static_cast<int>(ies.size()), ies.data());
    if (status) nla_put_u32(m.get(), NL80211_BSS_STATUS, *status);
    nla_nest_end(m.get(), bss);
    return m;
}

Msg surveyMessage(std::uint32_t frequency, std::optional<std::int8_t> noise, bool inUse) {
    Msg m = message(NL80211_CMD_NEW_SURVEY_RESULTS);
    nlattr* s = nla_nest_start(m.get(), NL80211_ATTR_SURVEY_INFO);
    nla_put_u32(m.get(), NL80211_SURVEY_INFO_FREQUENCY, frequency);
    if (noise) nla_put_u8(m.get(), NL80211_SURVEY_INFO_NOISE, static_cast<std::uint8_t>(*noise));
    if (inUse) nla_put_flag(m.get(), NL80211_SURVEY_INFO_IN_USE);
    nla_nest_end(m.get(), s);
    return m;
}

// One band of a radio: HT and VHT capabilities, and HE/EHT per interface
// type (each entry: its types, HE, EHT).
struct IftypeData {
    std::vector<int> iftypes;
    bool he, eht = false;
};
struct BandSpec {
    int band;
    bool ht = false, vht = false;
    std::vector<IftypeData> iftypeData = {};
};

Msg wiphyMessage(const std::vector<BandSpec>& bands) {
    Msg m(nlmsg_alloc());
    genlmsg_put(m.get(), 0, 0, kFamily, 0, 0, NL80211_CMD_NEW_WIPHY, 0);
    nla_put_u32(m.get(), NL80211_ATTR_WIPHY, 0);
    nlattr* all = nla_nest_start(m.get(), NL80211_ATTR_WIPHY_BANDS);
    const std::uint8_t phy[11] = {};
    for (const BandSpec& b : bands) {
        nlattr* band = nla_nest_start(m.get(), b.band);
        if (b.ht) nla_put_u16(m.get(), NL80211_BAND_ATTR_HT_CAPA, 0x01ef);
        if (b.vht) nla_put_u32(m.get(), NL80211_BAND_ATTR_VHT_CAPA, 0x03807120);
        if (!b.iftypeData.empty()) {
            nlattr* data = nla_nest_start(m.get(), NL80211_BAND_ATTR_IFTYPE_DATA);
            int i = 1;
            for (const IftypeData& d : b.iftypeData) {
                nlattr* entry = nla_nest_start(m.get(), i++);
                nlattr* types = nla_nest_start(m.get(), NL80211_BAND_IFTYPE_ATTR_IFTYPES);
                for (int t : d.iftypes) nla_put_flag(m.get(), t);
                nla_nest_end(m.get(), types);
                if (d.he) nla_put(m.get(), NL80211_BAND_IFTYPE_ATTR_HE_CAP_PHY, 11, phy);
                if (d.eht) nla_put(m.get(), NL80211_BAND_IFTYPE_ATTR_EHT_CAP_PHY, 9, phy);
                nla_nest_end(m.get(), entry);
            }
            nla_nest_end(m.get(), data);
        }
        nla_nest_end(m.get(), band);
    }
    nla_nest_end(m.get(), all);
    return m;
}

// The rate nest of each generation (the HE and EHT ones hwsim never sends).
TEST(Nl80211ParsingTest, StationRates) {
    struct Row {
        RateSpec rate;
        std::int64_t band;
        double mbps;
        std::optional<std::int64_t> mcs;
        std::int64_t phy;
    };
    // clang-format off
    const std::vector<Row> rows = {
        {{3000, false, {{NL80211_RATE_INFO_MCS, 15}}}, 1, 300, 15, kPhy11n},
        {{8667, false, {{NL80211_RATE_INFO_VHT_MCS, 9}, {NL80211_RATE_INFO_VHT_NSS, 2}}}, 2, 866.7, 9, kPhy11ac},
        {{12010, false, {{NL80211_RATE_INFO_HE_MCS, 11}, {NL80211_RATE_INFO_HE_NSS, 2}}}, 3, 1201, 11, kPhy11ax},
        {{28820, false, {{NL80211_RATE_INFO_EHT_MCS, 13}, {NL80211_RATE_INFO_EHT_NSS, 2}}}, 3, 2882, 13, kPhy11ax},
        {{540, false, {}}, 2, 54, std::nullopt, kPhy11a},            // OFDM on 5 GHz
        {{540, true, {}}, 1, 54, std::nullopt, kPhy11g},             // 2.4 GHz, 16-bit rate
        {{110, false, {}}, 1, 11, std::nullopt, kPhy11b},            // CCK
        {{std::nullopt, false, {}}, 2, 0, std::nullopt, kPhy11a},    // no rate
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mbps);
        auto s = parseStationMessage(nlmsg_hdr(stationMessage(-52, r.rate).get()));
        ASSERT_TRUE(s);
        EXPECT_EQ(s->mac, std::optional<std::string>("4c:43:41:04:1c:bc"));
        EXPECT_EQ(s->tx.mcs(), r.mcs);
        EXPECT_EQ(phyModeFor(s->tx, r.band), r.phy);
        Nl80211Snapshot snap;
        snap.station = s;
        EXPECT_DOUBLE_EQ(linkFromNl80211(snap).transmitRate, r.mbps);
        EXPECT_EQ(linkFromNl80211(snap).rssi, -52);
    }
}

TEST(Nl80211ParsingTest, ScanEntriesAndSurvey) {
    Bytes ies = concat({ssidElement("Flowers By Irene"), rsnElement({2, 8})});
    // Authenticated only is not associated; an IBSS joined counts; another
    // network of the scan has no status.
    for (auto [status, associated] :
         std::initializer_list<std::pair<std::optional<unsigned>, bool>>{
             {NL80211_BSS_STATUS_ASSOCIATED, true},
             {NL80211_BSS_STATUS_IBSS_JOINED, true},
             {NL80211_BSS_STATUS_AUTHENTICATED, false},
             {std::nullopt, false}}) {
        auto b = parseBssMessage(nlmsg_hdr(bssMessage(status, 5180, 0x0011, ies).get()));
        ASSERT_TRUE(b);
        EXPECT_EQ(b->associated(), associated) << status.value_or(99);
        EXPECT_EQ(b->frequency, 5180u);
    }
    // The beacon's elements stand in for a missing probe response.
    auto b = parseBssMessage(nlmsg_hdr(
        bssMessage(NL80211_BSS_STATUS_ASSOCIATED, 2412, 0, ies, NL80211_BSS_BEACON_IES).get()));
    EXPECT_EQ(b->elements.ssid, std::optional<std::string>("Flowers By Irene"));
    EXPECT_EQ(securityCode(securityTraits(b->elements, true)), kSecurityWPA3Transition);

    auto s = parseSurveyMessage(nlmsg_hdr(surveyMessage(5200, std::nullopt, false).get()));
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->inUse);
    EXPECT_FALSE(s->noise) << "many drivers give no noise";
}

TEST(Nl80211ParsingTest, MessagesOfAnotherKindOrMalformed) {
    // Each parser wants its own attribute.
    Msg survey = surveyMessage(5180, -92, true);
    EXPECT_FALSE(parseStationMessage(nlmsg_hdr(survey.get())));
    EXPECT_FALSE(parseBssMessage(nlmsg_hdr(survey.get())));
    Msg station = stationMessage(-50, {});
    EXPECT_FALSE(parseSurveyMessage(nlmsg_hdr(station.get())));
    EXPECT_TRUE(parseInterfaceMessage(nlmsg_hdr(station.get())))
        << "every reply names its interface";
    Msg bare(nlmsg_alloc());
    genlmsg_put(bare.get(), 0, 0, kFamily, 0, 0, NL80211_CMD_NEW_INTERFACE, 0);
    EXPECT_FALSE(parseInterfaceMessage(nlmsg_hdr(bare.get()))) << "no interface index";

    // Attributes shorter than their type are refused, not read past.
    auto cutInNest = [](std::uint8_t command, int nest, int attribute, int length) {
        Msg m = message(command);
        nlattr* n = nla_nest_start(m.get(), nest);
        nla_put(m.get(), attribute, length, kMac);
        nla_nest_end(m.get(), n);
        return m;
    };
    EXPECT_FALSE(parseStationMessage(nlmsg_hdr(
        cutInNest(NL80211_CMD_NEW_STATION, NL80211_ATTR_STA_INFO, NL80211_STA_INFO_SIGNAL, 0)
            .get())));
    EXPECT_FALSE(parseBssMessage(nlmsg_hdr(
        cutInNest(NL80211_CMD_NEW_SCAN_RESULTS, NL80211_ATTR_BSS, NL80211_BSS_BSSID, 5).get())));
    Msg shortFrequency = message(NL80211_CMD_NEW_INTERFACE);
    nla_put_u16(shortFrequency.get(), NL80211_ATTR_WIPHY_FREQ, 5180);
    EXPECT_FALSE(parseInterfaceMessage(nlmsg_hdr(shortFrequency.get())));

    // A message too short for its generic header.
    nlmsghdr tiny{};
    tiny.nlmsg_len = NLMSG_HDRLEN;
    EXPECT_FALSE(parseInterfaceMessage(&tiny));
    EXPECT_FALSE(parseInterfaceMessage(nullptr));

    // Malformed elements in a scan entry: the entry parses, the security
    // is unknown rather than made up.
    Bytes cut = {48, 20, 0x01, 0x00};
    auto b = parseBssMessage(
        nlmsg_hdr(bssMessage(NL80211_BSS_STATUS_ASSOCIATED, 5180, 0x11, cut).get()));
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->elements.malformed);
    EXPECT_EQ(securityCode(securityTraits(b->elements, true)), kSecurityWEP)
        << "an element that runs past the data is not read at all";
}

// A 6 GHz HE link at 160 MHz, then what stands in for what is missing.
TEST(Nl80211ParsingTest, AWholeLink) {
    Nl80211Snapshot snap;
    snap.interface = parseInterfaceMessage(nlmsg_hdr(interfaceMessage(2, 5955, 5).get()));
    snap.station = parseStationMessage(
        nlmsg_hdr(stationMessage(-48, {24019, false, {{NL80211_RATE_INFO_HE_MCS, 11}}}).get()));
    snap.bss = parseBssMessage(nlmsg_hdr(bssMessage(NL80211_BSS_STATUS_ASSOCIATED, 5955, 0x0011,
                                                    concat({ssidElement("Six"), rsnElement({8})}))
                                             .get()));
    snap.survey = parseSurveyMessage(nlmsg_hdr(surveyMessage(5955, -95, true).get()));
    WiFiLink link = linkFromNl80211(snap);
    EXPECT_EQ(link.ssid, std::optional<std::string>("Six"));
    EXPECT_EQ(link.bssid, std::optional<std::string>("4c:43:41:04:1c:bc"));
    EXPECT_EQ(link.security, kSecurityWPA3Personal);
    EXPECT_EQ(link.interfaceMode, kModeStation);
    ASSERT_TRUE(link.channel);
    EXPECT_EQ(std::vector<std::int64_t>({link.channel->channelNumber, link.channel->channelBand,
                                         link.channel->channelWidth}),
              std::vector<std::int64_t>({1, 3, 4}));
    EXPECT_EQ(link.noise, -95);
    EXPECT_DOUBLE_EQ(link.transmitRate, 2401.9);
    EXPECT_EQ(link.mcs, 11);
    EXPECT_EQ(link.phyMode, kPhy11ax);
    EXPECT_FALSE(link.power) << "power comes from rfkill or the daemon";

    // The interface's own SSID wins over the scan entry's; without the
    // interface's frequency the BSS's gives the channel (width unknown).
    snap.interface = parseInterfaceMessage(
        nlmsg_hdr(interfaceMessage(2, std::nullopt, std::nullopt, "Own").get()));
    link = linkFromNl80211(snap);
    EXPECT_EQ(link.ssid, std::optional<std::string>("Own"));
    ASSERT_TRUE(link.channel);
    EXPECT_EQ(link.channel->channelNumber, 1);
    EXPECT_EQ(link.channel->channelWidth, 0);

    // Nothing read: the absent object's values.
    link = linkFromNl80211(Nl80211Snapshot{});
    EXPECT_FALSE(link.interfaceMode || link.security || link.ssid || link.channel || link.rssi ||
                 link.noise || link.transmitRate || link.mcs);
}

// The PHY mode is the association's: what the radio and the access point
// both offer, whatever rate the last frame went out at. (The lab's radios
// show HT on 2.4 GHz and VHT on 5 GHz; these are the rest.)
TEST(Nl80211ParsingTest, PhyModeOfTheAssociation) {
    const Bytes cck = {1, 4, 0x82, 0x84, 0x8b, 0x96};  // 1, 2, 5.5, 11 Mb/s
    const Bytes ofdm = {1, 8, 0x82, 0x84, 0x8b, 0x96, 0x0c, 0x12, 0x18, 0x24};
    Bytes ht = {45, 26, 0xef, 0x01}, vht = {191, 12, 0x20, 0x71, 0x80, 0x03};
    ht.resize(28, 0);  // padded to their lengths
    vht.resize(14, 0);
    const Bytes he = {255, 3, 35, 0x00, 0x00}, eht = {255, 3, 108, 0x00, 0x00};
    const Bytes htAp = concat({ofdm, ht}), vhtAp = concat({ofdm, ht, vht}),
                heAp = concat({vhtAp, he});
    const int sta = NL80211_IFTYPE_STATION, ap = NL80211_IFTYPE_AP;
    using Radio = std::vector<BandSpec>;
    const RateSpec cck11 = {110, false, {}}, htRate = {1300, false, {{NL80211_RATE_INFO_MCS, 7}}};
    struct Row {
        std::uint32_t frequency;
        std::optional<Radio> radio;  // nothing: GET_WIPHY not read
        Bytes elements;
        RateSpec rate;
        std::int64_t phy;
        const char* what;
    };
    // clang-format off
    const std::vector<Row> rows = {
        {2437, Radio{{0, false}}, htAp, htRate, kPhy11n, "a radio read as legacy cannot outvote an HT frame"},
        {2437, Radio{{0, false}}, htAp, cck11, kPhy11g, "legacy radio, HT access point"},
        {2412, Radio{{0, true}}, cck, cck11, kPhy11b, "802.11b access point"},
        {5180, Radio{{1, true, true, {{{ap}, true}}}}, heAp, cck11, kPhy11ac, "HE only as an access point does not count"},
        {5180, Radio{{1, true, true, {{{sta, ap}, true}}}}, heAp, cck11, kPhy11ax, "HE on 5 GHz"},
        {5180, Radio{{1, true, false}}, vhtAp, cck11, kPhy11n, "radio without VHT on 5 GHz"},
        {2437, Radio{{0, true, true}}, vhtAp, cck11, kPhy11n, "VHT does not count on 2.4 GHz"},
        {5955, Radio{{3, false, false, {{{sta}, true, true}}}}, concat({ofdm, he, eht}), cck11, kPhy11ax, "EHT on 6 GHz"},
        {5955, Radio{{3, false, false, {}}}, concat({ofdm, he}), cck11, kPhy11a, "a radio without HE on 6 GHz"},
        {2437, std::nullopt, htAp, htRate, kPhy11n, "radio unread: an HT frame tells"},
        {2437, std::nullopt, htAp, cck11, kPhy11b, "radio unread: only the rate is left"},
    };
    // clang-format on
    for (const Row& r : rows) {
        Nl80211Snapshot snap;
        snap.interface =
            parseInterfaceMessage(nlmsg_hdr(interfaceMessage(2, r.frequency, 1).get()));
        snap.bss = parseBssMessage(
            nlmsg_hdr(bssMessage(NL80211_BSS_STATUS_ASSOCIATED, r.frequency, 0, r.elements).get()));
        ASSERT_TRUE(snap.bss) << r.what;
        EXPECT_FALSE(snap.bss->elements.malformed) << r.what;
        snap.station = parseStationMessage(nlmsg_hdr(stationMessage(-30, r.rate).get()));
        if (r.radio) {
            // The kernel splits a radio over several messages: one per band here.
            Nl80211Wiphy wiphy;
            for (const BandSpec& b : *r.radio) {
                auto part = parseWiphyMessage(nlmsg_hdr(wiphyMessage({b}).get()));
                ASSERT_TRUE(part) << r.what;
                mergeWiphy(wiphy, *part);
            }
            snap.wiphy = wiphy;
        }
        EXPECT_EQ(linkFromNl80211(snap).phyMode, r.phy) << r.what;
    }
    // A part of the dump without bands, and a band spread over two parts.
    auto none = parseWiphyMessage(nlmsg_hdr(message(NL80211_CMD_NEW_WIPHY).get()));
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->bands.empty());
    Nl80211Wiphy merged;
    mergeWiphy(merged, *parseWiphyMessage(nlmsg_hdr(wiphyMessage({{1, true, true}}).get())));
    mergeWiphy(merged, *parseWiphyMessage(
                           nlmsg_hdr(wiphyMessage({{1, false, false, {{{sta}, true}}}}).get())));
    EXPECT_TRUE(merged.bands[1].ht && merged.bands[1].vht && merged.bands[1].he);
    EXPECT_FALSE(merged.bands[1].eht);
}

// Rate control drops to legacy rates now and then: the last MCS rate of the
// same peer stands in; a new peer starts afresh.
TEST(Nl80211ParsingTest, TheLastMcsRateStandsInForALegacyFrame) {
    RateInfo ht, cck, vht;
    ht.bitrate100kbps = 1300;
    ht.htMcs = 7;
    cck.bitrate100kbps = 110;
    vht.bitrate100kbps = 4333;
    vht.vhtMcs = 9;
    struct Step {
        std::uint32_t ifindex;
        std::optional<std::string> peer;
        RateInfo now;
        std::uint32_t rate;
        std::optional<std::int64_t> mcs;
    };
    const std::string one = "02:00:00:00:00:01", two = "02:00:00:00:00:02";
    const std::vector<Step> steps = {
        {3, one, cck, 110, std::nullopt},  // nothing known yet
        {3, one, ht, 1300, 7},
        {3, one, cck, 1300, 7},
        {4, one, cck, 110, std::nullopt},  // another interface
        {3, two, cck, 110, std::nullopt},  // another access point
        {3, std::nullopt, cck, 110, std::nullopt},
        {3, one, vht, 4333, 9},
        {3, one, cck, 4333, 9},
    };
    TransmitRateMemory memory;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        RateInfo got = memory.pick(steps[i].ifindex, steps[i].peer, steps[i].now);
        EXPECT_EQ(got.bitrate100kbps, steps[i].rate) << "step " << i;
        EXPECT_EQ(got.mcs(), steps[i].mcs) << "step " << i;
    }
}

// An error reply is the request's answer: the socket stays and serves the
// next request (libnl reports the stop as a failure of its own).
TEST(Nl80211ParsingTest, AnErrorReplyLeavesTheSocketUsable) {
    nl_sock* socket = nl_socket_alloc();
    ASSERT_TRUE(socket);
    std::unique_ptr<nl_sock, void (*)(nl_sock*)> owned(socket, nl_socket_free);
    ASSERT_EQ(genl_connect(socket), 0);
    auto ask = [&](const char* family, int& messages) {
        Msg m(nlmsg_alloc());
        genlmsg_put(m.get(), NL_AUTO_PORT, NL_AUTO_SEQ, GENL_ID_CTRL, 0, 0, CTRL_CMD_GETFAMILY, 1);
        nla_put_string(m.get(), CTRL_ATTR_FAMILY_NAME, family);
        messages = 0;
        return netlinkExchange(socket, m.get(), [&](const nlmsghdr*) { ++messages; });
    };
    int messages = 0;
    for (int round = 0; round < 2; ++round) {
        NetlinkReply missing = ask("no-such-family", messages);
        EXPECT_FALSE(missing.broken) << missing.why;
        EXPECT_EQ(missing.error, -ENOENT);
        EXPECT_EQ(messages, 0);
        NetlinkReply found = ask("nlctrl", messages);
        EXPECT_FALSE(found.broken) << found.why;
        EXPECT_EQ(found.error, 0);
        EXPECT_EQ(messages, 1);
    }
}

// Without nl80211 in the kernel (this machine) a read gives nothing and a
// disconnect says why.
TEST(Nl80211ParsingTest, TheLiveReaderOnThisMachine) {
    Nl80211 nl;
    Nl80211Snapshot snap = nl.read(1, kLinkAll);  // loopback: never wireless
    EXPECT_FALSE(snap.interface || snap.station || snap.bss || snap.survey);
    std::string error;
    EXPECT_FALSE(nl.disconnect(1, error));
    EXPECT_NE(error, "");
}

}  // namespace
}  // namespace ww::linuxwifi
