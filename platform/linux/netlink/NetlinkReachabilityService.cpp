#include "platform/linux/netlink/NetlinkReachabilityService.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/foundation/ProcessInfo.h"
#include "platform/linux/netlink/HostResolver.h"
#include "platform/linux/netlink/RouteNetlink.h"

namespace ww::netlink {

namespace {

using Clock = std::chrono::steady_clock;

// Room for a burst of several hundred messages while the thread is busy; a
// larger burst is an overrun, answered by reading everything again.
constexpr int kEventBufferBytes = 4 * 1024 * 1024;

std::string errnoText(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// What is left until `when`, for ppoll: a quiet period may be shorter than a
// millisecond.
timespec timeUntil(Clock::time_point when) {
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(when - Clock::now()).count();
    left = std::clamp<long long>(left, 0, 60LL * 60 * 1000 * 1000 * 1000);
    return timespec{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
}

}  // namespace

// ---- one target's state, shared by the target, the thread and queued deliveries ----

struct TargetState {
    TargetState(std::shared_ptr<RouteTable> routeTable,
                const NetlinkReachabilityService::Options& serviceOptions)
        : routes(std::move(routeTable)), options(serviceOptions) {}

    const std::shared_ptr<RouteTable> routes;
    const NetlinkReachabilityService::Options options;
    bool isName = false;
    sockaddr_storage address{};
    std::string name;

    std::mutex mutex;
    ReachabilityTarget::Callback callback;
    dispatch::QueuePtr queue;  // set while delivering
    // Changes with every start and stop of delivery, so that deliveries
    // queued before a stop are recognised and dropped.
    std::uint64_t generation = 0;
    std::optional<ReachabilityFlags> lastDelivered;
    // A delivery still waiting on the queue reads the flags when it runs, so
    // a second one would say nothing new: a slow callback cannot make the
    // queue grow.
    bool pendingReport = false;
    bool pendingIfChanged = false;
    // The addresses of the name's last resolution; nothing while it did not resolve.
    std::optional<AddressList> resolved;

    // The flags from what is known now. A name that is not being watched is
    // resolved on the spot when `mayResolve`; a watched one uses the thread's
    // latest resolution.
    std::optional<ReachabilityFlags> readFlags(bool mayResolve) {
        if (!isName) return routes->flagsForAddress(address);
        std::optional<AddressList> addresses;
        bool watched;
        {
            std::lock_guard lock(mutex);
            addresses = resolved;
            watched = queue != nullptr;
        }
        if (!watched && mayResolve) {
            addresses = ResolverProcess::resolveNow(options.resolverCommand, name,
                                                    options.resolverTimeLimit);
            std::lock_guard lock(mutex);
            resolved = addresses;
        }
        if (!addresses) return routes->flagsForDefaultRoute();
        bool anyRead = false;
        for (const auto& a : *addresses) {
            auto flags = routes->flagsForAddress(a);
            if (!flags) continue;
            anyRead = true;
            if (*flags & kReachabilityFlagsReachable) return flags;
        }
        if (!anyRead) return std::nullopt;
        return ReachabilityFlags{0};
    }

    // Runs on the delivery queue. `onlyIfChanged` deliveries (after a new
    // resolution) are skipped when the flags did not move.
    void deliver(std::uint64_t forGeneration, bool onlyIfChanged) {
        ReachabilityTarget::Callback current;
        {
            std::lock_guard lock(mutex);
            if (generation != forGeneration) return;
            (onlyIfChanged ? pendingIfChanged : pendingReport) = false;
            if (!callback) return;
            current = callback;
        }
        ReachabilityFlags flags = readFlags(false).value_or(0);
        {
            std::lock_guard lock(mutex);
            if (generation != forGeneration) return;
            if (onlyIfChanged && lastDelivered == flags) return;
            lastDelivered = flags;
        }
        current(flags);
    }
};

// ---- the engine: sockets, the thread, the watched targets ----

class NetlinkReachabilityService::Engine {
  public:
    Options options;
    std::shared_ptr<RouteTable> routes;

    static std::shared_ptr<Engine> create(Options options, std::string& error);
    ~Engine();

    bool schedule(const std::shared_ptr<TargetState>& target, dispatch::QueuePtr queue,
                  std::string& error);
    void unschedule(const std::shared_ptr<TargetState>& target);
    bool isWatching() const;
    // When the first message of the latest burst arrived (steady clock, in
    // nanoseconds since its epoch); 0 before any.
    std::atomic<std::int64_t> lastBurstStart{0};

  private:
    // A resolution in flight on the thread.
    struct Resolution {
        std::shared_ptr<TargetState> target;
        std::unique_ptr<ResolverProcess> process;
        bool again = false;  // another change came while it ran
    };

    bool subscribe(std::string& error);
    void unsubscribe();
    void wake();
    void enterWatchedNamespace();
    void run();
    // Reads every queued message: whether something of interest changed.
    ChangeSummary readChanges();
    void report(const std::vector<std::shared_ptr<TargetState>>& targets,
                std::map<TargetState*, Resolution>& resolutions);
    void startResolution(const std::shared_ptr<TargetState>& target,
                         std::map<TargetState*, Resolution>& resolutions);
    void finishResolution(Resolution& resolution);
    static void post(const std::shared_ptr<TargetState>& target, bool onlyIfChanged);

    UniqueFd m_events;
    UniqueFd m_wake;
    UniqueFd m_namespace;
    std::vector<char> m_buffer;

    // Serialises the thread's start and stop; the thread never takes it.
    std::mutex m_lifecycleMutex;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<TargetState>> m_targets;
    bool m_targetsChanged = false;
    bool m_stopRequested = false;
    bool m_running = false;
};

std::shared_ptr<NetlinkReachabilityService::Engine> NetlinkReachabilityService::Engine::create(
    Options options, std::string& error) {
    auto engine = std::make_shared<Engine>();
    engine->options = std::move(options);
    engine->routes = RouteTable::open(error);
    if (!engine->routes) return nullptr;
    engine->m_events = openRouteSocket(true, error);
    if (!engine->m_events) return nullptr;
    int size = kEventBufferBytes;
    // The forced size needs CAP_NET_ADMIN; otherwise the system limit applies.
    if (::setsockopt(engine->m_events.get(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof(size)) !=
        0) {
        ::setsockopt(engine->m_events.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    }
    engine->m_wake.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!engine->m_wake) {
        error = errnoText("eventfd", errno);
        return nullptr;
    }
    // The sockets belong to this namespace from now on; the thread joins it
    // too so that resolver children look names up from the same place.
    engine->m_namespace.reset(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC));
    engine->m_buffer.resize(64 * 1024);
    return engine;
}

NetlinkReachabilityService::Engine::~Engine() {
    // Targets stop delivery before they go, and they hold the engine; this is
    // only a safety net.
    std::lock_guard lifecycle(m_lifecycleMutex);
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stopRequested = true;
        }
        wake();
        m_thread.join();
    }
}

bool NetlinkReachabilityService::Engine::subscribe(std::string& error) {
    for (unsigned group : changeGroups()) {
        if (::setsockopt(m_events.get(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group,
                         sizeof(group)) != 0) {
            error = errnoText("setsockopt(NETLINK_ADD_MEMBERSHIP)", errno);
            unsubscribe();
            return false;
        }
    }
    return true;
}

void NetlinkReachabilityService::Engine::unsubscribe() {
    for (unsigned group : changeGroups()) {
        ::setsockopt(m_events.get(), SOL_NETLINK, NETLINK_DROP_MEMBERSHIP, &group, sizeof(group));
    }
    // Whatever is still queued belongs to the watch that ended.
    while (::recv(m_events.get(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT) >= 0 ||
           errno == EINTR || errno == ENOBUFS) {
    }
}

void NetlinkReachabilityService::Engine::wake() {
    std::uint64_t one = 1;
    // Fails only when the counter is already huge: the thread is awake anyway.
    [[maybe_unused]] ssize_t n = ::write(m_wake.get(), &one, sizeof(one));
}

bool NetlinkReachabilityService::Engine::schedule(const std::shared_ptr<TargetState>& target,
                                                  dispatch::QueuePtr queue, std::string& error) {
    std::lock_guard lifecycle(m_lifecycleMutex);
    {
        std::lock_guard lock(target->mutex);
        if (target->queue) {
            error = "the target already delivers on a queue";
            return false;
        }
    }
    if (!m_thread.joinable()) {
        if (!subscribe(error)) return false;
        {
            std::lock_guard lock(m_mutex);
            m_stopRequested = false;
            m_running = true;
        }
        try {
            m_thread = std::thread([this] { run(); });
        } catch (const std::system_error& e) {
            error = std::string("cannot start the watch thread: ") + e.what();
            std::lock_guard lock(m_mutex);
            m_running = false;
            unsubscribe();
            return false;
        }
    }
    // What the callback would have seen so far; later resolutions report
    // only when they change it.
    auto baseline = target->readFlags(false);
    {
        std::lock_guard lock(target->mutex);
        target->queue = std::move(queue);
        ++target->generation;
        target->lastDelivered = baseline.value_or(0);
        target->pendingReport = false;
        target->pendingIfChanged = false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_targets.push_back(target);
        m_targetsChanged = true;
    }
    wake();
    return true;
}

void NetlinkReachabilityService::Engine::unschedule(const std::shared_ptr<TargetState>& target) {
    std::lock_guard lifecycle(m_lifecycleMutex);
    dispatch::QueuePtr dropped;
    {
        std::lock_guard lock(target->mutex);
        if (!target->queue) return;
        dropped = std::move(target->queue);
        ++target->generation;
    }
    bool last;
    {
        std::lock_guard lock(m_mutex);
        std::erase(m_targets, target);
        m_targetsChanged = true;
        last = m_targets.empty();
        if (last) m_stopRequested = true;
    }
    wake();
    if (last && m_thread.joinable()) {
        m_thread.join();
        unsubscribe();
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
}

bool NetlinkReachabilityService::Engine::isWatching() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

void NetlinkReachabilityService::Engine::enterWatchedNamespace() {
    if (!m_namespace) return;
    struct stat watched {};
    struct stat current {};
    if (::fstat(m_namespace.get(), &watched) != 0) return;
    if (::stat("/proc/thread-self/ns/net", &current) != 0) return;
    if (watched.st_dev == current.st_dev && watched.st_ino == current.st_ino) return;
    // Needs CAP_SYS_ADMIN; without it only the resolver children look names
    // up from the other namespace, the sockets are unaffected.
    ::setns(m_namespace.get(), CLONE_NEWNET);
}

ChangeSummary NetlinkReachabilityService::Engine::readChanges() {
    ChangeSummary summary;
    for (;;) {
        sockaddr_nl from{};
        socklen_t fromLength = sizeof(from);
        ssize_t n = ::recvfrom(m_events.get(), m_buffer.data(), m_buffer.size(), MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR) continue;
            // The kernel dropped messages for us: what changed is unknown.
            if (errno == ENOBUFS) {
                summary.overrun = true;
                continue;
            }
            break;  // EAGAIN: nothing more queued
        }
        if (from.nl_pid != 0) continue;  // only the kernel speaks for the network
        ChangeSummary part = classifyChanges(m_buffer.data(), static_cast<std::size_t>(n));
        summary.changed = summary.changed || part.changed;
        summary.interfaceChanged = summary.interfaceChanged || part.interfaceChanged;
        summary.overrun = summary.overrun || part.overrun;
    }
    return summary;
}

void NetlinkReachabilityService::Engine::post(const std::shared_ptr<TargetState>& target,
                                              bool onlyIfChanged) {
    dispatch::QueuePtr queue;
    std::uint64_t generation;
    {
        std::lock_guard lock(target->mutex);
        if (!target->queue) return;
        // A waiting report covers everything; a waiting check covers a check.
        if (target->pendingReport || (onlyIfChanged && target->pendingIfChanged)) return;
        (onlyIfChanged ? target->pendingIfChanged : target->pendingReport) = true;
        queue = target->queue;
        generation = target->generation;
    }
    queue->async(
        [target, generation, onlyIfChanged] { target->deliver(generation, onlyIfChanged); });
}

void NetlinkReachabilityService::Engine::report(
    const std::vector<std::shared_ptr<TargetState>>& targets,
    std::map<TargetState*, Resolution>& resolutions) {
    for (const auto& target : targets) {
        // Delivered at once with what is known; a name's new addresses may
        // follow with a second report if they change its flags.
        post(target, false);
        if (!target->isName) continue;
        auto it = resolutions.find(target.get());
        if (it != resolutions.end()) {
            it->second.again = true;
        } else {
            startResolution(target, resolutions);
        }
    }
}

void NetlinkReachabilityService::Engine::startResolution(
    const std::shared_ptr<TargetState>& target, std::map<TargetState*, Resolution>& resolutions) {
    std::string error;
    auto process = ResolverProcess::start(options.resolverCommand, target->name, error);
    if (!process) {
        // No resolver: the name stays unresolved and follows the default route.
        bool changed;
        {
            std::lock_guard lock(target->mutex);
            changed = target->resolved.has_value();
            target->resolved.reset();
        }
        if (changed) post(target, true);
        return;
    }
    resolutions[target.get()] = Resolution{target, std::move(process), false};
}

void NetlinkReachabilityService::Engine::finishResolution(Resolution& resolution) {
    std::optional<AddressList> addresses;
    if (resolution.process->readAvailable()) addresses = resolution.process->finish();
    resolution.process.reset();  // kills a resolver that ran out of time
    auto& target = resolution.target;
    bool changed;
    {
        std::lock_guard lock(target->mutex);
        changed = addresses.has_value() != target->resolved.has_value() ||
                  (addresses && !sameAddresses(*addresses, *target->resolved));
        target->resolved = std::move(addresses);
    }
    if (changed) post(target, true);
}

void NetlinkReachabilityService::Engine::run() {
    process::setCurrentThreadName("ww.reachability");
    enterWatchedNamespace();

    std::vector<std::shared_ptr<TargetState>> targets;
    std::map<TargetState*, Resolution> resolutions;
    bool pending = false;
    Clock::time_point burstStart;
    Clock::time_point lastMessage;
    std::chrono::microseconds quietPeriod = options.quietPeriod;

    for (;;) {
        std::vector<std::shared_ptr<TargetState>> previous;
        bool targetsChanged = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopRequested) break;
            if (m_targetsChanged) {
                m_targetsChanged = false;
                targetsChanged = true;
                previous = std::move(targets);
                targets = m_targets;
            }
        }
        if (targetsChanged) {
            // Resolutions of targets that stopped watching are abandoned
            // (erasing kills the child); new names start resolving.
            std::erase_if(resolutions, [&](const auto& entry) {
                return std::find(targets.begin(), targets.end(), entry.second.target) ==
                       targets.end();
            });
            for (const auto& target : targets) {
                bool known = std::find(previous.begin(), previous.end(), target) != previous.end();
                if (!known && target->isName && !resolutions.count(target.get())) {
                    startResolution(target, resolutions);
                }
            }
        }

        std::vector<pollfd> fds = {{m_events.get(), POLLIN, 0}, {m_wake.get(), POLLIN, 0}};
        std::vector<TargetState*> fdOwners;
        std::optional<Clock::time_point> deadline;
        if (pending)
            deadline = std::min(lastMessage + quietPeriod, burstStart + options.burstLimit);
        for (auto& [owner, resolution] : resolutions) {
            fds.push_back({resolution.process->fd(), POLLIN, 0});
            fdOwners.push_back(owner);
            auto end = resolution.process->startedAt() + options.resolverTimeLimit;
            deadline = deadline ? std::min(*deadline, end) : end;
        }

        // A failed poll (EINTR, or ENOMEM) leaves every revents at zero: the
        // round only looks at its deadlines.
        timespec timeout{};
        if (deadline) timeout = timeUntil(*deadline);
        ::ppoll(fds.data(), fds.size(), deadline ? &timeout : nullptr, nullptr);

        if (fds[1].revents & POLLIN) {
            std::uint64_t count;
            [[maybe_unused]] ssize_t n = ::read(m_wake.get(), &count, sizeof(count));
        }
        if (fds[0].revents & (POLLIN | POLLERR)) {
            ChangeSummary changes = readChanges();
            if (changes.changed || changes.overrun) {
                auto now = Clock::now();
                if (!pending) {
                    burstStart = now;
                    lastBurstStart.store(
                        std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch())
                            .count());
                    quietPeriod = options.quietPeriod;
                }
                if (changes.interfaceChanged) {
                    quietPeriod = std::min(quietPeriod, options.interfaceQuietPeriod);
                }
                pending = true;
                lastMessage = now;
            }
        }
        auto now = Clock::now();
        if (pending &&
            (now >= lastMessage + quietPeriod || now >= burstStart + options.burstLimit)) {
            pending = false;
            report(targets, resolutions);
        }
        for (std::size_t i = 0; i < fdOwners.size(); ++i) {
            auto it = resolutions.find(fdOwners[i]);
            if (it == resolutions.end()) continue;
            Resolution& resolution = it->second;
            bool ended = (fds[i + 2].revents != 0) && resolution.process->readAvailable();
            bool late = now >= resolution.process->startedAt() + options.resolverTimeLimit;
            if (!ended && !late) continue;
            finishResolution(resolution);
            if (resolution.again) {
                auto target = resolution.target;
                resolutions.erase(it);
                startResolution(target, resolutions);
            } else {
                resolutions.erase(it);
            }
        }
    }
    // Leaving kills and reaps every resolver still running.
}

// ---- the public target ----

namespace {

class NetlinkTarget : public ReachabilityTarget {
  public:
    NetlinkTarget(std::shared_ptr<NetlinkReachabilityService::Engine> engine,
                  std::shared_ptr<TargetState> state)
        : m_engine(std::move(engine)), m_state(std::move(state)) {}

    ~NetlinkTarget() override {
        m_engine->unschedule(m_state);
        std::lock_guard lock(m_state->mutex);
        m_state->callback = nullptr;
    }

    std::optional<ReachabilityFlags> flags() override { return m_state->readFlags(true); }

    bool setCallback(Callback callback, std::string&) override {
        std::lock_guard lock(m_state->mutex);
        m_state->callback = std::move(callback);
        return true;
    }

    bool setDispatchQueue(dispatch::QueuePtr queue, std::string& error) override {
        if (!queue) {
            m_engine->unschedule(m_state);
            return true;
        }
        return m_engine->schedule(m_state, std::move(queue), error);
    }

  private:
    std::shared_ptr<NetlinkReachabilityService::Engine> m_engine;
    std::shared_ptr<TargetState> m_state;
};

}  // namespace

// ---- the service ----

std::shared_ptr<NetlinkReachabilityService> NetlinkReachabilityService::create(Options options,
                                                                               std::string& error) {
    auto engine = Engine::create(std::move(options), error);
    if (!engine) return nullptr;
    return std::shared_ptr<NetlinkReachabilityService>(
        new NetlinkReachabilityService(std::move(engine)));
}

NetlinkReachabilityService::NetlinkReachabilityService(std::shared_ptr<Engine> engine)
    : m_engine(std::move(engine)) {}

NetlinkReachabilityService::~NetlinkReachabilityService() = default;

std::unique_ptr<ReachabilityTarget> NetlinkReachabilityService::createWithName(
    const std::string& name) {
    sockaddr_storage numeric{};
    auto* sin = reinterpret_cast<sockaddr_in*>(&numeric);
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(&numeric);
    if (name.find('\0') == std::string::npos) {
        if (::inet_pton(AF_INET, name.c_str(), &sin->sin_addr) == 1) {
            sin->sin_family = AF_INET;
            return createWithAddress(numeric);
        }
        if (::inet_pton(AF_INET6, name.c_str(), &sin6->sin6_addr) == 1) {
            sin6->sin6_family = AF_INET6;
            return createWithAddress(numeric);
        }
    }
    if (!isResolvableName(name)) return nullptr;
    auto state = std::make_shared<TargetState>(m_engine->routes, m_engine->options);
    state->isName = true;
    state->name = name;
    return std::make_unique<NetlinkTarget>(m_engine, std::move(state));
}

std::unique_ptr<ReachabilityTarget> NetlinkReachabilityService::createWithAddress(
    const sockaddr_storage& address) {
    if (address.ss_family != AF_INET && address.ss_family != AF_INET6) return nullptr;
    auto state = std::make_shared<TargetState>(m_engine->routes, m_engine->options);
    state->address = address;
    return std::make_unique<NetlinkTarget>(m_engine, std::move(state));
}

bool NetlinkReachabilityService::isWatching() const { return m_engine->isWatching(); }

std::optional<std::chrono::steady_clock::time_point> NetlinkReachabilityService::lastChangeStarted()
    const {
    std::int64_t ns = m_engine->lastBurstStart.load();
    if (ns == 0) return std::nullopt;
    return std::chrono::steady_clock::time_point(std::chrono::nanoseconds(ns));
}

}  // namespace ww::netlink
