#include "platform/linux/wifi/Nl80211.h"

#include <linux/nl80211.h>
#include <net/if.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

namespace ww::linuxwifi {

namespace {

// Attribute policies: libnl checks every attribute we read against its type
// and minimum length before we look at it, so a short or odd attribute makes
// the message fail to parse instead of reading past it.
template <size_t N>
struct Policy {
    std::array<nla_policy, N> rules{};
    Policy& set(int attribute, std::uint16_t type, std::uint16_t minlen = 0) {
        rules[static_cast<size_t>(attribute)].type = type;
        rules[static_cast<size_t>(attribute)].minlen = minlen;
        return *this;
    }
    nla_policy* data() { return rules.data(); }
};

nla_policy* topPolicy() {
    static Policy<NL80211_ATTR_MAX + 1> p = [] {
        Policy<NL80211_ATTR_MAX + 1> q;
        q.set(NL80211_ATTR_IFINDEX, NLA_U32)
            .set(NL80211_ATTR_IFNAME, NLA_STRING)
            .set(NL80211_ATTR_IFTYPE, NLA_U32)
            .set(NL80211_ATTR_WIPHY_FREQ, NLA_U32)
            .set(NL80211_ATTR_CHANNEL_WIDTH, NLA_U32)
            .set(NL80211_ATTR_SSID, NLA_UNSPEC)
            .set(NL80211_ATTR_MAC, NLA_UNSPEC, 6)
            .set(NL80211_ATTR_STA_INFO, NLA_NESTED)
            .set(NL80211_ATTR_BSS, NLA_NESTED)
            .set(NL80211_ATTR_SURVEY_INFO, NLA_NESTED)
            .set(NL80211_ATTR_WIPHY_BANDS, NLA_NESTED);
        return q;
    }();
    return p.data();
}

nla_policy* stationPolicy() {
    static Policy<NL80211_STA_INFO_MAX + 1> p = [] {
        Policy<NL80211_STA_INFO_MAX + 1> q;
        q.set(NL80211_STA_INFO_SIGNAL, NLA_U8).set(NL80211_STA_INFO_TX_BITRATE, NLA_NESTED);
        return q;
    }();
    return p.data();
}

nla_policy* ratePolicy() {
    static Policy<NL80211_RATE_INFO_MAX + 1> p = [] {
        Policy<NL80211_RATE_INFO_MAX + 1> q;
        q.set(NL80211_RATE_INFO_BITRATE, NLA_U16)
            .set(NL80211_RATE_INFO_BITRATE32, NLA_U32)
            .set(NL80211_RATE_INFO_MCS, NLA_U8)
            .set(NL80211_RATE_INFO_VHT_MCS, NLA_U8)
            .set(NL80211_RATE_INFO_VHT_NSS, NLA_U8)
            .set(NL80211_RATE_INFO_HE_MCS, NLA_U8)
            .set(NL80211_RATE_INFO_HE_NSS, NLA_U8)
            .set(NL80211_RATE_INFO_EHT_MCS, NLA_U8)
            .set(NL80211_RATE_INFO_EHT_NSS, NLA_U8);
        return q;
    }();
    return p.data();
}

nla_policy* bssPolicy() {
    static Policy<NL80211_BSS_MAX + 1> p = [] {
        Policy<NL80211_BSS_MAX + 1> q;
        q.set(NL80211_BSS_BSSID, NLA_UNSPEC, 6)
            .set(NL80211_BSS_FREQUENCY, NLA_U32)
            .set(NL80211_BSS_CAPABILITY, NLA_U16)
            .set(NL80211_BSS_INFORMATION_ELEMENTS, NLA_UNSPEC)
            .set(NL80211_BSS_BEACON_IES, NLA_UNSPEC)
            .set(NL80211_BSS_STATUS, NLA_U32);
        return q;
    }();
    return p.data();
}

nla_policy* surveyPolicy() {
    static Policy<NL80211_SURVEY_INFO_MAX + 1> p = [] {
        Policy<NL80211_SURVEY_INFO_MAX + 1> q;
        q.set(NL80211_SURVEY_INFO_FREQUENCY, NLA_U32)
            .set(NL80211_SURVEY_INFO_NOISE, NLA_U8)
            .set(NL80211_SURVEY_INFO_IN_USE, NLA_FLAG);
        return q;
    }();
    return p.data();
}

nla_policy* bandPolicy() {
    static Policy<NL80211_BAND_ATTR_MAX + 1> p = [] {
        Policy<NL80211_BAND_ATTR_MAX + 1> q;
        q.set(NL80211_BAND_ATTR_HT_CAPA, NLA_U16)
            .set(NL80211_BAND_ATTR_VHT_CAPA, NLA_U32)
            .set(NL80211_BAND_ATTR_IFTYPE_DATA, NLA_NESTED);
        return q;
    }();
    return p.data();
}

nla_policy* iftypeDataPolicy() {
    static Policy<NL80211_BAND_IFTYPE_ATTR_MAX + 1> p = [] {
        Policy<NL80211_BAND_IFTYPE_ATTR_MAX + 1> q;
        q.set(NL80211_BAND_IFTYPE_ATTR_IFTYPES, NLA_NESTED);
        return q;
    }();
    return p.data();
}

// The top-level attributes of a generic netlink message.
bool parseTop(const nlmsghdr* message, nlattr** tb) {
    auto* hdr = const_cast<nlmsghdr*>(message);
    if (!message || !genlmsg_valid_hdr(hdr, 0)) return false;
    return genlmsg_parse(hdr, 0, tb, NL80211_ATTR_MAX, topPolicy()) == 0;
}

std::optional<std::uint32_t> u32(nlattr* a) {
    if (!a) return std::nullopt;
    return nla_get_u32(a);
}

std::optional<std::uint8_t> u8(nlattr* a) {
    if (!a) return std::nullopt;
    return nla_get_u8(a);
}

std::string bytesText(nlattr* a) {
    return std::string(static_cast<const char*>(nla_data(a)), static_cast<size_t>(nla_len(a)));
}

}  // namespace

std::string macText(const std::uint8_t* b) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4],
                  b[5]);
    return text;
}

std::optional<Nl80211Interface> parseInterfaceMessage(const nlmsghdr* message) {
    nlattr* tb[NL80211_ATTR_MAX + 1] = {};
    if (!parseTop(message, tb) || !tb[NL80211_ATTR_IFINDEX]) return std::nullopt;
    Nl80211Interface i;
    i.ifindex = nla_get_u32(tb[NL80211_ATTR_IFINDEX]);
    if (tb[NL80211_ATTR_IFNAME]) i.name = nla_get_string(tb[NL80211_ATTR_IFNAME]);
    i.iftype = u32(tb[NL80211_ATTR_IFTYPE]);
    i.frequency = u32(tb[NL80211_ATTR_WIPHY_FREQ]);
    i.chanWidth = u32(tb[NL80211_ATTR_CHANNEL_WIDTH]);
    if (tb[NL80211_ATTR_SSID]) i.ssid = bytesText(tb[NL80211_ATTR_SSID]);
    return i;
}

std::optional<Nl80211Station> parseStationMessage(const nlmsghdr* message) {
    nlattr* tb[NL80211_ATTR_MAX + 1] = {};
    if (!parseTop(message, tb) || !tb[NL80211_ATTR_STA_INFO]) return std::nullopt;
    nlattr* info[NL80211_STA_INFO_MAX + 1] = {};
    if (nla_parse_nested(info, NL80211_STA_INFO_MAX, tb[NL80211_ATTR_STA_INFO], stationPolicy()) !=
        0) {
        return std::nullopt;
    }
    Nl80211Station s;
    if (tb[NL80211_ATTR_MAC])
        s.mac = macText(static_cast<const std::uint8_t*>(nla_data(tb[NL80211_ATTR_MAC])));
    if (info[NL80211_STA_INFO_SIGNAL]) {
        s.signal = static_cast<std::int8_t>(nla_get_u8(info[NL80211_STA_INFO_SIGNAL]));
    }
    if (info[NL80211_STA_INFO_TX_BITRATE]) {
        nlattr* rate[NL80211_RATE_INFO_MAX + 1] = {};
        if (nla_parse_nested(rate, NL80211_RATE_INFO_MAX, info[NL80211_STA_INFO_TX_BITRATE],
                             ratePolicy()) != 0) {
            return std::nullopt;
        }
        if (rate[NL80211_RATE_INFO_BITRATE32]) {
            s.tx.bitrate100kbps = nla_get_u32(rate[NL80211_RATE_INFO_BITRATE32]);
        } else if (rate[NL80211_RATE_INFO_BITRATE]) {
            s.tx.bitrate100kbps = nla_get_u16(rate[NL80211_RATE_INFO_BITRATE]);
        }
        s.tx.htMcs = u8(rate[NL80211_RATE_INFO_MCS]);
        s.tx.vhtMcs = u8(rate[NL80211_RATE_INFO_VHT_MCS]);
        s.tx.vhtNss = u8(rate[NL80211_RATE_INFO_VHT_NSS]);
        s.tx.heMcs = u8(rate[NL80211_RATE_INFO_HE_MCS]);
        s.tx.heNss = u8(rate[NL80211_RATE_INFO_HE_NSS]);
        s.tx.ehtMcs = u8(rate[NL80211_RATE_INFO_EHT_MCS]);
        s.tx.ehtNss = u8(rate[NL80211_RATE_INFO_EHT_NSS]);
    }
    return s;
}

std::optional<Nl80211Bss> parseBssMessage(const nlmsghdr* message) {
    nlattr* tb[NL80211_ATTR_MAX + 1] = {};
    if (!parseTop(message, tb) || !tb[NL80211_ATTR_BSS]) return std::nullopt;
    nlattr* bss[NL80211_BSS_MAX + 1] = {};
    if (nla_parse_nested(bss, NL80211_BSS_MAX, tb[NL80211_ATTR_BSS], bssPolicy()) != 0) {
        return std::nullopt;
    }
    Nl80211Bss b;
    if (bss[NL80211_BSS_BSSID]) {
        b.bssid = macText(static_cast<const std::uint8_t*>(nla_data(bss[NL80211_BSS_BSSID])));
    }
    b.frequency = u32(bss[NL80211_BSS_FREQUENCY]);
    if (bss[NL80211_BSS_CAPABILITY]) b.capability = nla_get_u16(bss[NL80211_BSS_CAPABILITY]);
    b.status = u32(bss[NL80211_BSS_STATUS]);
    // The probe response's elements carry the SSID of a hidden network; the
    // beacon's stand in when there was no probe response.
    nlattr* ies = bss[NL80211_BSS_INFORMATION_ELEMENTS] ? bss[NL80211_BSS_INFORMATION_ELEMENTS]
                                                        : bss[NL80211_BSS_BEACON_IES];
    if (ies) {
        b.elements = parseInformationElements(static_cast<const std::uint8_t*>(nla_data(ies)),
                                              static_cast<size_t>(nla_len(ies)));
    }
    return b;
}

std::optional<Nl80211Survey> parseSurveyMessage(const nlmsghdr* message) {
    nlattr* tb[NL80211_ATTR_MAX + 1] = {};
    if (!parseTop(message, tb) || !tb[NL80211_ATTR_SURVEY_INFO]) return std::nullopt;
    nlattr* s[NL80211_SURVEY_INFO_MAX + 1] = {};
    if (nla_parse_nested(s, NL80211_SURVEY_INFO_MAX, tb[NL80211_ATTR_SURVEY_INFO],
                         surveyPolicy()) != 0) {
        return std::nullopt;
    }
    Nl80211Survey out;
    out.frequency = u32(s[NL80211_SURVEY_INFO_FREQUENCY]);
    if (s[NL80211_SURVEY_INFO_NOISE]) {
        out.noise = static_cast<std::int8_t>(nla_get_u8(s[NL80211_SURVEY_INFO_NOISE]));
    }
    out.inUse = s[NL80211_SURVEY_INFO_IN_USE] != nullptr;
    return out;
}

std::optional<Nl80211Wiphy> parseWiphyMessage(const nlmsghdr* message) {
    nlattr* tb[NL80211_ATTR_MAX + 1] = {};
    if (!parseTop(message, tb)) return std::nullopt;
    Nl80211Wiphy out;
    if (!tb[NL80211_ATTR_WIPHY_BANDS]) return out;  // a part of the dump about something else
    nlattr* band;
    int left;
    nla_for_each_nested(band, tb[NL80211_ATTR_WIPHY_BANDS], left) {
        nlattr* b[NL80211_BAND_ATTR_MAX + 1] = {};
        if (nla_parse_nested(b, NL80211_BAND_ATTR_MAX, band, bandPolicy()) != 0) {
            return std::nullopt;
        }
        PhyCapabilities& caps = out.bands[static_cast<std::uint32_t>(nla_type(band))];
        caps.ht = caps.ht || b[NL80211_BAND_ATTR_HT_CAPA];
        caps.vht = caps.vht || b[NL80211_BAND_ATTR_VHT_CAPA];
        if (!b[NL80211_BAND_ATTR_IFTYPE_DATA]) continue;
        nlattr* entry;
        int rest;
        nla_for_each_nested(entry, b[NL80211_BAND_ATTR_IFTYPE_DATA], rest) {
            nlattr* d[NL80211_BAND_IFTYPE_ATTR_MAX + 1] = {};
            if (nla_parse_nested(d, NL80211_BAND_IFTYPE_ATTR_MAX, entry, iftypeDataPolicy()) != 0) {
                return std::nullopt;
            }
            // HE and EHT are listed per interface type: the station's count.
            if (!d[NL80211_BAND_IFTYPE_ATTR_IFTYPES]) continue;
            nlattr* types[NL80211_IFTYPE_MAX + 1] = {};
            if (nla_parse_nested(types, NL80211_IFTYPE_MAX, d[NL80211_BAND_IFTYPE_ATTR_IFTYPES],
                                 nullptr) != 0 ||
                !types[NL80211_IFTYPE_STATION]) {
                continue;
            }
            caps.he = caps.he || d[NL80211_BAND_IFTYPE_ATTR_HE_CAP_PHY];
            caps.eht = caps.eht || d[NL80211_BAND_IFTYPE_ATTR_EHT_CAP_PHY];
        }
    }
    return out;
}

void mergeWiphy(Nl80211Wiphy& into, const Nl80211Wiphy& part) {
    for (const auto& [band, caps] : part.bands) {
        PhyCapabilities& c = into.bands[band];
        c.ht = c.ht || caps.ht;
        c.vht = c.vht || caps.vht;
        c.he = c.he || caps.he;
        c.eht = c.eht || caps.eht;
    }
}

RateInfo TransmitRateMemory::pick(std::uint32_t ifindex, const std::optional<std::string>& peer,
                                  const RateInfo& now) {
    if (now.mcs()) {
        m_last[ifindex] = Last{peer.value_or(""), now};
        return now;
    }
    auto it = m_last.find(ifindex);
    if (it != m_last.end() && peer && it->second.peer == *peer) return it->second.rate;
    return now;
}

WiFiLink Nl80211::readLink(const std::string& ifname, unsigned fields) {
    unsigned index = ::if_nametoindex(ifname.c_str());
    if (index == 0) return {};
    return linkFromNl80211(read(index, fields));
}

WiFiLink linkFromNl80211(const Nl80211Snapshot& snap) {
    WiFiLink link;
    std::optional<std::uint32_t> frequency;
    if (snap.interface) {
        const Nl80211Interface& i = *snap.interface;
        if (i.iftype) link.interfaceMode = interfaceModeForNl80211(*i.iftype);
        frequency = i.frequency;
        if (i.ssid) link.ssid = i.ssid;
    }
    if (snap.bss) {
        const Nl80211Bss& b = *snap.bss;
        link.bssid = b.bssid;
        if (!link.ssid) link.ssid = b.elements.ssid;
        link.security = securityCode(securityTraits(b.elements, (b.capability & 0x0010) != 0));
        if (!frequency) frequency = b.frequency;
    }
    if (frequency) {
        if (auto position = channelForFrequency(*frequency)) {
            WiFiChannel channel;
            channel.channelNumber = position->number;
            channel.channelBand = position->band;
            if (snap.interface && snap.interface->chanWidth) {
                channel.channelWidth = widthCodeForNl80211(*snap.interface->chanWidth);
            }
            link.channel = channel;
        }
    }
    if (snap.station) {
        const Nl80211Station& s = *snap.station;
        if (s.signal) link.rssi = *s.signal;
        if (s.tx.bitrate100kbps) link.transmitRate = *s.tx.bitrate100kbps / 10.0;
        link.mcs = s.tx.mcs();
    }
    const std::int64_t band = link.channel ? link.channel->channelBand : 0;
    if (snap.wiphy && snap.bss) {
        // nl80211's band numbers: 2.4 GHz 0, 5 GHz 1, 6 GHz 3.
        static constexpr std::uint32_t kBandOfCode[] = {0, 0, 1, 3};
        PhyCapabilities station;
        if (band >= 1 && band <= 3) {
            auto it = snap.wiphy->bands.find(kBandOfCode[band]);
            if (it != snap.wiphy->bands.end()) station = it->second;
        }
        link.phyMode = phyModeForAssociation(station, snap.bss->elements.phy, band,
                                             snap.bss->elements.ofdmRates);
    }
    if (snap.station) {
        // A frame at an HT/VHT/HE rate proves that generation even where the
        // capabilities could not be read; a legacy one tells only without them.
        const RateInfo& tx = snap.station->tx;
        if (tx.mcs()) {
            link.phyMode = std::max(link.phyMode, phyModeFor(tx, band));
        } else if (link.phyMode == kPhyNone) {
            link.phyMode = phyModeFor(tx, band);
        }
    }
    if (snap.survey && snap.survey->noise) link.noise = *snap.survey->noise;
    return link;
}

// ---- the socket ----------------------------------------------------------------------------

Nl80211::~Nl80211() {
    if (m_socket) nl_socket_free(m_socket);
}

bool Nl80211::connect(std::string& error) {
    if (m_socket && m_family >= 0) return true;
    if (m_socket) nl_socket_free(m_socket);
    m_family = -1;
    m_socket = nl_socket_alloc();
    if (!m_socket) {
        error = "cannot allocate a netlink socket";
        return false;
    }
    int r = genl_connect(m_socket);
    if (r == 0) {
        // The kernel answers at once; the limit only guards against a
        // reply that never comes.
        timeval limit{2, 0};
        ::setsockopt(nl_socket_get_fd(m_socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        r = genl_ctrl_resolve(m_socket, "nl80211");
        if (r >= 0) {
            m_family = r;
            return true;
        }
        error = r == -NLE_OBJ_NOTFOUND ? "the kernel has no nl80211 (no wireless support)"
                                       : std::string("nl80211: ") + nl_geterror(r);
    } else {
        error = std::string("cannot open generic netlink: ") + nl_geterror(r);
    }
    nl_socket_free(m_socket);
    m_socket = nullptr;
    return false;
}

namespace {

struct RequestState {
    const std::function<void(const nlmsghdr*)>* onMessage;
    int result = 1;  // 1 while waiting, 0 done, negative errno from the kernel
};

int onValid(nl_msg* msg, void* arg) {
    (*static_cast<RequestState*>(arg)->onMessage)(nlmsg_hdr(msg));
    return NL_OK;
}
int onFinish(nl_msg*, void* arg) {
    static_cast<RequestState*>(arg)->result = 0;
    return NL_SKIP;
}
int onAck(nl_msg*, void* arg) {
    static_cast<RequestState*>(arg)->result = 0;
    return NL_STOP;
}
int onError(sockaddr_nl*, nlmsgerr* err, void* arg) {
    static_cast<RequestState*>(arg)->result = err->error < 0 ? err->error : -EIO;
    return NL_STOP;
}

}  // namespace

NetlinkReply netlinkExchange(nl_sock* socket, nl_msg* message,
                             const std::function<void(const nlmsghdr*)>& onMessage) {
    NetlinkReply reply;
    nl_cb* cb = nl_cb_alloc(NL_CB_DEFAULT);
    if (!cb) {
        reply.broken = true;
        reply.why = "out of memory";
        return reply;
    }
    RequestState state{&onMessage};
    nl_cb_set(cb, NL_CB_VALID, NL_CB_CUSTOM, onValid, &state);
    nl_cb_set(cb, NL_CB_FINISH, NL_CB_CUSTOM, onFinish, &state);
    nl_cb_set(cb, NL_CB_ACK, NL_CB_CUSTOM, onAck, &state);
    nl_cb_err(cb, NL_CB_CUSTOM, onError, &state);
    int r = nl_send_auto(socket, message);
    while (r >= 0 && state.result > 0) r = nl_recvmsgs(socket, cb);
    nl_cb_put(cb);
    // The kernel's error ends the exchange: libnl then returns a negative
    // code although the socket is fine.
    if (state.result < 0) {
        reply.error = state.result;
    } else if (r < 0) {
        reply.broken = true;
        reply.why = nl_geterror(r);
    }
    return reply;
}

template <typename Parse, typename Keep>
int Nl80211::request(std::uint8_t command, bool dump, std::uint32_t ifindex, const Parse& parse,
                     const Keep& keep, std::string& error, bool splitDump) {
    if (!connect(error)) return -ENOENT;
    nl_msg* msg = nlmsg_alloc();
    if (!msg) {
        error = "out of memory";
        return -ENOMEM;
    }
    genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, m_family, 0, dump ? NLM_F_DUMP : 0, command, 0);
    nla_put_u32(msg, NL80211_ATTR_IFINDEX, ifindex);
    if (splitDump) nla_put_flag(msg, NL80211_ATTR_SPLIT_WIPHY_DUMP);
    NetlinkReply reply = netlinkExchange(m_socket, msg, [&](const nlmsghdr* h) {
        if (auto parsed = parse(h)) keep(*parsed);
    });
    nlmsg_free(msg);
    if (reply.broken) {
        // A broken exchange may leave replies in the socket: start afresh.
        error = "nl80211: " + reply.why;
        nl_socket_free(m_socket);
        m_socket = nullptr;
        m_family = -1;
        return -EIO;
    }
    if (reply.error < 0) error = std::string("nl80211: ") + std::strerror(-reply.error);
    return reply.error;
}

Nl80211Snapshot Nl80211::read(std::uint32_t ifindex, unsigned fields) {
    std::lock_guard lock(m_mutex);
    Nl80211Snapshot snap;
    std::string error;
    const bool wantStation = fields & (kLinkRssi | kLinkTransmitRate | kLinkMcs | kLinkPhyMode);
    const bool wantInterface = fields & (kLinkMode | kLinkChannel | kLinkSsid | kLinkPhyMode);
    const bool wantBss =
        fields & (kLinkBssid | kLinkSecurity | kLinkSsid | kLinkChannel | kLinkPhyMode);
    const bool wantSurvey = fields & kLinkNoise;
    if (wantInterface) {
        int r = request(
            NL80211_CMD_GET_INTERFACE, false, ifindex, parseInterfaceMessage,
            [&](const Nl80211Interface& i) { snap.interface = i; }, error);
        // No nl80211, or not a wireless interface: nothing else will answer.
        if (!m_socket || r == -ENODEV || r == -EOPNOTSUPP) return snap;
    } else if (!connect(error)) {
        return snap;
    }
    if (wantStation) {
        request(
            NL80211_CMD_GET_STATION, true, ifindex, parseStationMessage,
            [&](const Nl80211Station& s) {
                if (!snap.station) snap.station = s;
            },
            error);
        if (snap.station) {
            snap.station->tx = m_rates.pick(ifindex, snap.station->mac, snap.station->tx);
        }
    }
    // The associated BSS is needed for the channel only when the interface
    // did not give the frequency.
    bool needBss = fields & (kLinkBssid | kLinkSecurity | kLinkPhyMode) ||
                   ((fields & kLinkSsid) && !(snap.interface && snap.interface->ssid)) ||
                   ((fields & kLinkChannel) && !(snap.interface && snap.interface->frequency));
    if (wantBss && needBss) {
        request(
            NL80211_CMD_GET_SCAN, true, ifindex, parseBssMessage,
            [&](const Nl80211Bss& b) {
                if (!snap.bss && b.associated()) snap.bss = b;
            },
            error);
    }
    if ((fields & kLinkPhyMode) && snap.bss) {
        auto known = m_wiphys.find(ifindex);
        if (known == m_wiphys.end()) {
            Nl80211Wiphy wiphy;
            int r = request(
                NL80211_CMD_GET_WIPHY, true, ifindex, parseWiphyMessage,
                [&](const Nl80211Wiphy& part) { mergeWiphy(wiphy, part); }, error, true);
            if (r == 0 && !wiphy.bands.empty()) known = m_wiphys.emplace(ifindex, wiphy).first;
        }
        if (known != m_wiphys.end()) snap.wiphy = known->second;
    }
    if (wantSurvey) {
        request(
            NL80211_CMD_GET_SURVEY, true, ifindex, parseSurveyMessage,
            [&](const Nl80211Survey& s) {
                if (!snap.survey && s.inUse) snap.survey = s;
            },
            error);
    }
    return snap;
}

bool Nl80211::disconnect(std::uint32_t ifindex, std::string& error) {
    std::lock_guard lock(m_mutex);
    auto none = [](const nlmsghdr*) { return std::optional<int>(); };
    int r = request(
        NL80211_CMD_DISCONNECT, false, ifindex, none, [](int) {}, error);
    // Not connected: nothing to leave.
    return r == 0 || r == -ENOTCONN || r == -ENOLINK;
}

}  // namespace ww::linuxwifi
