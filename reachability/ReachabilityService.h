#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/SerialQueue.h"

namespace ww {

// The reachability flags: the published bit set of the platform service.
using ReachabilityFlags = std::uint32_t;

constexpr ReachabilityFlags kReachabilityFlagsTransientConnection = 0x1;
constexpr ReachabilityFlags kReachabilityFlagsReachable = 0x2;
constexpr ReachabilityFlags kReachabilityFlagsConnectionRequired = 0x4;
constexpr ReachabilityFlags kReachabilityFlagsConnectionOnTraffic = 0x8;
constexpr ReachabilityFlags kReachabilityFlagsInterventionRequired = 0x10;
constexpr ReachabilityFlags kReachabilityFlagsConnectionOnDemand = 0x20;
constexpr ReachabilityFlags kReachabilityFlagsIsLocalAddress = 0x10000;
constexpr ReachabilityFlags kReachabilityFlagsIsDirect = 0x20000;

// One watched target (a host name or an address) of a reachability service.
// Targets may be used from any thread.
class ReachabilityTarget {
  public:
    // Called on the delivery queue after the network changed, with the
    // target's flags at that moment.
    using Callback = std::function<void(ReachabilityFlags flags)>;

    virtual ~ReachabilityTarget() = default;

    // The current flags, or nothing when they cannot be read.
    virtual std::optional<ReachabilityFlags> flags() = 0;

    // Registers the change callback; an empty callback unregisters it. Returns
    // false and fills `error` when the service cannot take it.
    [[nodiscard]] virtual bool setCallback(Callback callback, std::string& error) = 0;

    // Starts delivering changes on `queue`; a null queue stops delivery.
    // Changes still waiting on the queue when delivery stops are dropped.
    // Returns false and fills `error` when delivery cannot start (also when
    // the target already delivers on a queue).
    [[nodiscard]] virtual bool setDispatchQueue(dispatch::QueuePtr queue, std::string& error) = 0;
};

// Creates targets. Implementations live in platform/.
class ReachabilityService {
  public:
    virtual ~ReachabilityService() = default;

    // A target for a host name (UTF-8), or null when the service cannot make one.
    virtual std::unique_ptr<ReachabilityTarget> createWithName(const std::string& name) = 0;
    // A target for an IPv4 or IPv6 socket address (the family says which), or null.
    virtual std::unique_ptr<ReachabilityTarget> createWithAddress(
        const sockaddr_storage& address) = 0;
};

// The service the monitor's class constructors use: none until the program
// installs one at start-up, and then no monitor can be created.
std::shared_ptr<ReachabilityService> reachabilityService();
void setReachabilityService(std::shared_ptr<ReachabilityService> service);

}  // namespace ww
