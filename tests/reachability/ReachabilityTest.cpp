#include <gtest/gtest.h>

#include <atomic>

#include "reachability/Reachability.h"
#include "tests/reachability/ReachabilityTestSupport.h"

namespace ww {
namespace {

using namespace test;

constexpr ReachabilityFlags R = kReachabilityFlagsReachable;
constexpr ReachabilityFlags c = kReachabilityFlagsConnectionRequired;
constexpr ReachabilityFlags t = kReachabilityFlagsTransientConnection;
constexpr ReachabilityFlags i = kReachabilityFlagsInterventionRequired;
constexpr ReachabilityFlags C = kReachabilityFlagsConnectionOnTraffic;
constexpr ReachabilityFlags D = kReachabilityFlagsConnectionOnDemand;
constexpr ReachabilityFlags l = kReachabilityFlagsIsLocalAddress;
constexpr ReachabilityFlags d = kReachabilityFlagsIsDirect;

class ReachabilityTest : public ::testing::Test {
  protected:
    void SetUp() override { TestMainThread::install(); }

    // A monitor on a fake target whose state the test keeps.
    std::shared_ptr<Reachability> makeMonitor(std::shared_ptr<FakeTargetState>& state) {
        state = service.next;
        auto monitor = Reachability::reachabilityWithHostname("www.example.com", service);
        EXPECT_NE(monitor, nullptr);
        return monitor;
    }

    // A started monitor that nobody owns, the way the agent keeps it.
    std::weak_ptr<Reachability> startUnowned(Reachability::NetworkReachable reachable,
                                             Reachability::NetworkUnreachable unreachable) {
        auto monitor = Reachability::reachabilityWithHostname("www.example.com", service);
        EXPECT_NE(monitor, nullptr);
        if (!monitor) return {};
        monitor->setReachableBlock(std::move(reachable));
        monitor->setUnreachableBlock(std::move(unreachable));
        EXPECT_TRUE(monitor->startNotifier());
        return monitor;
    }

    FakeService service;
};

// The flags pick the block: connection required together with transient is
// unreachable even with the reachable bit.
TEST(ReachabilityFlagsTest, ReachableWithFlags) {
    using List = std::initializer_list<ReachabilityFlags>;
    for (ReachabilityFlags f : List{R, R | c, R | t, R | l | d, R | c | C | D | i}) {
        EXPECT_TRUE(Reachability::isReachableWithFlags(f)) << std::hex << f;
    }
    for (ReachabilityFlags f :
         List{0, c, t, l | d, c | t, R | c | t, R | c | t | d, R | c | t | i | C | D | l | d}) {
        EXPECT_FALSE(Reachability::isReachableWithFlags(f)) << std::hex << f;
    }
}

// The form with the installed service is what the agent uses (its trigger tests).
TEST_F(ReachabilityTest, NoMonitorWithoutATarget) {
    service.refuse = true;
    EXPECT_EQ(Reachability::reachabilityWithHostname("www.example.com", service), nullptr);
    setReachabilityService(nullptr);
    EXPECT_EQ(Reachability::reachabilityWithHostname("www.example.com"), nullptr);
}

TEST_F(ReachabilityTest, ChangeRunsTheMatchingBlockOnTheSerialQueueThenNotifies) {
    std::shared_ptr<FakeTargetState> state;
    auto monitor = makeMonitor(state);
    ChangeNotifications notifications(kReachabilityChangedNotification, monitor.get());
    // Which block ran, marked when it ran for another monitor or off the queue.
    EventLog<std::string> calls;
    auto record = [&](const char* which) {
        return [&calls, which, m = monitor.get()](Reachability& r) {
            auto queue = r.reachabilitySerialQueue();
            bool right = &r == m && queue && queue->isCurrent();
            calls.push(std::string(which) + (right ? "" : " (wrong monitor or thread)"));
        };
    };
    monitor->setReachableBlock(record("reachable"));
    monitor->setUnreachableBlock(record("unreachable"));
    ASSERT_TRUE(monitor->startNotifier());

    for (auto flags : {R | c | t, R | c, 0u, R | l | d}) ASSERT_TRUE(state->fire(flags));
    ASSERT_TRUE(calls.waitForCount(4));
    ASSERT_TRUE(notifications.log().waitForCount(4));
    EXPECT_EQ(calls.events(),
              (std::vector<std::string>{"unreachable", "reachable", "unreachable", "reachable"}));
    for (const auto& n : notifications.log().events()) {
        EXPECT_EQ(n.object, monitor.get());
        EXPECT_TRUE(n.onMainThread);
    }
    monitor->stopNotifier();
}

TEST_F(ReachabilityTest, StopUnregistersAndReleasesTheQueueAndSelf) {
    std::shared_ptr<FakeTargetState> state;
    auto monitor = makeMonitor(state);
    ASSERT_TRUE(monitor->startNotifier());
    EXPECT_EQ(monitor->reachabilityObject(), monitor);

    // A second start leaves the running notifier as it is.
    auto queue = monitor->reachabilitySerialQueue();
    EXPECT_TRUE(monitor->startNotifier());
    EXPECT_EQ(monitor->reachabilitySerialQueue(), queue);
    EXPECT_EQ(state->callsSoFar().size(), 2u);
    queue.reset();

    monitor->stopNotifier();
    EXPECT_EQ(monitor->reachabilitySerialQueue(), nullptr);
    EXPECT_EQ(monitor->reachabilityObject(), nullptr);
    EXPECT_EQ(monitor.use_count(), 1);
    EXPECT_FALSE(state->fire(R));  // nothing registered any more

    // It can start again.
    ASSERT_TRUE(monitor->startNotifier());
    monitor->stopNotifier();
}

// A failed registration leaves the monitor idle, with its console line on
// standard error; a failed queue registration unregisters the callback again.
TEST_F(ReachabilityTest, FailedRegistrationLeavesTheMonitorIdle) {
    struct Case {
        bool callbackFails;
        const char* call;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {true, "SCNetworkReachabilitySetCallback", {"callback"}},
        {false, "SCNetworkReachabilitySetDispatchQueue", {"callback", "queue", "no callback"}},
    };
    for (const Case& c : cases) {
        std::shared_ptr<FakeTargetState> state;
        auto monitor = makeMonitor(state);
        (c.callbackFails ? state->failSetCallback : state->failSetDispatchQueue) = true;
        state->failureText = "Operation not permitted";
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(monitor->startNotifier());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  std::string(c.call) + "() failed: Operation not permitted\n");
        EXPECT_EQ(state->callsSoFar(), c.calls);
        EXPECT_EQ(monitor->reachabilitySerialQueue(), nullptr);
        EXPECT_EQ(monitor->reachabilityObject(), nullptr);
        EXPECT_EQ(monitor.use_count(), 1);
        EXPECT_FALSE(state->fire(R));
    }
}

TEST_F(ReachabilityTest, NotifyingMonitorLivesWithoutOwnerUntilStopped) {
    std::shared_ptr<FakeTargetState> state = service.next;
    EventLog<ReachabilityFlags> reachable;
    auto watch =
        startUnowned([&](Reachability& r) { reachable.push(r.reachabilityFlags()); }, nullptr);
    ASSERT_FALSE(watch.expired());
    {
        std::lock_guard lock(state->mutex);
        state->flags = R | d;
    }
    ChangeNotifications notifications(kReachabilityChangedNotification, watch.lock().get());
    ASSERT_TRUE(state->fire(R | d));
    ASSERT_TRUE(reachable.waitForCount(1));
    // Without an unreachable block that change only notifies.
    ASSERT_TRUE(state->fire(0));
    ASSERT_TRUE(notifications.log().waitForCount(2));
    EXPECT_EQ(reachable.events(), std::vector<ReachabilityFlags>{R | d});

    auto monitor = watch.lock();
    ASSERT_NE(monitor, nullptr);
    monitor->stopNotifier();
    monitor.reset();
    TestMainThread::install().drain();  // the queued notification held it too
    EXPECT_TRUE(watch.expired());
}

TEST_F(ReachabilityTest, BlockMayStopItsOwnMonitor) {
    std::shared_ptr<FakeTargetState> state = service.next;
    EventLog<bool> stopped;
    auto watch = startUnowned(nullptr, [&](Reachability& r) {
        r.stopNotifier();
        stopped.push(r.reachabilityObject() == nullptr);
    });
    ASSERT_FALSE(watch.expired());
    // Without a reachable block a reachable change only notifies.
    ChangeNotifications notifications(kReachabilityChangedNotification, watch.lock().get());
    ASSERT_TRUE(state->fire(R));
    ASSERT_TRUE(notifications.log().waitForCount(1));
    ASSERT_TRUE(state->fire(0));
    ASSERT_TRUE(stopped.waitForCount(1));
    EXPECT_TRUE(stopped.events()[0]);
    // The unreachable change is announced too, after the block: the observer
    // must not go while that announcement may still reach it.
    ASSERT_TRUE(notifications.log().waitForCount(2));
    // Once the block and the notification are done, nothing holds it.
    EXPECT_TRUE(waitUntil([&] {
        TestMainThread::install().drain();
        return watch.expired();
    }));
}

}  // namespace
}  // namespace ww
