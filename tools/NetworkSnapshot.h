#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ww::tools {

struct IPv4Address {
    std::string address;
    int prefixLength = 32;
    std::optional<std::string> broadcast;
    // The other end of a point-to-point link.
    std::optional<std::string> peer;
};

struct IPv6Address {
    std::string address;
    int prefixLength = 128;
    bool linkLocal = false;
};

// One network interface as the kernel reports it.
struct Link {
    int index = 0;
    std::string name;
    unsigned flags = 0;               // IFF_* bits
    unsigned short hardwareType = 0;  // ARPHRD_*
    unsigned mtu = 0;
    // Lower-case, colon-separated; absent when the link has none.
    std::optional<std::string> hardwareAddress;
    // Carrier up and administratively up (what macOS calls "status: active").
    bool active = false;
    std::vector<IPv4Address> ipv4;
    std::vector<IPv6Address> ipv6;
};

// An IPv4 default route of the main table through one interface.
struct DefaultRoute {
    int interfaceIndex = 0;
    std::uint32_t metric = 0;
};

// The links (in index order), their addresses and the default routes of the
// network namespace the program runs in.
struct NetworkSnapshot {
    std::vector<Link> links;
    std::vector<DefaultRoute> defaultRoutes;

    const Link* findLink(const std::string& name) const;
    const Link* findLink(int index) const;
};

// Reads the snapshot over rtnetlink. Nothing (and a reason) when the kernel
// cannot be asked.
std::optional<NetworkSnapshot> readNetworkSnapshot(std::string* error);

// The kernel's announcements of link, address and IPv4 route changes in the
// network namespace the watch was opened in: what was read from there stays
// true until one comes.
class NetworkChangeWatch {
  public:
    // Opens the watch in the calling thread's network namespace; null (and a
    // reason) when the kernel refuses.
    static std::unique_ptr<NetworkChangeWatch> open(std::string* error);
    ~NetworkChangeWatch();
    NetworkChangeWatch(const NetworkChangeWatch&) = delete;
    NetworkChangeWatch& operator=(const NetworkChangeWatch&) = delete;

    // Whether the calling thread is in the watched namespace.
    bool watchesCallersNamespace() const;
    // Whether a change was announced (or announcements were lost) since the
    // previous call; true at the first call. Consumes the announcements, so a
    // read made after this call is current until the next change.
    bool takeChanges();

  private:
    NetworkChangeWatch(int fd, dev_t namespaceDevice, ino_t namespaceInode);
    int m_fd;
    dev_t m_namespaceDevice;
    ino_t m_namespaceInode;
    bool m_looked = false;
};

}  // namespace ww::tools
