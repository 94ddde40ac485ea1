#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reachability/ReachabilityService.h"

namespace ww::netlink {

// The reachability service on Linux, over rtnetlink.
//
// Changes: one socket subscribed to link, IPv4/IPv6 address and route
// changes. Every burst of such messages becomes one report to every target
// that delivers changes, whether or not its own flags moved: a wired link
// coming up must start a check even when the watched host stays reachable.
// A burst ends after a quiet period, a short one when it holds a link or
// address change (see Options).
//
// Flags: a route lookup in the kernel for the target's address. Reachable
// when there is a usable route, direct when it has no gateway, local address
// when the address is this machine's own. A host name is looked up by its
// resolved addresses (the first reachable one counts); it is resolved in a
// child process when delivery starts and again after every report, and while
// it does not resolve its flags are those of the default route. The
// unspecified address (0.0.0.0) also stands for the default route.
//
// Threads: one, and only while some target delivers changes; it is joined
// when the last one stops. Flags may be read from any thread; for a name that
// is not being watched, reading them resolves it first, which can take up to
// the resolver's time limit.
class NetlinkReachabilityService : public ReachabilityService {
  public:
    struct Options {
        // A burst ends once no further message came for this long. The kernel
        // sends all messages of one change within the same system call (well
        // under 1 ms apart), and network managers apply an address and then
        // its routes in separate requests a few milliseconds apart; 20 ms
        // takes in both while adding little to the time until a check starts.
        std::chrono::milliseconds quietPeriod{20};
        // The quiet period of a burst that holds a link or address change.
        // The kernel announces an address before it adds the address's own
        // routes, within the same system call (microseconds apart), so a
        // pause far shorter than a millisecond still takes them in; the
        // routes a network manager adds later in requests of its own become a
        // report of their own. A check (which reads addresses, not routes)
        // then starts without waiting for them, and every report still
        // carries the flags of the routes there at its time.
        std::chrono::microseconds interfaceQuietPeriod{300};
        // A steady stream of messages still gets a report this long after its
        // first message.
        std::chrono::milliseconds burstLimit{200};
        // The resolver program and its leading arguments; the name is appended.
        // It prints one address at the start of each line.
        std::vector<std::string> resolverCommand{"getent", "ahosts", "--"};
        // A resolution that takes longer counts as failed.
        std::chrono::milliseconds resolverTimeLimit{10000};
    };

    // Opens the service's sockets in the network namespace of the calling
    // thread; that namespace is the one it watches. Null (with `error`
    // filled) when the kernel refuses.
    static std::shared_ptr<NetlinkReachabilityService> create(Options options, std::string& error);
    ~NetlinkReachabilityService() override;

    // A numeric IPv4 or IPv6 name is taken as that address. Null for a name
    // that no resolver would accept (see isResolvableName).
    std::unique_ptr<ReachabilityTarget> createWithName(const std::string& name) override;
    // Null for a family other than IPv4 and IPv6.
    std::unique_ptr<ReachabilityTarget> createWithAddress(const sockaddr_storage& address) override;

    // True while the service's thread runs.
    bool isWatching() const;
    // When the first message of the latest burst of changes arrived (its
    // report comes after the quiet period); nothing before the first.
    std::optional<std::chrono::steady_clock::time_point> lastChangeStarted() const;

    class Engine;

  private:
    explicit NetlinkReachabilityService(std::shared_ptr<Engine> engine);
    std::shared_ptr<Engine> m_engine;
};

}  // namespace ww::netlink
