#pragma once

// The one nl80211 reader, shared by the backends and the `airport -I`
// stand-in: GET_INTERFACE (mode, frequency, width, SSID), GET_STATION (signal,
// transmit rate, MCS, PHY mode), GET_SCAN (the associated BSS: BSSID, SSID,
// security), GET_SURVEY (the noise of the channel in use), and DISCONNECT.
//
// The message parsers are separate from the socket so that tests can feed
// them messages built with libnl's own nla_put calls.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/linux/wifi/InformationElements.h"
#include "platform/linux/wifi/WiFiCodes.h"
#include "platform/linux/wifi/WiFiDevice.h"

struct nlmsghdr;
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

// What one read gathered.
struct Nl80211Snapshot {
    std::optional<Nl80211Interface> interface;
    std::optional<Nl80211Station> station;
    std::optional<Nl80211Bss> bss;
    std::optional<Nl80211Survey> survey;
};

// The link values the snapshot gives (power is not among them: rfkill or the
// daemon says that): mode, channel, SSID (the interface's, else the BSS's),
// BSSID, security, signal, noise, rate, MCS, PHY mode.
WiFiLink linkFromNl80211(const Nl80211Snapshot& snapshot);

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
    // NL80211_CMD_DISCONNECT (needs CAP_NET_ADMIN). False and why on failure;
    // a device that is not connected counts as done.
    bool disconnect(std::uint32_t ifindex, std::string& error);

  private:
    // Connects and resolves the family on first use (again after a failure).
    bool connect(std::string& error);
    // One request (a dump when `dump`), each reply message parsed and kept.
    // 0 when done, a negative errno from the kernel, -EIO (and a closed
    // socket) when the exchange broke, -ENOENT without nl80211.
    template <typename Parse, typename Keep>
    int request(std::uint8_t command, bool dump, std::uint32_t ifindex, const Parse& parse,
                const Keep& keep, std::string& error);

    std::mutex m_mutex;
    nl_sock* m_socket = nullptr;
    int m_family = -1;
};

}  // namespace ww::linuxwifi
