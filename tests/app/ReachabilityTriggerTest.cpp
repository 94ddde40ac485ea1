#include <gtest/gtest.h>

#include "reachability/Reachability.h"
#include "tests/app/AgentFixture.h"
#include "tests/reachability/ReachabilityTestSupport.h"

namespace ww::test {
namespace {

class ReachabilityTriggerTest : public AgentFixture {
  protected:
    void TearDown() override {
        AgentFixture::TearDown();
        setReachabilityService(nullptr);
    }
};

TEST_F(ReachabilityTriggerTest, EveryChangeStartsACheckWithoutWaitingForTheTimer) {
    auto service = std::make_shared<FakeService>();
    std::shared_ptr<FakeTargetState> target = service->next;
    setReachabilityService(service);
    reachabilityHost = "www.debian.org";
    wired = true;
    launch();
    EXPECT_EQ(service->names, (std::vector<std::string>{"www.debian.org"}));
    EXPECT_EQ(inventories.load(), 0);

    // Reachable and unreachable changes both trigger.
    for (ReachabilityFlags flags : {kReachabilityFlagsReachable, ReachabilityFlags{0}}) {
        int before = inventories.load();
        ASSERT_TRUE(target->fire(flags));
        ASSERT_TRUE(loop.runUntil(
            [&] { return inventories.load() == before + 1 && !delegate->isRunning(); },
            std::chrono::seconds(20)));
        ASSERT_TRUE(delegate->waitForCheckThread(std::chrono::seconds(10)));
    }

    // The delegate stops its monitor when it goes away, so no late change can
    // reach a destroyed delegate.
    delegate.reset();
    EXPECT_FALSE(target->fire(kReachabilityFlagsReachable));
}

TEST_F(ReachabilityTriggerTest, WithoutAMonitorTheFiveSecondTimerRemainsTheTrigger) {
    auto service = std::make_shared<FakeService>();
    service->refuse = true;
    setReachabilityService(service);
    reachabilityHost = "www.debian.org";
    launch();
    EXPECT_EQ(service->names.size(), 1u);
    loop.runPending();
    EXPECT_EQ(inventories.load(), 0) << "start-up itself starts no check";
    ASSERT_EQ(shell.timerIntervals().size(), 1u);
    EXPECT_DOUBLE_EQ(shell.timerIntervals()[0], 5.0);
    runCheck();  // checks still run
    EXPECT_EQ(inventories.load(), 1);
}

}  // namespace
}  // namespace ww::test
