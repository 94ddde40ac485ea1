#include "tools/NetworkSnapshot.h"

// <net/if.h> must come before the linux headers, which redefine its names.
#include <net/if.h>
// clang-format off
#include <arpa/inet.h>
#include <linux/if.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
// clang-format on
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

namespace ww::tools {

const Link* NetworkSnapshot::findLink(const std::string& name) const {
    for (const Link& l : links) {
        if (l.name == name) return &l;
    }
    return nullptr;
}

const Link* NetworkSnapshot::findLink(int index) const {
    for (const Link& l : links) {
        if (l.index == index) return &l;
    }
    return nullptr;
}

namespace {

class NetlinkSocket {
  public:
    NetlinkSocket() : m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
    ~NetlinkSocket() {
        if (m_fd >= 0) ::close(m_fd);
    }
    NetlinkSocket(const NetlinkSocket&) = delete;
    NetlinkSocket& operator=(const NetlinkSocket&) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

enum class DumpResult { Done, Interrupted, Failed };

// Sends one dump request with `header` as its family header and hands every
// answer message to `onMessage`.
template <typename Header>
DumpResult dump(std::uint16_t type, const Header& header,
                const std::function<void(const nlmsghdr*)>& onMessage, std::string* error) {
    NetlinkSocket sock;
    if (sock.fd() < 0) {
        if (error) *error = std::string("netlink socket: ") + std::strerror(errno);
        return DumpResult::Failed;
    }
    struct {
        nlmsghdr nlh;
        Header body;
    } request{};
    request.nlh.nlmsg_len = NLMSG_LENGTH(sizeof(Header));
    request.nlh.nlmsg_type = type;
    request.nlh.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.nlh.nlmsg_seq = 1;
    request.body = header;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(sock.fd(), &request, request.nlh.nlmsg_len, 0,
                 reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) < 0) {
        if (error) *error = std::string("netlink send: ") + std::strerror(errno);
        return DumpResult::Failed;
    }

    // Not zeroed: only what recv wrote is read.
    std::unique_ptr<char[]> storage(new char[1 << 16]);
    const std::size_t capacity = 1 << 16;
    bool interrupted = false;
    for (;;) {
        ssize_t n = ::recv(sock.fd(), storage.get(), capacity, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (error) *error = std::string("netlink receive: ") + std::strerror(errno);
            return DumpResult::Failed;
        }
        if (n == 0) break;
        auto len = static_cast<unsigned>(n);
        for (auto* h = reinterpret_cast<nlmsghdr*>(storage.get()); NLMSG_OK(h, len);
             h = NLMSG_NEXT(h, len)) {
            if (h->nlmsg_flags & NLM_F_DUMP_INTR) interrupted = true;
            if (h->nlmsg_type == NLMSG_DONE) {
                return interrupted ? DumpResult::Interrupted : DumpResult::Done;
            }
            if (h->nlmsg_type == NLMSG_ERROR) {
                auto* e = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
                if (error) *error = std::string("netlink: ") + std::strerror(-e->error);
                return DumpResult::Failed;
            }
            onMessage(h);
        }
    }
    return DumpResult::Done;
}

std::string formatHardwareAddress(const unsigned char* bytes, size_t length) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        if (i) out += ':';
        out += kHex[bytes[i] >> 4];
        out += kHex[bytes[i] & 0xF];
    }
    return out;
}

std::string addressText(int family, const void* raw) {
    char buffer[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(family, raw, buffer, sizeof buffer)) return {};
    return buffer;
}

void readLink(const nlmsghdr* h, std::vector<Link>& links) {
    if (h->nlmsg_type != RTM_NEWLINK) return;
    auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
    Link link;
    link.index = info->ifi_index;
    link.flags = info->ifi_flags;
    link.hardwareType = info->ifi_type;
    int operState = IF_OPER_UNKNOWN;
    int len = static_cast<int>(IFLA_PAYLOAD(h));
    for (auto* a = IFLA_RTA(info); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
        auto* data = static_cast<const unsigned char*>(RTA_DATA(a));
        size_t size = RTA_PAYLOAD(a);
        switch (a->rta_type) {
            case IFLA_IFNAME:
                link.name.assign(reinterpret_cast<const char*>(data),
                                 strnlen(reinterpret_cast<const char*>(data), size));
                break;
            case IFLA_ADDRESS:
                if (size > 0) link.hardwareAddress = formatHardwareAddress(data, size);
                break;
            case IFLA_MTU:
                if (size >= 4) std::memcpy(&link.mtu, data, 4);
                break;
            case IFLA_OPERSTATE:
                if (size >= 1) operState = data[0];
                break;
            default:
                break;
        }
    }
    // Links without a state of their own (loopback, tun, dummy) report
    // "unknown"; their flags tell whether the carrier is there.
    bool up = (link.flags & IFF_UP) != 0;
    bool lowerUp = (link.flags & IFF_LOWER_UP) != 0;
    link.active = up && (operState == IF_OPER_UP || (operState == IF_OPER_UNKNOWN && lowerUp));
    if (link.hardwareType == ARPHRD_LOOPBACK || link.hardwareType == ARPHRD_NONE) {
        link.hardwareAddress.reset();
    }
    links.push_back(std::move(link));
}

void readAddress(const nlmsghdr* h, std::vector<Link>& links) {
    if (h->nlmsg_type != RTM_NEWADDR) return;
    auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
    auto link = std::find_if(links.begin(), links.end(), [&](const Link& l) {
        return l.index == static_cast<int>(info->ifa_index);
    });
    if (link == links.end()) return;
    std::optional<std::string> local, address, broadcast;
    int len = static_cast<int>(IFA_PAYLOAD(h));
    for (auto* a = IFA_RTA(info); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
        size_t need = info->ifa_family == AF_INET ? 4 : 16;
        if (RTA_PAYLOAD(a) < need) continue;
        std::string text = addressText(info->ifa_family, RTA_DATA(a));
        if (a->rta_type == IFA_LOCAL) local = text;
        if (a->rta_type == IFA_ADDRESS) address = text;
        if (a->rta_type == IFA_BROADCAST) broadcast = text;
    }
    if (info->ifa_family == AF_INET) {
        // IFA_LOCAL is this side; IFA_ADDRESS differs from it only on a
        // point-to-point link, where it names the other end.
        IPv4Address v4;
        v4.address = local ? *local : address.value_or("");
        if (v4.address.empty()) return;
        v4.prefixLength = info->ifa_prefixlen;
        v4.broadcast = broadcast;
        if (local && address && *local != *address) v4.peer = address;
        link->ipv4.push_back(std::move(v4));
    } else if (info->ifa_family == AF_INET6) {
        IPv6Address v6;
        v6.address = address ? *address : local.value_or("");
        if (v6.address.empty()) return;
        v6.prefixLength = info->ifa_prefixlen;
        v6.linkLocal = info->ifa_scope == RT_SCOPE_LINK;
        link->ipv6.push_back(std::move(v6));
    }
}

void readRoute(const nlmsghdr* h, std::vector<DefaultRoute>& routes) {
    if (h->nlmsg_type != RTM_NEWROUTE) return;
    auto* rt = static_cast<const rtmsg*>(NLMSG_DATA(h));
    if (rt->rtm_family != AF_INET || rt->rtm_dst_len != 0 || rt->rtm_type != RTN_UNICAST) return;
    std::uint32_t table = rt->rtm_table;
    std::uint32_t metric = 0;
    int oif = 0;
    std::vector<int> hops;
    int len = static_cast<int>(RTM_PAYLOAD(h));
    for (auto* a = RTM_RTA(rt); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
        size_t size = RTA_PAYLOAD(a);
        switch (a->rta_type) {
            case RTA_TABLE:
                if (size >= 4) std::memcpy(&table, RTA_DATA(a), 4);
                break;
            case RTA_PRIORITY:
                if (size >= 4) std::memcpy(&metric, RTA_DATA(a), 4);
                break;
            case RTA_OIF:
                if (size >= 4) std::memcpy(&oif, RTA_DATA(a), 4);
                break;
            case RTA_MULTIPATH: {
                auto* hop = static_cast<const rtnexthop*>(RTA_DATA(a));
                auto left = static_cast<int>(size);
                while (left >= static_cast<int>(sizeof(rtnexthop)) && RTNH_OK(hop, left)) {
                    hops.push_back(hop->rtnh_ifindex);
                    left -= RTNH_ALIGN(hop->rtnh_len);
                    hop = RTNH_NEXT(hop);
                }
                break;
            }
            default:
                break;
        }
    }
    // The dump also delivers the local table; only the main table routes.
    if (table != RT_TABLE_MAIN) return;
    if (oif) hops.push_back(oif);
    for (int index : hops) routes.push_back({index, metric});
}

}  // namespace

std::optional<NetworkSnapshot> readNetworkSnapshot(std::string* error) {
    // A dump that raced with a change is marked interrupted: read it all again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        NetworkSnapshot snapshot;
        ifinfomsg linkRequest{};
        linkRequest.ifi_family = AF_UNSPEC;
        ifaddrmsg addressRequest{};
        addressRequest.ifa_family = AF_UNSPEC;
        rtmsg routeRequest{};
        routeRequest.rtm_family = AF_INET;

        DumpResult r = dump(
            RTM_GETLINK, linkRequest, [&](const nlmsghdr* h) { readLink(h, snapshot.links); },
            error);
        if (r == DumpResult::Failed) return std::nullopt;
        bool interrupted = r == DumpResult::Interrupted;
        r = dump(
            RTM_GETADDR, addressRequest, [&](const nlmsghdr* h) { readAddress(h, snapshot.links); },
            error);
        if (r == DumpResult::Failed) return std::nullopt;
        interrupted = interrupted || r == DumpResult::Interrupted;
        r = dump(
            RTM_GETROUTE, routeRequest,
            [&](const nlmsghdr* h) { readRoute(h, snapshot.defaultRoutes); }, error);
        if (r == DumpResult::Failed) return std::nullopt;
        interrupted = interrupted || r == DumpResult::Interrupted;
        if (interrupted && attempt < 4) continue;

        std::sort(snapshot.links.begin(), snapshot.links.end(),
                  [](const Link& a, const Link& b) { return a.index < b.index; });
        return snapshot;
    }
    return std::nullopt;
}

namespace {

constexpr const char* kThreadNamespace = "/proc/thread-self/ns/net";

}  // namespace

std::unique_ptr<NetworkChangeWatch> NetworkChangeWatch::open(std::string* error) {
    struct stat ns {};
    if (::stat(kThreadNamespace, &ns) != 0) {
        if (error) *error = std::string(kThreadNamespace) + ": " + std::strerror(errno);
        return nullptr;
    }
    int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0) {
        if (error) *error = std::string("netlink socket: ") + std::strerror(errno);
        return nullptr;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        if (error) *error = std::string("netlink bind: ") + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<NetworkChangeWatch>(new NetworkChangeWatch(fd, ns.st_dev, ns.st_ino));
}

NetworkChangeWatch::NetworkChangeWatch(int fd, dev_t namespaceDevice, ino_t namespaceInode)
    : m_fd(fd), m_namespaceDevice(namespaceDevice), m_namespaceInode(namespaceInode) {}

NetworkChangeWatch::~NetworkChangeWatch() { ::close(m_fd); }

bool NetworkChangeWatch::watchesCallersNamespace() const {
    struct stat ns {};
    return ::stat(kThreadNamespace, &ns) == 0 && ns.st_dev == m_namespaceDevice &&
           ns.st_ino == m_namespaceInode;
}

bool NetworkChangeWatch::takeChanges() {
    bool changed = !m_looked;
    m_looked = true;
    char buffer[4096];
    for (;;) {
        // Only that something came matters: a longer message is cut short.
        ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
        if (n >= 0) {
            changed = true;
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return changed;  // nothing more queued
        // ENOBUFS: the kernel dropped announcements; anything else: the watch
        // cannot tell. Either way anything may have changed.
        if (errno != ENOBUFS) return true;
        changed = true;
    }
}

}  // namespace ww::tools
