#pragma once

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reachability/ReachabilityService.h"

namespace ww::netlink {

// An owned file descriptor.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release() {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

  private:
    int m_fd = -1;
};

// Calls `onMessage` for every whole message of one datagram, in order; a
// malformed or cut-off message ends the walk.
template <typename OnMessage>
void forEachMessage(const void* data, std::size_t length, OnMessage&& onMessage) {
    const char* at = static_cast<const char*>(data);
    std::size_t left = length;
    while (left >= sizeof(nlmsghdr)) {
        auto* message = reinterpret_cast<const nlmsghdr*>(at);
        if (message->nlmsg_len < sizeof(nlmsghdr) || message->nlmsg_len > left) return;
        onMessage(*message);
        std::size_t step = NLMSG_ALIGN(message->nlmsg_len);
        if (step >= left) return;
        at += step;
        left -= step;
    }
}

// Calls `onAttribute` for every attribute of one message, starting `offset`
// bytes into its payload (after the message's fixed part).
template <typename OnAttribute>
void forEachAttribute(const nlmsghdr& message, std::size_t offset, OnAttribute&& onAttribute) {
    if (message.nlmsg_len < NLMSG_LENGTH(offset)) return;
    auto* attribute = reinterpret_cast<const rtattr*>(
        reinterpret_cast<const char*>(NLMSG_DATA(&message)) + NLMSG_ALIGN(offset));
    int remaining = static_cast<int>(message.nlmsg_len) - static_cast<int>(NLMSG_SPACE(offset));
    for (; RTA_OK(attribute, remaining); attribute = RTA_NEXT(attribute, remaining)) {
        onAttribute(*attribute);
    }
}

// A close-on-exec rtnetlink socket bound in the network namespace of the
// calling thread; invalid (with `error` filled) when the kernel refuses.
UniqueFd openRouteSocket(bool nonBlocking, std::string& error);

// The multicast groups that carry link, IPv4/IPv6 address and route changes.
const std::vector<unsigned>& changeGroups();

// What a batch of messages from the change groups means for reachability.
struct ChangeSummary {
    bool changed = false;  // a link, an address or a route of interest changed
    // A link or an address changed (what starts a check); the kernel's own
    // routes for an address come in the same system call.
    bool interfaceChanged = false;
    bool overrun = false;  // the kernel lost messages: everything must be re-read
};

// Classifies one message from the change groups. Ignored: wireless-extension
// events (which arrive as link messages), routes of the local table (the
// kernel's bookkeeping of this machine's own addresses, always accompanied by
// an address or link message), and cached routes (redirects, path MTU).
void classifyChange(const nlmsghdr& message, ChangeSummary& summary);
// Classifies every message of one datagram; malformed tails are ignored.
ChangeSummary classifyChanges(const void* data, std::size_t length);

// The flags that a route answer stands for: reachable for a usable route,
// direct when it has no gateway, local address for a local route. Zero for
// an unusable route (unreachable, blackhole, prohibit, throw, link down).
ReachabilityFlags flagsForRoute(const nlmsghdr& route);

// True for the IPv4 or IPv6 unspecified address (0.0.0.0, ::).
bool isUnspecifiedAddress(const sockaddr_storage& address);

// A socket for request-and-answer exchanges with the kernel, with a time limit
// on every answer so that a lost one cannot hang the caller. Not for use by
// several threads at once.
class RequestSocket {
  public:
    // Invalid (with `error` filled) when the kernel refuses the socket.
    static std::optional<RequestSocket> open(std::string& error);

    // Sends one request and hands its answer messages to `onMessage`: every
    // one of a dump (NLM_F_DUMP), else the first; an error answer ends the
    // exchange. False when the exchange itself failed.
    bool exchange(nlmsghdr& request, const std::function<void(const nlmsghdr&)>& onMessage);

  private:
    explicit RequestSocket(UniqueFd fd) : m_fd(std::move(fd)) {}

    UniqueFd m_fd;
    std::uint32_t m_sequence = 0;
    std::vector<char> m_buffer;
};

// Asks the kernel about routes over one socket of its own, from any thread.
// The namespace is the one the table was opened in.
class RouteTable {
  public:
    static std::shared_ptr<RouteTable> open(std::string& error);

    // The flags of the kernel's route to `address` (a route lookup, policy
    // rules included): 0 when the kernel has no usable route, nothing when
    // it could not be asked. The unspecified address asks for a default route.
    std::optional<ReachabilityFlags> flagsForAddress(const sockaddr_storage& address);

    // Reachable when the main table has a usable IPv4 or IPv6 default route,
    // and direct when that route has no gateway; nothing when unreadable.
    std::optional<ReachabilityFlags> flagsForDefaultRoute();

  private:
    explicit RouteTable(RequestSocket socket) : m_socket(std::move(socket)) {}

    std::mutex m_mutex;
    RequestSocket m_socket;
};

}  // namespace ww::netlink
