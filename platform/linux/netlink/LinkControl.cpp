#include "platform/linux/netlink/LinkControl.h"

// <net/if.h> must come before the kernel headers that pull in <linux/if.h>.
#include <net/if.h>
// clang-format off
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/if_addr.h>
// clang-format on
#include <arpa/inet.h>
#include <sys/time.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace ww::netlink {

namespace {

// Room for a header, its fixed part and a few small attributes.
constexpr std::size_t kRequestSize = 256;

// A request under construction, aligned for the netlink header.
struct Request {
    alignas(nlmsghdr) char bytes[kRequestSize] = {};

    nlmsghdr& header() { return *reinterpret_cast<nlmsghdr*>(bytes); }
    template <typename Fixed>
    Fixed& start(unsigned short type, unsigned short flags) {
        header().nlmsg_len = NLMSG_LENGTH(sizeof(Fixed));
        header().nlmsg_type = type;
        header().nlmsg_flags = flags;
        return *reinterpret_cast<Fixed*>(NLMSG_DATA(&header()));
    }
    void append(unsigned short type, const void* data, std::size_t length) {
        std::size_t offset = NLMSG_ALIGN(header().nlmsg_len);
        auto* attribute = reinterpret_cast<rtattr*>(bytes + offset);
        attribute->rta_type = type;
        attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
        std::memcpy(RTA_DATA(attribute), data, length);
        header().nlmsg_len = static_cast<std::uint32_t>(offset + RTA_SPACE(length));
    }
};


std::string failure(const std::string& device, int error) {
    if (error < 0) return device + ": no answer from the kernel";
    return device + ": " + std::strerror(error);
}

// The kernel's errno in an error message (0 for an acknowledgement).
int errorOf(const nlmsghdr& message) {
    if (message.nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) return EPROTO;
    return -reinterpret_cast<const nlmsgerr*>(NLMSG_DATA(&message))->error;
}

}  // namespace

// ---- Ipv4Prefix ----

std::optional<Ipv4Prefix> Ipv4Prefix::parse(std::string_view text) {
    Ipv4Prefix prefix;
    std::string_view address = text;
    if (std::size_t slash = text.find('/'); slash != std::string_view::npos) {
        address = text.substr(0, slash);
        std::string_view length = text.substr(slash + 1);
        // One or two digits, no leading zero: "24", "8", "0".
        if (length.empty() || length.size() > 2 || (length.size() == 2 && length[0] == '0')) {
            return std::nullopt;
        }
        auto [end, error] =
            std::from_chars(length.data(), length.data() + length.size(), prefix.length);
        if (error != std::errc() || end != length.data() + length.size() || prefix.length > 32) {
            return std::nullopt;
        }
    }
    // inet_pton takes exactly four decimal parts: no blanks, signs or short forms.
    std::string copy(address);
    in_addr parsed{};
    if (::inet_pton(AF_INET, copy.c_str(), &parsed) != 1) return std::nullopt;
    prefix.address = parsed.s_addr;
    return prefix;
}

std::string Ipv4Prefix::text() const {
    char buffer[INET_ADDRSTRLEN] = {};
    in_addr a{};
    a.s_addr = address;
    ::inet_ntop(AF_INET, &a, buffer, sizeof(buffer));
    return std::string(buffer) + "/" + std::to_string(length);
}

std::uint32_t Ipv4Prefix::broadcast() const {
    if (length >= 31) return address;
    std::uint32_t hostBits = length == 0 ? 0xffffffffu : (0xffffffffu >> length);
    return htonl(ntohl(address) | hostBits);
}

// ---- LinkControl ----

std::unique_ptr<LinkControl> LinkControl::open(std::string& error) {
    std::optional<RequestSocket> socket = RequestSocket::open(error);
    if (!socket) return nullptr;
    return std::unique_ptr<LinkControl>(new LinkControl(std::move(*socket)));
}

int LinkControl::request(nlmsghdr& message) {
    message.nlmsg_flags |= NLM_F_REQUEST | NLM_F_ACK;
    int result = EPROTO;
    bool answered = m_socket.exchange(message, [&](const nlmsghdr& answer) {
        if (answer.nlmsg_type == NLMSG_ERROR) result = errorOf(answer);
    });
    return answered ? result : -1;
}

std::optional<LinkControl::Link> LinkControl::link(const std::string& device, std::string& error) {
    if (device.empty() || device.size() >= IFNAMSIZ || device.find('\0') != std::string::npos) {
        error = "'" + device + "' is no network device name";
        return std::nullopt;
    }
    Request query;
    query.start<ifinfomsg>(RTM_GETLINK, NLM_F_REQUEST).ifi_family = AF_UNSPEC;
    query.append(IFLA_IFNAME, device.c_str(), device.size() + 1);
    std::optional<Link> found;
    int refused = EPROTO;
    bool answered = m_socket.exchange(query.header(), [&](const nlmsghdr& answer) {
        if (answer.nlmsg_type == NLMSG_ERROR) {
            refused = errorOf(answer);
        } else if (answer.nlmsg_type == RTM_NEWLINK &&
                   answer.nlmsg_len >= NLMSG_LENGTH(sizeof(ifinfomsg))) {
            auto* info = reinterpret_cast<const ifinfomsg*>(NLMSG_DATA(&answer));
            found = Link{info->ifi_index, (info->ifi_flags & IFF_UP) != 0};
        }
    });
    if (!found) error = failure(device, answered ? refused : -1);
    return found;
}

std::optional<bool> LinkControl::isUp(const std::string& device, std::string& error) {
    auto found = link(device, error);
    if (!found) return std::nullopt;
    return found->up;
}

bool LinkControl::setUp(const std::string& device, bool up, std::string& error) {
    auto found = link(device, error);
    if (!found) return false;
    if (found->up == up) return true;
    Request change;
    auto& info = change.start<ifinfomsg>(RTM_NEWLINK, 0);
    info.ifi_family = AF_UNSPEC;
    info.ifi_index = found->index;
    info.ifi_flags = up ? IFF_UP : 0;
    info.ifi_change = IFF_UP;
    int result = request(change.header());
    if (result != 0) {
        error = failure(device, result);
        return false;
    }
    return true;
}

std::optional<std::vector<Ipv4Prefix>> LinkControl::ipv4Addresses(const std::string& device,
                                                                  std::string& error) {
    auto found = link(device, error);
    if (!found) return std::nullopt;
    return ipv4Addresses(found->index, device, error);
}

std::optional<std::vector<Ipv4Prefix>> LinkControl::ipv4Addresses(int index,
                                                                  const std::string& device,
                                                                  std::string& error) {
    Request query;
    query.start<ifaddrmsg>(RTM_GETADDR, NLM_F_REQUEST | NLM_F_DUMP).ifa_family = AF_INET;
    std::vector<Ipv4Prefix> found;
    int refused = 0;
    bool answered = m_socket.exchange(query.header(), [&](const nlmsghdr& answer) {
        if (answer.nlmsg_type == NLMSG_ERROR) {
            refused = errorOf(answer);
            return;
        }
        if (answer.nlmsg_type != RTM_NEWADDR ||
            answer.nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) {
            return;
        }
        auto* address = reinterpret_cast<const ifaddrmsg*>(NLMSG_DATA(&answer));
        if (address->ifa_family != AF_INET || static_cast<int>(address->ifa_index) != index) {
            return;
        }
        std::optional<std::uint32_t> local, other;
        forEachAttribute(answer, sizeof(ifaddrmsg), [&](const rtattr& attribute) {
            if (RTA_PAYLOAD(&attribute) < sizeof(std::uint32_t)) return;
            std::uint32_t value;
            std::memcpy(&value, RTA_DATA(&attribute), sizeof(value));
            if (attribute.rta_type == IFA_LOCAL) local = value;
            if (attribute.rta_type == IFA_ADDRESS) other = value;
        });
        // IFA_LOCAL is the device's own address; IFA_ADDRESS is the peer's on
        // point-to-point links and the same address elsewhere.
        if (!local) local = other;
        if (local) found.push_back(Ipv4Prefix{*local, address->ifa_prefixlen});
    });
    if (!answered || refused != 0) {
        error = failure(device, answered ? refused : -1);
        return std::nullopt;
    }
    return found;
}

bool LinkControl::addIpv4Address(const std::string& device, const Ipv4Prefix& prefix,
                                 std::string& error) {
    auto found = link(device, error);
    if (!found) return false;
    auto present = ipv4Addresses(found->index, device, error);
    if (!present) return false;
    for (const auto& p : *present) {
        if (p == prefix) return true;
    }
    Request change;
    auto& info = change.start<ifaddrmsg>(RTM_NEWADDR, NLM_F_CREATE | NLM_F_EXCL);
    info.ifa_family = AF_INET;
    info.ifa_prefixlen = static_cast<unsigned char>(prefix.length);
    info.ifa_scope = RT_SCOPE_UNIVERSE;
    info.ifa_index = static_cast<unsigned>(found->index);
    change.append(IFA_LOCAL, &prefix.address, sizeof(prefix.address));
    change.append(IFA_ADDRESS, &prefix.address, sizeof(prefix.address));
    if (prefix.length < 31) {
        std::uint32_t broadcast = prefix.broadcast();
        change.append(IFA_BROADCAST, &broadcast, sizeof(broadcast));
    }
    int result = request(change.header());
    // EEXIST: someone else added it since we looked, which is what we wanted.
    if (result != 0 && result != EEXIST) {
        error = failure(device, result);
        return false;
    }
    return true;
}

bool LinkControl::removeIpv4Addresses(const std::string& device, std::string& error) {
    auto found = link(device, error);
    if (!found) return false;
    auto present = ipv4Addresses(found->index, device, error);
    if (!present) return false;
    for (const auto& prefix : *present) {
        Request change;
        auto& info = change.start<ifaddrmsg>(RTM_DELADDR, 0);
        info.ifa_family = AF_INET;
        info.ifa_prefixlen = static_cast<unsigned char>(prefix.length);
        info.ifa_index = static_cast<unsigned>(found->index);
        change.append(IFA_LOCAL, &prefix.address, sizeof(prefix.address));
        int result = request(change.header());
        // EADDRNOTAVAIL: it went with the primary address it was secondary to.
        if (result != 0 && result != EADDRNOTAVAIL) {
            error = failure(device, result);
            return false;
        }
    }
    return true;
}

}  // namespace ww::netlink
