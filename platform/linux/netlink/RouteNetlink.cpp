#include "platform/linux/netlink/RouteNetlink.h"

// <net/if.h> must come before the kernel headers that pull in <linux/if.h>.
#include <net/if.h>
// clang-format off
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/if_link.h>
// clang-format on
#include <netinet/in.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ww::netlink {

namespace {

// Large enough for any datagram the kernel builds for a dump (it caps them
// at 32 KiB), so nothing is ever cut off.
constexpr std::size_t kReceiveBufferSize = 64 * 1024;
// A lookup is answered within microseconds; this only guards against a
// kernel that never answers.
constexpr int kAnswerTimeoutSeconds = 2;

std::string errnoText(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}


bool hasGatewayInMultipath(const rtattr& multipath) {
    auto* hop = reinterpret_cast<const rtnexthop*>(RTA_DATA(&multipath));
    int remaining = static_cast<int>(RTA_PAYLOAD(&multipath));
    while (remaining >= static_cast<int>(sizeof(rtnexthop)) && hop->rtnh_len >= sizeof(rtnexthop) &&
           static_cast<int>(hop->rtnh_len) <= remaining) {
        auto* attribute = RTNH_DATA(hop);
        int attributesLength = static_cast<int>(hop->rtnh_len - RTNH_LENGTH(0));
        for (; RTA_OK(attribute, attributesLength);
             attribute = RTA_NEXT(attribute, attributesLength)) {
            if (attribute->rta_type == RTA_GATEWAY || attribute->rta_type == RTA_VIA) return true;
        }
        remaining -= static_cast<int>(RTNH_ALIGN(hop->rtnh_len));
        hop = RTNH_NEXT(hop);
    }
    return false;
}

unsigned routeTable(const nlmsghdr& message) {
    auto* route = reinterpret_cast<const rtmsg*>(NLMSG_DATA(&message));
    unsigned table = route->rtm_table;
    forEachAttribute(message, sizeof(rtmsg), [&](const rtattr& attribute) {
        if (attribute.rta_type == RTA_TABLE && RTA_PAYLOAD(&attribute) >= sizeof(std::uint32_t)) {
            std::uint32_t value;
            std::memcpy(&value, RTA_DATA(&attribute), sizeof(value));
            table = value;
        }
    });
    return table;
}

void appendAttribute(nlmsghdr& message, std::size_t capacity, unsigned short type, const void* data,
                     std::size_t length) {
    std::size_t offset = NLMSG_ALIGN(message.nlmsg_len);
    if (offset + RTA_SPACE(length) > capacity) return;
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&message) + offset);
    attribute->rta_type = type;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(length));
    std::memcpy(RTA_DATA(attribute), data, length);
    message.nlmsg_len = static_cast<std::uint32_t>(offset + RTA_SPACE(length));
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
}

void UniqueFd::reset(int fd) {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

UniqueFd openRouteSocket(bool nonBlocking, std::string& error) {
    int type = SOCK_RAW | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    UniqueFd fd(::socket(AF_NETLINK, type, NETLINK_ROUTE));
    if (!fd) {
        error = errnoText("socket(NETLINK_ROUTE)", errno);
        return {};
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0) {
        error = errnoText("bind(NETLINK_ROUTE)", errno);
        return {};
    }
    return fd;
}

const std::vector<unsigned>& changeGroups() {
    static const std::vector<unsigned> groups = {RTNLGRP_LINK, RTNLGRP_IPV4_IFADDR,
                                                 RTNLGRP_IPV6_IFADDR, RTNLGRP_IPV4_ROUTE,
                                                 RTNLGRP_IPV6_ROUTE};
    return groups;
}

void classifyChange(const nlmsghdr& message, ChangeSummary& summary) {
    switch (message.nlmsg_type) {
        case NLMSG_OVERRUN:
            summary.overrun = true;
            return;
        case RTM_NEWLINK:
        case RTM_DELLINK: {
            if (message.nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) return;
            bool wireless = false;
            forEachAttribute(message, sizeof(ifinfomsg), [&](const rtattr& attribute) {
                if (attribute.rta_type == IFLA_WIRELESS) wireless = true;
            });
            // Scan results and similar Wi-Fi chatter: the link itself is unchanged.
            if (!wireless) summary.changed = summary.interfaceChanged = true;
            return;
        }
        case RTM_NEWADDR:
        case RTM_DELADDR:
            if (message.nlmsg_len >= NLMSG_LENGTH(sizeof(ifaddrmsg))) {
                summary.changed = summary.interfaceChanged = true;
            }
            return;
        case RTM_NEWROUTE:
        case RTM_DELROUTE: {
            if (message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return;
            auto* route = reinterpret_cast<const rtmsg*>(NLMSG_DATA(&message));
            if (route->rtm_flags & RTM_F_CLONED) return;
            if (routeTable(message) == RT_TABLE_LOCAL) return;
            summary.changed = true;
            return;
        }
        default:
            return;
    }
}

ChangeSummary classifyChanges(const void* data, std::size_t length) {
    ChangeSummary summary;
    forEachMessage(data, length,
                   [&](const nlmsghdr& message) { classifyChange(message, summary); });
    return summary;
}

ReachabilityFlags flagsForRoute(const nlmsghdr& message) {
    if (message.nlmsg_type != RTM_NEWROUTE || message.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
        return 0;
    }
    auto* route = reinterpret_cast<const rtmsg*>(NLMSG_DATA(&message));
    switch (route->rtm_type) {
        case RTN_UNICAST:
        case RTN_LOCAL:
        case RTN_BROADCAST:
        case RTN_ANYCAST:
        case RTN_MULTICAST:
            break;
        default:
            return 0;
    }
    // A route over a link without carrier stays in the table but carries nothing.
    if (route->rtm_flags & RTNH_F_LINKDOWN) return 0;
    bool gateway = false;
    forEachAttribute(message, sizeof(rtmsg), [&](const rtattr& attribute) {
        if (attribute.rta_type == RTA_GATEWAY || attribute.rta_type == RTA_VIA) gateway = true;
        if (attribute.rta_type == RTA_MULTIPATH && hasGatewayInMultipath(attribute)) gateway = true;
    });
    ReachabilityFlags flags = kReachabilityFlagsReachable;
    if (route->rtm_type == RTN_LOCAL) flags |= kReachabilityFlagsIsLocalAddress;
    if (!gateway) flags |= kReachabilityFlagsIsDirect;
    return flags;
}

bool isUnspecifiedAddress(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr == INADDR_ANY;
    }
    if (address.ss_family == AF_INET6) {
        return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr);
    }
    return false;
}

// ---- RequestSocket ----

std::optional<RequestSocket> RequestSocket::open(std::string& error) {
    UniqueFd fd = openRouteSocket(false, error);
    if (!fd) return std::nullopt;
    timeval timeout{kAnswerTimeoutSeconds, 0};
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) != 0) {
        error = errnoText("setsockopt(SO_RCVTIMEO)", errno);
        return std::nullopt;
    }
    return RequestSocket(std::move(fd));
}

bool RequestSocket::exchange(nlmsghdr& request,
                             const std::function<void(const nlmsghdr&)>& onMessage) {
    if (m_buffer.empty()) m_buffer.resize(kReceiveBufferSize);
    const bool dump = (request.nlmsg_flags & NLM_F_DUMP) == NLM_F_DUMP;
    std::uint32_t sequence = ++m_sequence;
    request.nlmsg_seq = sequence;
    request.nlmsg_pid = 0;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = ::sendto(m_fd.get(), &request, request.nlmsg_len, 0,
                        reinterpret_cast<sockaddr*>(&kernel), sizeof(kernel));
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(request.nlmsg_len)) return false;

    for (;;) {
        sockaddr_nl from{};
        socklen_t fromLength = sizeof(from);
        ssize_t received = ::recvfrom(m_fd.get(), m_buffer.data(), m_buffer.size(), MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (received < 0 && errno == EINTR) continue;
        // Timeout, socket error, or a datagram larger than the buffer.
        if (received <= 0 || static_cast<std::size_t>(received) > m_buffer.size()) return false;
        if (from.nl_pid != 0) continue;  // only the kernel answers
        bool finished = false;
        forEachMessage(m_buffer.data(), static_cast<std::size_t>(received),
                       [&](const nlmsghdr& message) {
                           // Late answers to an earlier request that timed out.
                           if (finished || message.nlmsg_seq != sequence) return;
                           if (message.nlmsg_type == NLMSG_DONE) {
                               finished = true;
                               return;
                           }
                           onMessage(message);
                           if (message.nlmsg_type == NLMSG_ERROR || !dump) finished = true;
                       });
        if (finished) return true;
    }
}

// ---- RouteTable ----

std::shared_ptr<RouteTable> RouteTable::open(std::string& error) {
    std::optional<RequestSocket> socket = RequestSocket::open(error);
    if (!socket) return nullptr;
    return std::shared_ptr<RouteTable>(new RouteTable(std::move(*socket)));
}

std::optional<ReachabilityFlags> RouteTable::flagsForAddress(const sockaddr_storage& address) {
    if (isUnspecifiedAddress(address)) return flagsForDefaultRoute();

    int family = address.ss_family;
    const void* bytes = nullptr;
    std::size_t length = 0;
    std::uint32_t scope = 0;
    in_addr mapped{};
    if (family == AF_INET) {
        bytes = &reinterpret_cast<const sockaddr_in&>(address).sin_addr;
        length = sizeof(in_addr);
    } else if (family == AF_INET6) {
        auto& sin6 = reinterpret_cast<const sockaddr_in6&>(address);
        if (IN6_IS_ADDR_V4MAPPED(&sin6.sin6_addr)) {
            // An IPv4 host written in IPv6 form travels over IPv4 routes.
            std::memcpy(&mapped, sin6.sin6_addr.s6_addr + 12, sizeof(mapped));
            family = AF_INET;
            bytes = &mapped;
            length = sizeof(in_addr);
        } else {
            bytes = &sin6.sin6_addr;
            length = sizeof(in6_addr);
            scope = sin6.sin6_scope_id;
        }
    } else {
        return std::nullopt;
    }

    alignas(nlmsghdr) char buffer[NLMSG_SPACE(sizeof(rtmsg)) + 64] = {};
    auto* request = reinterpret_cast<nlmsghdr*>(buffer);
    request->nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request->nlmsg_type = RTM_GETROUTE;
    request->nlmsg_flags = NLM_F_REQUEST;
    auto* route = reinterpret_cast<rtmsg*>(NLMSG_DATA(request));
    route->rtm_family = static_cast<unsigned char>(family);
    route->rtm_dst_len = static_cast<unsigned char>(length * 8);
    // The table entry that matched, not a cache entry: only it tells whether
    // the route's link has carrier.
    route->rtm_flags = RTM_F_FIB_MATCH;
    appendAttribute(*request, sizeof(buffer), RTA_DST, bytes, length);
    if (scope != 0) appendAttribute(*request, sizeof(buffer), RTA_OIF, &scope, sizeof(scope));

    std::lock_guard lock(m_mutex);
    std::optional<ReachabilityFlags> flags;
    bool answered = m_socket.exchange(*request, [&](const nlmsghdr& answer) {
        if (answer.nlmsg_type == NLMSG_ERROR) {
            flags = 0;  // no route (unreachable, prohibited, blackhole, ...)
        } else if (answer.nlmsg_type == RTM_NEWROUTE) {
            flags = flagsForRoute(answer);
        }
    });
    if (!answered) return std::nullopt;
    return flags;
}

std::optional<ReachabilityFlags> RouteTable::flagsForDefaultRoute() {
    struct {
        nlmsghdr header;
        rtmsg route;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.route.rtm_family = AF_UNSPEC;

    std::lock_guard lock(m_mutex);
    std::optional<ReachabilityFlags> found;
    bool failed = false;
    bool answered = m_socket.exchange(request.header, [&](const nlmsghdr& answer) {
        if (answer.nlmsg_type == NLMSG_ERROR) {
            failed = true;
            return;
        }
        if (answer.nlmsg_type != RTM_NEWROUTE || found) return;
        if (answer.nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return;
        auto* route = reinterpret_cast<const rtmsg*>(NLMSG_DATA(&answer));
        if (route->rtm_family != AF_INET && route->rtm_family != AF_INET6) return;
        if (route->rtm_dst_len != 0 || (route->rtm_flags & RTM_F_CLONED)) return;
        if (routeTable(answer) != RT_TABLE_MAIN) return;
        ReachabilityFlags flags = flagsForRoute(answer);
        if (flags & kReachabilityFlagsReachable) found = flags;
    });
    if (!answered || failed) return std::nullopt;
    return found.value_or(0);
}

}  // namespace ww::netlink
