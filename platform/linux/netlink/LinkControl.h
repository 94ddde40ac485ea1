#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/netlink/RouteNetlink.h"

namespace ww::netlink {

// An IPv4 address with its prefix length, as in "198.51.100.2/24".
struct Ipv4Prefix {
    std::uint32_t address = 0;  // network byte order
    unsigned length = 32;

    // Parses "A.B.C.D/N" (N from 0 to 32) or a bare "A.B.C.D" (taken as /32);
    // nothing for anything else, blanks included.
    static std::optional<Ipv4Prefix> parse(std::string_view text);
    // "A.B.C.D/N".
    std::string text() const;
    // The directed broadcast address (network byte order); the address itself
    // for /31 and /32, which have none.
    std::uint32_t broadcast() const;

    bool operator==(const Ipv4Prefix&) const = default;
};

// Changes a network device over rtnetlink: link up or down, IPv4 addresses.
// Every change asks the kernel for an acknowledgement, so a successful call
// has been applied when it returns. Changes that are already in place are not
// requested again and make no netlink notification, so that watchers of the
// link do not see changes that did not happen.
//
// The socket belongs to the network namespace of the thread that opened it.
// Not for use by several threads at once. Errors are texts such as
// "ww-wifi0: Operation not permitted".
class LinkControl {
  public:
    static std::unique_ptr<LinkControl> open(std::string& error);

    // The device's administrative state (IFF_UP); nothing when unreadable.
    std::optional<bool> isUp(const std::string& device, std::string& error);
    bool setUp(const std::string& device, bool up, std::string& error);

    // The device's IPv4 addresses in the kernel's order; nothing when unreadable.
    std::optional<std::vector<Ipv4Prefix>> ipv4Addresses(const std::string& device,
                                                         std::string& error);
    // Adds the address (with its broadcast address) unless the device has it.
    bool addIpv4Address(const std::string& device, const Ipv4Prefix& prefix, std::string& error);
    // Removes every IPv4 address of the device.
    bool removeIpv4Addresses(const std::string& device, std::string& error);

  private:
    struct Link {
        int index = 0;
        bool up = false;
    };

    explicit LinkControl(RequestSocket socket) : m_socket(std::move(socket)) {}
    // Looks the device up through the socket, in the socket's namespace.
    std::optional<Link> link(const std::string& device, std::string& error);
    std::optional<std::vector<Ipv4Prefix>> ipv4Addresses(int index, const std::string& device,
                                                         std::string& error);
    // Sends a change with NLM_F_ACK and waits for the kernel's answer; the
    // kernel's errno on refusal, -1 when the exchange itself failed.
    int request(nlmsghdr& message);

    RequestSocket m_socket;
};

}  // namespace ww::netlink
