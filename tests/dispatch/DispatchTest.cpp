#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/dispatch/Group.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/dispatch/Timer.h"
#include "tests/support/common_Children.h"
#include "tests/support/common_TestSupport.h"

namespace ww::dispatch {
namespace {

using namespace test;

long threadCount() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {});
}

// 0, 1, ..., n - 1.
std::vector<int> upTo(int n) {
    std::vector<int> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

TEST(SerialQueueTest, RunsTasksOneAtATimeInSubmissionOrder) {
    auto queue = SerialQueue::create("test.order");
    std::vector<int> order;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int k = 0; k < 2000; ++k) {
        auto task = [&, k] {
            if (running.fetch_add(1) != 0) overlapped = true;
            order.push_back(k);
            running.fetch_sub(1);
        };
        // Mixed submissions keep one order.
        if (k % 100 == 0) {
            queue->sync(task);
        } else {
            queue->async(task);
        }
    }
    queue->sync([] {});
    EXPECT_EQ(order, upTo(2000));
    EXPECT_FALSE(overlapped.load());
}

TEST(SerialQueueTest, IdleSpinningWorkerMissesNoTask) {
    auto queue = SerialQueue::create("test.spin");
    queue->setIdleSpin(std::chrono::microseconds(20));
    std::atomic<int> ran{0};
    // One task at a time, each submitted while the worker runs, spins or is
    // about to sleep: a task left behind would stall the count.
    for (int k = 0; k < 20000; ++k) {
        queue->async([&] { ran.fetch_add(1, std::memory_order_relaxed); });
        if (k % 7 == 0) {
            ASSERT_TRUE(waitUntil([&] { return ran.load() == k + 1; })) << "task " << k << " stuck";
        }
    }
    ASSERT_TRUE(waitUntil([&] { return ran.load() == 20000; }));
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST(SerialQueueTest, SyncOnABusyQueueWaitsForTheWorkAheadOfIt) {
    auto queue = SerialQueue::create("test.busy");
    Gate gate;
    std::vector<std::string> order;
    queue->async([&] {
        gate.wait();
        order.push_back("async");
    });
    ASSERT_TRUE(gate.waitEntered());
    std::atomic<bool> syncReturned{false};
    std::thread caller([&] {
        queue->sync([&] { order.push_back("sync"); });
        syncReturned = true;
    });
    ASSERT_TRUE(waitUntil([&] { return queue->pendingCount() == 1; }));
    EXPECT_FALSE(syncReturned.load());
    gate.open();
    caller.join();
    EXPECT_EQ(order, (std::vector<std::string>{"async", "sync"}));
}

TEST(SerialQueueTest, SpecificValuesAndLabelsFollowNestedSubmissionsAndSyncOnItselfRunsAtOnce) {
    auto outer = SerialQueue::create("test.outer");
    auto inner = SerialQueue::create("test.inner");
    static char keyA, keyB, valueA, valueB;
    outer->setSpecific(&keyA, &valueA);
    inner->setSpecific(&keyB, &valueB);
    EXPECT_EQ(outer->specific(&keyA), &valueA);
    EXPECT_EQ(outer->specific(&keyB), nullptr);
    EXPECT_EQ(getSpecific(&keyA), nullptr);

    std::promise<void> done;
    outer->async([&] {
        EXPECT_EQ(getSpecific(&keyA), &valueA);
        EXPECT_STREQ(currentQueueLabel(), "test.outer");
        inner->sync([&] {
            // The innermost queue answers; the outer one is still "any".
            EXPECT_EQ(getSpecific(&keyA), nullptr);
            EXPECT_EQ(getSpecific(&keyB), &valueB);
            EXPECT_EQ(getSpecificInAnyQueue(&keyA), &valueA);
            EXPECT_STREQ(currentQueueLabel(), "test.inner");
            EXPECT_EQ(currentQueue(), inner.get());
            EXPECT_TRUE(outer->isCurrent());
            EXPECT_TRUE(inner->isCurrent());
            // A sync submission from the queue itself runs at once.
            std::vector<int> steps{1};
            inner->sync([&] {
                steps.push_back(2);
                inner->sync([&] { steps.push_back(3); });
            });
            EXPECT_EQ(steps, (std::vector<int>{1, 2, 3}));
        });
        EXPECT_STREQ(currentQueueLabel(), "test.outer");
        EXPECT_FALSE(inner->isCurrent());
        done.set_value();
    });
    ASSERT_EQ(done.get_future().wait_for(kWaitLimit), std::future_status::ready) << "deadlocked";
    EXPECT_EQ(currentQueueLabel(), nullptr);
    EXPECT_EQ(currentQueue(), nullptr);
    outer->setSpecific(&keyA, nullptr);
    EXPECT_EQ(outer->specific(&keyA), nullptr);
}

// The last reference goes while tasks are queued, with one of the queue's own
// tasks (the reachability monitor does that when a block stops its notifier):
// the tasks behind it still run, in order.
TEST(SerialQueueTest, TasksQueuedWhenTheLastReferenceGoesStillRun) {
    for (int round = 0; round < 50; ++round) {
        std::vector<int> order;  // written by the queue's tasks only
        std::atomic<bool> done{false};
        Gate gate;
        auto holder = std::make_shared<QueuePtr>(SerialQueue::create("test.dropped"));
        QueuePtr queue = *holder;
        queue->async([&] {
            gate.wait();
            order.push_back(0);
        });
        queue->async([holder, &order]() mutable {
            holder->reset();
            order.push_back(1);
        });
        for (int k = 2; k < 100; ++k) queue->async([&order, k] { order.push_back(k); });
        queue->async([&] { done = true; });
        ASSERT_TRUE(gate.waitEntered());
        holder.reset();
        queue.reset();
        gate.open();
        ASSERT_TRUE(waitUntil([&] { return done.load(); }));
        ASSERT_EQ(order, upTo(100));
    }
}

// Exit handlers run after the main thread's thread_local objects are gone;
// the log core flushes from one. Queues must still work there.
QueuePtr g_exitQueue;

TEST(SerialQueueTest, QueuesWorkInsideExitHandlers) {
    runInChildren(1, [](int) -> bool {
        g_exitQueue = SerialQueue::create("test.exit");
        g_exitQueue->sync([] {});
        std::atexit([] {
            std::string seen;
            g_exitQueue->async([&] { seen += "a"; });
            g_exitQueue->sync([&] { seen += currentQueueLabel() ? "s" : "?"; });
            seen += currentQueueLabel() ? "?" : "-";
            ::_exit(seen == "as-" ? 0 : 1);
        });
        std::exit(2);  // only the handler exits with success
    });
}

TEST(GroupTest, WaitReturnsWhenEveryMemberHasLeft) {
    Group group;
    group.wait();  // empty: returns at once
    std::vector<QueuePtr> queues;
    for (int k = 0; k < 4; ++k) queues.push_back(SerialQueue::create("test.group"));
    std::atomic<int> done{0};
    Gate gate;
    group.async(queues[0], [&] {
        gate.wait();
        done.fetch_add(1);
    });
    for (int k = 0; k < 100; ++k) group.async(queues[k % 4], [&] { done.fetch_add(1); });
    group.enter();
    std::atomic<bool> waited{false};
    std::thread waiter([&] {
        group.wait();
        waited = true;
    });
    ASSERT_TRUE(gate.waitEntered());
    gate.open();
    ASSERT_TRUE(waitUntil([&] { return done.load() == 101; }));
    EXPECT_FALSE(waited.load()) << "returned while a manual member was still in";
    group.leave();
    waiter.join();
    EXPECT_TRUE(waited.load());
}

TEST(SemaphoreTest, BoundsConcurrencyUnderContentionWithoutLosingWakeUps) {
    Semaphore sem(2);
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int k = 0; k < 20000; ++k) {
                sem.wait();
                int now = inside.fetch_add(1) + 1;
                int seen = most.load();
                while (now > seen && !most.compare_exchange_weak(seen, now)) {
                }
                inside.fetch_sub(1);
                sem.signal();
            }
            finished.fetch_add(1);
        });
    }
    // A lost wake-up leaves a thread asleep for good.
    bool allDone = waitUntil([&] { return finished.load() == 6; });
    if (!allDone) {
        // Unstick the sleepers so the threads can be joined, then fail.
        for (int k = 0; k < 6; ++k) sem.signal();
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(allDone);
    EXPECT_LE(most.load(), 2);
    EXPECT_TRUE(sem.tryWait());
    EXPECT_TRUE(sem.tryWait());
    EXPECT_FALSE(sem.tryWait());
}

TEST(OneShotTimerTest, FiresOnItsQueueAfterTheDelayUnlessCancelled) {
    auto queue = SerialQueue::create("test.timer");
    std::atomic<bool> cancelledRan{false};
    auto early =
        OneShotTimer::schedule(queue, std::chrono::milliseconds(10), [&] { cancelledRan = true; });
    early->cancel();
    EXPECT_TRUE(early->isCancelled());
    // A later timer on the same queue: once it ran, the earlier one had its turn.
    std::promise<bool> fired;
    auto start = OneShotTimer::Clock::now();
    auto timer = OneShotTimer::schedule(queue, std::chrono::milliseconds(30),
                                        [&] { fired.set_value(queue->isCurrent()); });
    auto future = fired.get_future();
    ASSERT_EQ(future.wait_for(kWaitLimit), std::future_status::ready);
    EXPECT_TRUE(future.get());
    EXPECT_GE(OneShotTimer::Clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_GE(timer->deadline() - start, std::chrono::milliseconds(30));
    queue->sync([] {});
    EXPECT_FALSE(cancelledRan.load());
}

TEST(OneShotTimerTest, CancelBeforeTheQueuedTaskRunsWins) {
    auto queue = SerialQueue::create("test.timer.race");
    Gate gate;
    queue->async([&] { gate.wait(); });
    ASSERT_TRUE(gate.waitEntered());
    std::atomic<bool> ran{false};
    auto timer = OneShotTimer::schedule(queue, std::chrono::milliseconds(0), [&] { ran = true; });
    // The timer has fired: its task waits behind the gate.
    ASSERT_TRUE(waitUntil([&] { return queue->pendingCount() == 1; }));
    timer->cancel();
    gate.open();
    queue->sync([] {});
    EXPECT_FALSE(ran.load());
}

TEST(OneShotTimerTest, ManyTimersShareOneThread) {
    auto queue = SerialQueue::create("test.timer.threads");
    // Make sure the timer thread exists before counting.
    std::promise<void> first;
    OneShotTimer::schedule(queue, std::chrono::milliseconds(0), [&] { first.set_value(); });
    ASSERT_EQ(first.get_future().wait_for(kWaitLimit), std::future_status::ready);
    queue->sync([] {});
    long before = threadCount();
    std::vector<TimerPtr> timers;
    for (int k = 0; k < 50; ++k) {
        timers.push_back(OneShotTimer::schedule(queue, std::chrono::hours(1), [] {}));
    }
    EXPECT_LE(threadCount(), before + 1);
    for (auto& t : timers) t->cancel();
}

TEST(RunLoopTest, PostedTasksRunInOrderOnTheLoopThread) {
    RunLoop loop;
    std::vector<int> order;
    std::thread runner([&] { loop.run(); });
    for (int k = 0; k < 100; ++k) loop.post([&, k] { order.push_back(k); });
    std::thread::id ranOn;
    bool onLoop = false;
    ASSERT_TRUE(loop.postAndWait([&] {
        ranOn = std::this_thread::get_id();
        onLoop = loop.isLoopThread();
        // Waiting from the loop thread itself runs at once.
        EXPECT_TRUE(loop.postAndWait([&] { order.push_back(-1); }));
    }));
    EXPECT_EQ(ranOn, runner.get_id());
    EXPECT_TRUE(onLoop);
    EXPECT_FALSE(loop.isLoopThread());
    EXPECT_TRUE(loop.isRunning());
    loop.stop();
    runner.join();
    auto expected = upTo(100);
    expected.push_back(-1);
    EXPECT_EQ(order, expected);
}

TEST(RunLoopTest, RepeatingTimerFiresUntilCancelledAndWhatIsPostedBeforeTheEndRuns) {
    RunLoop loop;
    int fired = 0;
    std::vector<int> order;
    RunLoop::TimerId id = 0;
    id = loop.addRepeatingTimer(std::chrono::milliseconds(5), [&] {
        if (++fired < 3) return;
        loop.cancelTimer(id);
        loop.stop();
        loop.post([&] { order.push_back(fired); });  // before the end: still runs
    });
    loop.run();  // on this thread, until the timer stops it
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(loop.isRunning());
    loop.post([&] { order.push_back(-1); });
    bool ran = false;
    EXPECT_FALSE(loop.postAndWait([&] { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_EQ(order, std::vector<int>{3});
}

}  // namespace
}  // namespace ww::dispatch
