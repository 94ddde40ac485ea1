// A queue whose last reference is dropped by one of its own tasks: the
// reachability monitor does exactly that when a block stops its notifier.

#include <gtest/gtest.h>

#include <future>

#include "platform/dispatch/SerialQueue.h"
#include "tests/reachability/ReachabilityTestSupport.h"

namespace ww::dispatch {
namespace {

TEST(SerialQueueReleaseTest, TaskDropsTheLastReferenceToItsQueue) {
    for (int round = 0; round < 50; ++round) {
        test::EventLog<int> ran;
        std::promise<void> allQueued;
        auto holder = std::make_shared<QueuePtr>(SerialQueue::create("test.release"));
        QueuePtr queue = *holder;
        // Held until everything is queued, so the worker runs the three in one go.
        queue->async([&ran, gate = allQueued.get_future().share()] {
            gate.wait();
            ran.push(1);
        });
        // The last reference lives in this task and goes with it; the task
        // queued behind it must still run, after it.
        queue->async([holder, &ran]() mutable {
            holder->reset();
            ran.push(2);
        });
        queue->async([&ran] { ran.push(3); });
        holder.reset();
        queue.reset();
        allQueued.set_value();
        ASSERT_TRUE(ran.waitForCount(3));
        EXPECT_EQ(ran.events(), (std::vector<int>{1, 2, 3}));
    }
}

}  // namespace
}  // namespace ww::dispatch
