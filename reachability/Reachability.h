#pragma once

#include <sys/socket.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/SerialQueue.h"
#include "reachability/ReachabilityService.h"

namespace ww {

// Posted on the main thread after every change; the object is the monitor.
inline constexpr const char* kReachabilityChangedNotification = "kReachabilityChangedNotification";

// Status codes of currentReachabilityStatus.
enum NetworkStatus : int {
    NotReachable = 0,
    ReachableViaWWAN = 1,
    ReachableViaWiFi = 2,
};

// Watches whether a host name or an address can be reached, through the
// platform's reachability service. Every change the service reports calls the
// reachable or the unreachable block on the monitor's own serial queue, then
// posts kReachabilityChangedNotification on the main thread.
//
// Monitors are shared objects, made only by the class constructors. While its
// notifier runs a monitor keeps itself alive, so its owner may drop it.
class Reachability : public std::enable_shared_from_this<Reachability> {
  public:
    // Blocks run on the monitor's serial queue and get the monitor.
    using NetworkReachable = std::function<void(Reachability& reachability)>;
    using NetworkUnreachable = std::function<void(Reachability& reachability)>;
    // Where the console lines of a failed start go (one line, no line end).
    using ConsoleWriter = std::function<void(const std::string& line)>;

    // ---- class constructors: a monitor, or null when the service cannot make
    // a target (or no service is installed, for the forms without one) ----
    static std::shared_ptr<Reachability> reachabilityWithHostname(const std::string& hostname);
    static std::shared_ptr<Reachability> reachabilityWithHostname(const std::string& hostname,
                                                                  ReachabilityService& service);
    // `hostAddress` is an IPv4 or IPv6 socket address; its family says how many
    // bytes are read. Null or another family gives null.
    static std::shared_ptr<Reachability> reachabilityWithAddress(const sockaddr* hostAddress);
    static std::shared_ptr<Reachability> reachabilityWithAddress(const sockaddr* hostAddress,
                                                                 ReachabilityService& service);
    // The address form for 0.0.0.0: any route out at all.
    static std::shared_ptr<Reachability> reachabilityForInternetConnection();
    static std::shared_ptr<Reachability> reachabilityForInternetConnection(
        ReachabilityService& service);
    // The address form for the IPv4 link-local network 169.254.0.0.
    static std::shared_ptr<Reachability> reachabilityForLocalWiFi();
    static std::shared_ptr<Reachability> reachabilityForLocalWiFi(ReachabilityService& service);
    // Takes ownership of `ref`; null for a null target.
    static std::shared_ptr<Reachability> initWithReachabilityRef(
        std::unique_ptr<ReachabilityTarget> ref);

    // Stops the notifier (if any) and releases the target.
    ~Reachability();

    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    // ---- properties ----
    // True after construction; nothing on this platform consults it.
    bool reachableOnWWAN() const { return m_reachableOnWWAN.load(); }
    void setReachableOnWWAN(bool value) { m_reachableOnWWAN.store(value); }
    NetworkReachable reachableBlock() const;
    void setReachableBlock(NetworkReachable block);
    NetworkUnreachable unreachableBlock() const;
    void setUnreachableBlock(NetworkUnreachable block);
    // The target, owned by the monitor for its whole life.
    ReachabilityTarget* reachabilityRef() const { return m_reachabilityRef.get(); }
    // The delivery queue: present only while notifying.
    dispatch::QueuePtr reachabilitySerialQueue() const;
    // The self-reference: present only while notifying.
    std::shared_ptr<Reachability> reachabilityObject() const;

    // ---- notifier ----
    // Starts delivering changes. False when the service refuses; a line then
    // goes to the console and the monitor stays idle. Starting a monitor that
    // already notifies changes nothing and returns true.
    bool startNotifier();
    // Stops delivering changes and releases the self-reference. Safe from a block.
    void stopNotifier();

    // ---- flags: each query reads the target's current flags from the service
    // (for a host name nobody watches, that may wait for the name to resolve) ----
    // Reachable, unless a connection is required and would be transient.
    static bool isReachableWithFlags(ReachabilityFlags flags);
    bool isReachable() const;
    // Never true on this platform: there is no cellular path.
    bool isReachableViaWWAN() const;
    bool isReachableViaWiFi() const;
    bool isConnectionRequired() const;
    bool connectionRequired() const;
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    NetworkStatus currentReachabilityStatus() const;
    // The current flags, 0 when they cannot be read.
    ReachabilityFlags reachabilityFlags() const;
    // "WiFi" or "No Connection" ("Cellular" never comes up here).
    std::string currentReachabilityString() const;
    // The flags string of the current flags.
    std::string currentReachabilityFlags() const;

    // The flags string: 'X', 'R' or '-', a blank, then c t i C D l d or '-'
    // for connection required, transient, intervention required, connection on
    // traffic, on demand, local address and direct. 0x10002 gives "XR -----l-".
    static std::string reachabilityFlagsString(ReachabilityFlags flags);

    // A change: runs the matching block (if set) and queues the notification
    // to the main thread. Runs on the serial queue when the service calls it.
    void reachabilityChanged(ReachabilityFlags flags);

    // Replaces the console (standard error by default); null restores it.
    static void setConsoleWriter(ConsoleWriter writer);

    // The label of every monitor's serial queue.
    static constexpr const char* kSerialQueueLabel = "wirewatch.reachability";

  private:
    struct PrivateTag {};

  public:
    Reachability(PrivateTag, std::unique_ptr<ReachabilityTarget> ref);

  private:
    // The flags as read from the target, absent when they cannot be read.
    std::optional<ReachabilityFlags> readFlags() const;
    static void writeToConsole(const std::string& line);

    std::atomic<bool> m_reachableOnWWAN{true};

    mutable std::mutex m_blockMutex;
    NetworkReachable m_reachableBlock;
    NetworkUnreachable m_unreachableBlock;

    const std::unique_ptr<ReachabilityTarget> m_reachabilityRef;

    // Start and stop are serialised; the two fields below change only under it.
    mutable std::mutex m_notifierMutex;
    dispatch::QueuePtr m_reachabilitySerialQueue;
    std::shared_ptr<Reachability> m_reachabilityObject;
};

}  // namespace ww
