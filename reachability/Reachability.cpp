#include "reachability/Reachability.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

#include "platform/dispatch/MainThread.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/NotificationCenter.h"

namespace ww {

namespace {

std::mutex s_serviceMutex;
std::shared_ptr<ReachabilityService> s_service;

std::mutex s_consoleMutex;
Reachability::ConsoleWriter s_console;

// The application ships no translations, so every text is its own fallback.
std::string localizedString(const char* text) { return text; }

sockaddr_storage ipv4Address(in_addr_t hostOrderAddress) {
    sockaddr_storage storage{};
    auto* sin = reinterpret_cast<sockaddr_in*>(&storage);
    sin->sin_family = AF_INET;
    sin->sin_addr.s_addr = htonl(hostOrderAddress);
    return storage;
}

// Lives in the platform's place: the service calls it with the flags on the
// monitor's queue. The monitor is held for the duration of the call, unless it
// is already going away.
void ReachabilityCallback(const std::weak_ptr<Reachability>& info, ReachabilityFlags flags) {
    if (auto monitor = info.lock()) monitor->reachabilityChanged(flags);
}

}  // namespace

std::shared_ptr<ReachabilityService> reachabilityService() {
    std::lock_guard lock(s_serviceMutex);
    return s_service;
}

void setReachabilityService(std::shared_ptr<ReachabilityService> service) {
    std::lock_guard lock(s_serviceMutex);
    s_service = std::move(service);
}

// ---- class constructors ----

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(const std::string& hostname) {
    auto service = reachabilityService();
    return service ? reachabilityWithHostname(hostname, *service) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(const std::string& hostname,
                                                                     ReachabilityService& service) {
    return initWithReachabilityRef(service.createWithName(hostname));
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr* hostAddress) {
    auto service = reachabilityService();
    return service ? reachabilityWithAddress(hostAddress, *service) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const sockaddr* hostAddress,
                                                                    ReachabilityService& service) {
    if (!hostAddress) return nullptr;
    // Linux socket addresses carry no length: the family tells how much to read.
    sockaddr_storage storage{};
    if (hostAddress->sa_family == AF_INET) {
        std::memcpy(&storage, hostAddress, sizeof(sockaddr_in));
    } else if (hostAddress->sa_family == AF_INET6) {
        std::memcpy(&storage, hostAddress, sizeof(sockaddr_in6));
    } else {
        return nullptr;
    }
    return initWithReachabilityRef(service.createWithAddress(storage));
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
    auto service = reachabilityService();
    return service ? reachabilityForInternetConnection(*service) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection(
    ReachabilityService& service) {
    sockaddr_storage zero = ipv4Address(INADDR_ANY);
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&zero), service);
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi() {
    auto service = reachabilityService();
    return service ? reachabilityForLocalWiFi(*service) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi(ReachabilityService& service) {
    sockaddr_storage linkLocal = ipv4Address(0xA9FE0000);  // 169.254.0.0
    return reachabilityWithAddress(reinterpret_cast<const sockaddr*>(&linkLocal), service);
}

std::shared_ptr<Reachability> Reachability::initWithReachabilityRef(
    std::unique_ptr<ReachabilityTarget> ref) {
    if (!ref) return nullptr;
    return std::make_shared<Reachability>(PrivateTag{}, std::move(ref));
}

Reachability::Reachability(PrivateTag, std::unique_ptr<ReachabilityTarget> ref)
    : m_reachabilityRef(std::move(ref)) {}

Reachability::~Reachability() {
    // A notifying monitor holds itself, so only an idle one gets here; make
    // sure the target no longer knows about us before it goes.
    stopNotifier();
}

// ---- properties ----

Reachability::NetworkReachable Reachability::reachableBlock() const {
    std::lock_guard lock(m_blockMutex);
    return m_reachableBlock;
}

void Reachability::setReachableBlock(NetworkReachable block) {
    std::lock_guard lock(m_blockMutex);
    m_reachableBlock = std::move(block);
}

Reachability::NetworkUnreachable Reachability::unreachableBlock() const {
    std::lock_guard lock(m_blockMutex);
    return m_unreachableBlock;
}

void Reachability::setUnreachableBlock(NetworkUnreachable block) {
    std::lock_guard lock(m_blockMutex);
    m_unreachableBlock = std::move(block);
}

dispatch::QueuePtr Reachability::reachabilitySerialQueue() const {
    std::lock_guard lock(m_notifierMutex);
    return m_reachabilitySerialQueue;
}

std::shared_ptr<Reachability> Reachability::reachabilityObject() const {
    std::lock_guard lock(m_notifierMutex);
    return m_reachabilityObject;
}

// ---- notifier ----

bool Reachability::startNotifier() {
    // Released after the lock: dropping the last reference to either may end
    // the monitor or join the queue's thread.
    dispatch::QueuePtr droppedQueue;
    std::shared_ptr<Reachability> droppedSelf;
    std::unique_lock lock(m_notifierMutex);
    // A second start would put the running notifier on a new queue, which the
    // service refuses, and the failure path would then stop it altogether.
    if (m_reachabilityObject) return true;

    m_reachabilityObject = shared_from_this();
    m_reachabilitySerialQueue = dispatch::SerialQueue::create(kSerialQueueLabel);
    if (!m_reachabilitySerialQueue) {
        droppedSelf = std::move(m_reachabilityObject);
        return false;
    }

    std::string error;
    std::weak_ptr<Reachability> info = weak_from_this();
    if (!m_reachabilityRef->setCallback(
            [info](ReachabilityFlags flags) { ReachabilityCallback(info, flags); }, error)) {
        writeToConsole(format("SCNetworkReachabilitySetCallback() failed: %s", error.c_str()));
        droppedQueue = std::move(m_reachabilitySerialQueue);
        droppedSelf = std::move(m_reachabilityObject);
        lock.unlock();
        return false;
    }
    if (!m_reachabilityRef->setDispatchQueue(m_reachabilitySerialQueue, error)) {
        writeToConsole(format("SCNetworkReachabilitySetDispatchQueue() failed: %s", error.c_str()));
        std::string ignored;
        (void)m_reachabilityRef->setCallback(nullptr, ignored);
        droppedQueue = std::move(m_reachabilitySerialQueue);
        droppedSelf = std::move(m_reachabilityObject);
        lock.unlock();
        return false;
    }
    return true;
}

void Reachability::stopNotifier() {
    dispatch::QueuePtr droppedQueue;
    std::shared_ptr<Reachability> droppedSelf;
    {
        std::lock_guard lock(m_notifierMutex);
        std::string ignored;
        (void)m_reachabilityRef->setCallback(nullptr, ignored);
        (void)m_reachabilityRef->setDispatchQueue(nullptr, ignored);
        droppedQueue = std::move(m_reachabilitySerialQueue);
        droppedSelf = std::move(m_reachabilityObject);
    }
    // droppedSelf may have been the last reference: nothing touches the
    // monitor once the locals go.
}

// ---- flags ----

bool Reachability::isReachableWithFlags(ReachabilityFlags flags) {
    if (!(flags & kReachabilityFlagsReachable)) return false;
    constexpr ReachabilityFlags kTransientRequired =
        kReachabilityFlagsConnectionRequired | kReachabilityFlagsTransientConnection;
    return (flags & kTransientRequired) != kTransientRequired;
}

std::optional<ReachabilityFlags> Reachability::readFlags() const {
    return m_reachabilityRef->flags();
}

bool Reachability::isReachable() const {
    auto flags = readFlags();
    return flags && isReachableWithFlags(*flags);
}

bool Reachability::isReachableViaWWAN() const { return false; }

bool Reachability::isReachableViaWiFi() const {
    auto flags = readFlags();
    return flags && (*flags & kReachabilityFlagsReachable);
}

bool Reachability::isConnectionRequired() const {
    auto flags = readFlags();
    return flags && (*flags & kReachabilityFlagsConnectionRequired);
}

bool Reachability::connectionRequired() const { return isConnectionRequired(); }

bool Reachability::isConnectionOnDemand() const {
    auto flags = readFlags();
    return flags && (*flags & kReachabilityFlagsConnectionRequired) &&
           (*flags &
            (kReachabilityFlagsConnectionOnTraffic | kReachabilityFlagsConnectionOnDemand));
}

bool Reachability::isInterventionRequired() const {
    auto flags = readFlags();
    return flags && (*flags & kReachabilityFlagsConnectionRequired) &&
           (*flags & kReachabilityFlagsInterventionRequired);
}

NetworkStatus Reachability::currentReachabilityStatus() const {
    // One reading for both questions, so a change in between cannot mix them.
    auto flags = readFlags();
    if (!flags || !isReachableWithFlags(*flags)) return NotReachable;
    return (*flags & kReachabilityFlagsReachable) ? ReachableViaWiFi : NotReachable;
}

ReachabilityFlags Reachability::reachabilityFlags() const { return readFlags().value_or(0); }

std::string Reachability::currentReachabilityString() const {
    switch (currentReachabilityStatus()) {
        case ReachableViaWWAN:
            return localizedString("Cellular");
        case ReachableViaWiFi:
            return localizedString("WiFi");
        default:
            return localizedString("No Connection");
    }
}

std::string Reachability::currentReachabilityFlags() const {
    return reachabilityFlagsString(reachabilityFlags());
}

std::string Reachability::reachabilityFlagsString(ReachabilityFlags flags) {
    auto bit = [flags](ReachabilityFlags mask, char letter) {
        return (flags & mask) ? letter : '-';
    };
    return format("%c%c %c%c%c%c%c%c%c", 'X', bit(kReachabilityFlagsReachable, 'R'),
                  bit(kReachabilityFlagsConnectionRequired, 'c'),
                  bit(kReachabilityFlagsTransientConnection, 't'),
                  bit(kReachabilityFlagsInterventionRequired, 'i'),
                  bit(kReachabilityFlagsConnectionOnTraffic, 'C'),
                  bit(kReachabilityFlagsConnectionOnDemand, 'D'),
                  bit(kReachabilityFlagsIsLocalAddress, 'l'), bit(kReachabilityFlagsIsDirect, 'd'));
}

// ---- a change ----

void Reachability::reachabilityChanged(ReachabilityFlags flags) {
    if (isReachableWithFlags(flags)) {
        if (auto block = reachableBlock()) block(*this);
    } else {
        if (auto block = unreachableBlock()) block(*this);
    }
    // The posting holds the monitor until the notification is out.
    std::shared_ptr<Reachability> self = shared_from_this();
    dispatch::mainThread().post([self] {
        NotificationCenter::defaultCenter().post(kReachabilityChangedNotification, self.get());
    });
}

// ---- console ----

void Reachability::setConsoleWriter(ConsoleWriter writer) {
    std::lock_guard lock(s_consoleMutex);
    s_console = std::move(writer);
}

void Reachability::writeToConsole(const std::string& line) {
    ConsoleWriter writer;
    {
        std::lock_guard lock(s_consoleMutex);
        writer = s_console;
    }
    if (writer) {
        writer(line);
        return;
    }
    std::string text = line + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace ww
