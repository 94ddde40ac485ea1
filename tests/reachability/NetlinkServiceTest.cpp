// The Linux reachability service against a real kernel, in a private network
// namespace with a veth pair wired0/wpeer0. Needs root.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "platform/linux/netlink/NetlinkReachabilityService.h"
#include "tests/reachability/ReachabilityTestSupport.h"

namespace ww::netlink {
namespace {

using test::EventLog;
using test::Netns;
using Flags = ReachabilityFlags;

constexpr Flags R = kReachabilityFlagsReachable;
constexpr Flags l = kReachabilityFlagsIsLocalAddress;
constexpr Flags d = kReachabilityFlagsIsDirect;

sockaddr_storage address(const char* text) {
    sockaddr_storage s{};
    auto* sin = reinterpret_cast<sockaddr_in*>(&s);
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(&s);
    if (inet_pton(AF_INET, text, &sin->sin_addr) == 1) {
        sin->sin_family = AF_INET;
    } else if (inet_pton(AF_INET6, text, &sin6->sin6_addr) == 1) {
        sin6->sin6_family = AF_INET6;
    } else {
        ADD_FAILURE() << "not an address: " << text;
    }
    return s;
}

long threadCount() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {});
}

bool hasChildProcess() {
    errno = 0;
    return !(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
}

// Every report one target receives, in order.
struct Reports {
    EventLog<Flags> log;
    ReachabilityTarget::Callback callback() {
        return [this](Flags flags) { log.push(flags); };
    }
    bool waitForLast(Flags flags) {
        return log.waitUntil(
            [&](const std::vector<Flags>& seen) { return !seen.empty() && seen.back() == flags; });
    }
};

class NetlinkServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_netns = std::make_unique<Netns>("wwreach");
        if (!m_netns->available()) {
            GTEST_SKIP() << "the Linux reachability service is tested in a private network "
                            "namespace, which cannot be made here: "
                         << m_netns->whyUnavailable();
        }
        ASSERT_TRUE(m_netns->addVethPair("wired0", "wpeer0"));
    }

    std::shared_ptr<NetlinkReachabilityService> makeService(
        NetlinkReachabilityService::Options options = {}) {
        std::string error;
        bool entered = false;
        auto service = m_netns->inside(
            [&] { return NetlinkReachabilityService::create(options, error); }, entered);
        EXPECT_TRUE(entered) << "cannot enter the namespace";
        EXPECT_NE(service, nullptr) << error;
        return service;
    }

    void ip(const std::string& arguments) {
        ASSERT_EQ(m_netns->ip(arguments), 0) << "ip " << arguments;
    }

    // Reports on `queue`, or on the test's one queue (where a report for one
    // target runs before the report for another that follows it).
    void start(ReachabilityTarget& target, ReachabilityTarget::Callback callback,
               dispatch::QueuePtr queue = nullptr) {
        std::string error;
        ASSERT_TRUE(target.setCallback(std::move(callback), error)) << error;
        ASSERT_TRUE(target.setDispatchQueue(queue ? queue : m_queue, error)) << error;
    }
    void start(ReachabilityTarget& target, Reports& reports, dispatch::QueuePtr queue = nullptr) {
        start(target, reports.callback(), std::move(queue));
    }
    static void stop(ReachabilityTarget& target) {
        std::string error;
        EXPECT_TRUE(target.setDispatchQueue(nullptr, error));
        EXPECT_TRUE(target.setCallback(nullptr, error));
    }

    std::unique_ptr<Netns> m_netns;
    dispatch::QueuePtr m_queue = dispatch::SerialQueue::create("test.reports");
};

// Adding, removing and adding again: three reports, one each, and the flags
// follow the routes (0 without the change).
TEST_F(NetlinkServiceTest, EachChangeIsOneReportAndTheFlagsFollowTheRoutes) {
    struct Case {
        const char* what;
        std::string setUp;
        const char* target;
        std::string change;  // its undo: the same with "del" for "add"
        Flags after;
    };
    const std::string v4 = "addr add 198.51.100.2/24 dev wired0";
    const std::string v6 = "-6 addr add 2001:db8::2/64 dev wired0 nodad";
    const Case cases[] = {
        {"IPv4 address", "", "198.51.100.2", v4, R | l | d},
        {"IPv4 route", "", "203.0.113.7", "route add 203.0.113.0/24 dev wired0", R | d},
        {"IPv4 default route", v4, "203.0.113.7", "route add default via 198.51.100.1 dev wired0",
         R},
        {"IPv6 address", "", "2001:db8::2", v6, R | l | d},
        {"IPv6 default route", v6, "2001:db8:1::7",
         "-6 route add default via 2001:db8::1 dev wired0", R},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        if (!k.setUp.empty()) ip(k.setUp);
        auto service = makeService();
        ASSERT_NE(service, nullptr);
        auto target = service->createWithAddress(address(k.target));
        ASSERT_NE(target, nullptr);
        Reports reports;
        start(*target, reports);
        EXPECT_EQ(target->flags(), 0u);

        // Each step waits for its report before the next one: the next step's
        // report then proves that no late second report of a step came.
        std::string undo = k.change;
        undo.replace(undo.find(" add "), 5, " del ");
        ip(k.change);
        ASSERT_TRUE(reports.log.waitForCount(1));
        ip(undo);
        ASSERT_TRUE(reports.log.waitForCount(2));
        ip(k.change);
        ASSERT_TRUE(reports.log.waitForCount(3));
        EXPECT_EQ(reports.log.events(), (std::vector<Flags>{k.after, 0, k.after}));
        EXPECT_EQ(target->flags(), k.after);

        stop(*target);
        // Back to a bare link for the next case (nobody listens now).
        ip("addr flush dev wired0");
        ip("-6 addr flush dev wired0");
        ip("route flush dev wired0");
        ip("-6 route flush dev wired0");
    }
}

// A change that starts a check (an address) is reported after the short
// quiet period, without waiting for routes a network manager adds later in
// requests of its own; those routes get a report of their own, and the flags
// follow them. With a long quiet period for routes the difference shows.
TEST_F(NetlinkServiceTest, AnAddressIsReportedWithoutWaitingForTheRoutesThatFollow) {
    NetlinkReachabilityService::Options options;
    options.quietPeriod = std::chrono::milliseconds(1500);
    options.burstLimit = std::chrono::milliseconds(3000);
    auto service = makeService(options);
    ASSERT_NE(service, nullptr);
    auto internet = service->createWithAddress(address("203.0.113.7"));
    ASSERT_NE(internet, nullptr);
    Reports reports;
    start(*internet, reports);

    auto t0 = std::chrono::steady_clock::now();
    ip("addr add 198.51.100.2/24 dev wired0");
    ASSERT_TRUE(reports.log.waitForCount(1));
    auto addressReported = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(addressReported, std::chrono::milliseconds(1000))
        << "the address waited for the routes' quiet period";
    // No default route yet: the host is not reachable.
    EXPECT_EQ(reports.log.events(), std::vector<Flags>{0});

    t0 = std::chrono::steady_clock::now();
    ip("route add default via 198.51.100.1 dev wired0");
    ASSERT_TRUE(reports.log.waitForCount(2));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1400))
        << "a route-only change ends after the full quiet period";
    EXPECT_EQ(reports.log.events(), (std::vector<Flags>{0, R}));
    EXPECT_EQ(internet->flags(), R);
    stop(*internet);
}

TEST_F(NetlinkServiceTest, EveryChangeIsReportedEvenWhenTheTargetStaysReachable) {
    ip("addr add 198.51.100.2/24 dev wired0");
    ip("route add default via 198.51.100.1 dev wired0");
    auto service = makeService();
    ASSERT_NE(service, nullptr);
    auto loopback = service->createWithAddress(address("127.0.0.1"));
    auto internet = service->createWithAddress(address("0.0.0.0"));
    Reports loopbackReports, internetReports;
    start(*loopback, loopbackReports);
    start(*internet, internetReports);
    EXPECT_EQ(loopback->flags(), R | l | d);
    EXPECT_EQ(internet->flags(), R);  // the default route has a gateway

    // A second wired address changes nothing for either target, yet is a change.
    ip("addr add 198.51.100.3/24 dev wired0");
    ASSERT_TRUE(loopbackReports.log.waitForCount(1));
    ASSERT_TRUE(internetReports.log.waitForCount(1));
    EXPECT_EQ(loopbackReports.log.events()[0], R | l | d);
    EXPECT_EQ(internetReports.log.events()[0], R);

    // Carrier loss leaves the routes in place, marked as down: no longer usable.
    ip("link set dev wpeer0 down");
    EXPECT_TRUE(internetReports.waitForLast(0));
    EXPECT_EQ(internet->flags(), 0u);
    ip("link set dev wpeer0 up");
    EXPECT_TRUE(internetReports.waitForLast(R));

    // Setting the link itself down removes its routes without route messages.
    ip("link set dev wired0 down");
    EXPECT_TRUE(internetReports.waitForLast(0));
    EXPECT_TRUE(loopbackReports.waitForLast(R | l | d));
    stop(*loopback);
    stop(*internet);
}

TEST_F(NetlinkServiceTest, FlagsOfAddressesAndNamesWithoutNotifier) {
    ip("addr add 198.51.100.2/24 dev wired0");
    ip("route add unreachable 203.0.113.0/26");
    ip("route add blackhole 203.0.113.64/26");
    ip("route add prohibit 203.0.113.128/26");
    auto service = makeService();
    ASSERT_NE(service, nullptr);
    // The flags before and after a link-local and a default route are added.
    // Numeric names are addresses; the default resolver, getent, finds
    // localhost in the hosts file.
    struct Case {
        const char* target;
        bool isName;
        Flags bare, routed;
    };
    const Case cases[] = {
        {"198.51.100.2", false, R | l | d, R | l | d},
        {"198.51.100.9", false, R | d, R | d},
        {"::ffff:198.51.100.9", false, R | d, R | d},
        {"127.0.0.1", false, R | l | d, R | l | d},
        {"203.0.113.1", false, 0, 0},
        {"203.0.113.70", false, 0, 0},
        {"203.0.113.130", false, 0, 0},
        {"203.0.113.200", false, 0, R},
        {"0.0.0.0", false, 0, R},
        {"169.254.0.0", false, 0, R | d},
        {"2001:db8::9", false, 0, 0},
        {"::", false, 0, R},  // either family's unspecified address: any default route
        {"198.51.100.2", true, R | l | d, R | l | d},
        {"localhost", true, R | l | d, R | l | d},
    };
    for (bool routed : {false, true}) {
        if (routed) ip("route add 169.254.0.0/16 dev wired0");
        if (routed) ip("route add default via 198.51.100.1 dev wired0");
        for (const auto& k : cases) {
            auto target = k.isName ? service->createWithName(k.target)
                                   : service->createWithAddress(address(k.target));
            ASSERT_NE(target, nullptr) << k.target;
            EXPECT_EQ(target->flags(), routed ? k.routed : k.bare) << k.target << routed;
        }
    }
    // Names no resolver would take and addresses of no IP family are refused.
    for (const char* name : {"-x", "", "a b"}) EXPECT_EQ(service->createWithName(name), nullptr);
    sockaddr_storage local{};
    local.ss_family = AF_UNIX;
    EXPECT_EQ(service->createWithAddress(local), nullptr);
    EXPECT_FALSE(service->isWatching());
}

TEST_F(NetlinkServiceTest, HostNameFollowsItsAddressesAndElseTheDefaultRoute) {
    // A resolver that answers from a file the test writes: $0 is the folder,
    // the name comes last.
    test::TempDir dir;
    std::filesystem::path folder = dir.path();
    auto answer = [&](const std::string& text) {
        std::ofstream(folder / "next") << text;
        std::filesystem::rename(folder / "next", folder / "www.example.test");
    };
    NetlinkReachabilityService::Options options;
    options.resolverCommand = {"/bin/sh", "-c", "exec cat -- \"$0/$1\" 2>/dev/null",
                               folder.string()};

    ip("addr add 198.51.100.2/24 dev wired0");
    auto service = makeService(options);
    ASSERT_NE(service, nullptr);
    auto target = service->createWithName("www.example.test");
    ASSERT_NE(target, nullptr);
    Reports reports;
    start(*target, reports);

    // Unresolved: the default route decides.
    ip("route add default via 198.51.100.1 dev wired0");
    ASSERT_TRUE(reports.waitForLast(R));
    EXPECT_EQ(reports.log.events(), std::vector<Flags>{R});

    // Resolved after the next change: its own route decides. The change is
    // reported at once; the new address may add a second report.
    answer("203.0.113.7     STREAM www.example.test\n203.0.113.7     DGRAM\n");
    ip("route add 203.0.113.0/24 dev wired0");
    ASSERT_TRUE(reports.waitForLast(R | d));
    auto seen = reports.log.events();
    EXPECT_TRUE(seen == (std::vector<Flags>{R, R, R | d}) || seen == (std::vector<Flags>{R, R | d}))
        << ::testing::PrintToString(seen);
    EXPECT_EQ(target->flags(), R | d);

    // Its route goes, and so does the name: back to the default route.
    std::filesystem::remove(folder / "www.example.test");
    // The resolution's second report may come only now, before the removal's.
    ip("route del 203.0.113.0/24 dev wired0");
    ASSERT_TRUE(reports.waitForLast(R));
    ip("route del default via 198.51.100.1 dev wired0");
    ASSERT_TRUE(reports.waitForLast(0));
    stop(*target);

    // A name nobody watches is resolved on the spot.
    answer("198.51.100.2 STREAM\n");
    auto unwatched = service->createWithName("www.example.test");
    EXPECT_EQ(unwatched->flags(), R | l | d);
}

TEST_F(NetlinkServiceTest, StoppedTargetsGetNoReportsAndNothingIsLeftBehind) {
    // A first thread makes the thread sanitizer start its helper thread now,
    // not during the count.
    std::thread([] {}).join();
    long threadsBefore = threadCount();
    {
        // Its resolver never answers: stopping must not wait for it.
        NetlinkReachabilityService::Options options;
        options.resolverCommand = {"/bin/sh", "-c", "exec sleep 600", "resolver"};
        auto service = makeService(options);
        ASSERT_NE(service, nullptr);
        auto first = service->createWithAddress(address("203.0.113.7"));
        auto second = service->createWithAddress(address("203.0.113.7"));
        auto name = service->createWithName("hangs.example.test");
        // A queue of this scope: its thread must be gone at the count too.
        auto queue = dispatch::SerialQueue::create("test.scoped");
        Reports firstReports, secondReports, nameReports, again;
        start(*first, firstReports, queue);
        start(*second, secondReports, queue);
        start(*name, nameReports, queue);
        EXPECT_TRUE(service->isWatching());

        ip("route add 203.0.113.0/24 dev wired0");
        ASSERT_TRUE(firstReports.log.waitForCount(1));
        ASSERT_TRUE(secondReports.log.waitForCount(1));

        stop(*first);
        ip("route del 203.0.113.0/24 dev wired0");
        ASSERT_TRUE(secondReports.log.waitForCount(2));
        EXPECT_EQ(firstReports.log.events().size(), 1u);
        EXPECT_TRUE(hasChildProcess());  // the hanging resolver

        stop(*second);
        EXPECT_TRUE(service->isWatching());
        stop(*name);
        EXPECT_FALSE(service->isWatching());
        EXPECT_FALSE(hasChildProcess());

        // A stopped service starts again.
        start(*first, again, queue);
        EXPECT_TRUE(service->isWatching());
        ip("route add 203.0.113.0/24 dev wired0");
        ASSERT_TRUE(again.waitForLast(R | d));
        stop(*first);
        EXPECT_FALSE(service->isWatching());
    }
    EXPECT_EQ(threadCount(), threadsBefore);
}

TEST_F(NetlinkServiceTest, ASlowCallbackGetsOneReportForTheChangesItMissed) {
    auto service = makeService();
    ASSERT_NE(service, nullptr);
    auto slow = service->createWithAddress(address("203.0.113.7"));
    auto fence = service->createWithAddress(address("203.0.113.7"));
    // A promise, not a gate: should the test stop early, the callback is
    // released when the promise goes.
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    EventLog<Flags> slowReports;
    Reports fenceReports;
    auto slowQueue = dispatch::SerialQueue::create("test.slow");
    auto callback = [&](Flags flags) {
        slowReports.push(flags);
        gate.wait();  // the first report holds the queue
    };
    start(*slow, callback, slowQueue);
    start(*fence, fenceReports, dispatch::SerialQueue::create("test.fence"));

    // Three changes while the slow callback is busy; the fence's reports show
    // when the service has dealt with each.
    const char* changes[] = {"route add 203.0.113.0/24 dev wired0",
                             "route del 203.0.113.0/24 dev wired0",
                             "route add 203.0.113.0/24 dev wired0"};
    for (std::size_t k = 0; k < 3; ++k) {
        ip(changes[k]);
        ASSERT_TRUE(fenceReports.log.waitForCount(k + 1));
    }
    EXPECT_EQ(slowQueue->pendingCount(), 1u);
    release.set_value();
    ASSERT_TRUE(slowReports.waitForCount(2));
    ip("route del 203.0.113.0/24 dev wired0");
    ASSERT_TRUE(slowReports.waitUntil(
        [](const std::vector<Flags>& seen) { return !seen.empty() && seen.back() == 0; }));
    // The report that held the queue is the first route change's, or a late one
    // from setting up the namespace; either way the changes it made the callback
    // miss arrive as one report, then the removal's.
    std::vector<Flags> seen = slowReports.events();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[0] == (R | d) || seen[0] == 0) << seen[0];
    EXPECT_EQ(std::vector(seen.begin() + 1, seen.end()), (std::vector<Flags>{R | d, 0}));
    stop(*slow);
    stop(*fence);
}

}  // namespace
}  // namespace ww::netlink
