#pragma once

// The one nl80211 reader, shared by the backends and the `airport -I`
// stand-in: GET_INTERFACE (mode, frequency, width, SSID), GET_STATION (signal,
// transmit rate, MCS), GET_SCAN (the associated BSS: BSSID, SSID, security,
// what the access point offers), GET_WIPHY (what the station's radio offers),
// GET_SURVEY (the noise of the channel in use), and DISCONNECT.
//
// The message parsers are separate from the socket so that tests can feed
// them messages built with libnl's own nla_put calls.

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/wifi/InformationElements.h"
#include "platform/linux/wifi/WiFiCodes.h"
#include "platform/linux/wifi/WiFiDevice.h"

struct nlmsghdr;
struct nl_msg;
struct nl_sock;

namespace ww::linuxwifi {

struct Nl80211Interface {
    std::uint32_t ifindex = 0;
    std::string name;
    std::optional<std::uint32_t> iftype;
    std::optional<std::uint32_t> frequency;  // MHz
    std::optional<std::uint32_t> chanWidth;  // enum nl80211_chan_width
    std::optional<std::string> ssid;         // while connected (newer kernels)
};

struct Nl80211Station {
    std::optional<std::string> mac;      // the peer (the access point)
    std::optional<std::int64_t> signal;  // dBm
    RateInfo tx;
};

struct Nl80211Bss {
    std::optional<std::string> bssid;
    std::optional<std::uint32_t> frequency;
    std::uint16_t capability = 0;         // bit 4: privacy
    std::optional<std::uint32_t> status;  // enum nl80211_bss_status
    InformationElements elements;
    bool associated() const { return status && (*status == 1 || *status == 2); }
};

// What the station's radio offers per band (nl80211's enum nl80211_band:
// 0 2.4 GHz, 1 5 GHz, 3 6 GHz), as a station.
struct Nl80211Wiphy {
    std::map<std::uint32_t, PhyCapabilities> bands;
};

struct Nl80211Survey {
    std::optional<std::uint32_t> frequency;
    std::optional<std::int64_t> noise;  // dBm
    bool inUse = false;
};

// One message of each reply, as the kernel sends it (a netlink header, a
// generic netlink header, attributes). Nothing when the message is not of
// that kind or its attributes do not validate.
std::optional<Nl80211Interface> parseInterfaceMessage(const nlmsghdr* message);
std::optional<Nl80211Station> parseStationMessage(const nlmsghdr* message);
std::optional<Nl80211Bss> parseBssMessage(const nlmsghdr* message);
std::optional<Nl80211Survey> parseSurveyMessage(const nlmsghdr* message);
// One message of a split GET_WIPHY dump: the bands it describes (a band may
// be spread over several messages; merge them with mergeWiphy).
std::optional<Nl80211Wiphy> parseWiphyMessage(const nlmsghdr* message);
void mergeWiphy(Nl80211Wiphy& into, const Nl80211Wiphy& part);

// What one read gathered.
struct Nl80211Snapshot {
    std::optional<Nl80211Interface> interface;
    std::optional<Nl80211Station> station;
    std::optional<Nl80211Bss> bss;
    std::optional<Nl80211Survey> survey;
    std::optional<Nl80211Wiphy> wiphy;
};

// The link values the snapshot gives (power is not among them: rfkill or the
// daemon says that): mode, channel, SSID (the interface's, else the BSS's),
// BSSID, security, signal, noise, rate, MCS, and the PHY mode of the
// association (what both the radio and the access point offer; where one of
// them was not read, the rate in use stands in).
WiFiLink linkFromNl80211(const Nl80211Snapshot& snapshot);

// Rate control drops to legacy rates now and then: the last HT/VHT/HE/EHT
// rate of a link stands in for a legacy one until the peer changes.
class TransmitRateMemory {
  public:
    // The rate to report for `now`, sent by interface `ifindex` to `peer`.
    RateInfo pick(std::uint32_t ifindex, const std::optional<std::string>& peer,
                  const RateInfo& now);

  private:
    struct Last {
        std::string peer;
        RateInfo rate;
    };
    std::map<std::uint32_t, Last> m_last;
};

// The outcome of one generic netlink request.
struct NetlinkReply {
    int error = 0;        // 0, or the kernel's negative errno (the socket stays usable)
    bool broken = false;  // the exchange itself failed (`why`): drop the socket
    std::string why;
};

// Sends `message` (not consumed) with an ack requested and hands every reply
// message to `onMessage` until the ack, the dump's end or the kernel's error.
NetlinkReply netlinkExchange(nl_sock* socket, nl_msg* message,
                             const std::function<void(const nlmsghdr*)>& onMessage);

// "aa:bb:cc:dd:ee:ff" of six bytes.
std::string macText(const std::uint8_t* bytes);

class Nl80211 {
  public:
    Nl80211() = default;
    ~Nl80211();
    Nl80211(const Nl80211&) = delete;
    Nl80211& operator=(const Nl80211&) = delete;

    // Reads what `fields` needs for the interface; absent parts stay absent
    // (no nl80211 in the kernel, not a wireless interface, not associated).
    Nl80211Snapshot read(std::uint32_t ifindex, unsigned fields);
    // The link values of the interface named (linkFromNl80211 of a read);
    // empty when there is no such device.
    WiFiLink readLink(const std::string& ifname, unsigned fields);
    // NL80211_CMD_DISCONNECT (needs CAP_NET_ADMIN; refused with EPERM where a
    // supplicant owns the link). False and why on failure; a device that is
    // not connected counts as done.
    bool disconnect(std::uint32_t ifindex, std::string& error);

  private:
    // Connects and resolves the family on first use (again after a failure).
    bool connect(std::string& error);
    // One request (a dump when `dump`), each reply message parsed and kept.
    // 0 when done, a negative errno from the kernel, -EIO (and a closed
    // socket) when the exchange broke, -ENOENT without nl80211.
    template <typename Parse, typename Keep>
    int request(std::uint8_t command, bool dump, std::uint32_t ifindex, const Parse& parse,
                const Keep& keep, std::string& error, bool splitDump = false);

    std::mutex m_mutex;
    nl_sock* m_socket = nullptr;
    int m_family = -1;
    TransmitRateMemory m_rates;
    // A radio's capabilities do not change: read once per interface.
    std::map<std::uint32_t, Nl80211Wiphy> m_wiphys;
};

}  // namespace ww::linuxwifi
