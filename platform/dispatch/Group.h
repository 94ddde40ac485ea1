#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/dispatch/SerialQueue.h"

namespace ww::dispatch {

// Counts outstanding work; `wait` returns when every entered piece has left.
class Group {
public:
    void enter();
    void leave();
    // Runs the task on the queue as a member of the group.
    void async(const QueuePtr& queue, Task task);
    // Blocks until the group is empty.
    void wait();
    // Blocks until the group is empty or `limit` has passed; whether it is empty.
    bool waitFor(std::chrono::steady_clock::duration limit);

private:
    std::mutex m_mutex;
    std::condition_variable m_empty;
    long m_count = 0;
};

// A counting semaphore: `wait` takes one unit, blocking while there is none.
// Taking and returning units that are there costs one atomic operation; the
// lock is only for callers that have to sleep (the count is then negative:
// minus the number of sleepers).
class Semaphore {
public:
    explicit Semaphore(long initial) : m_count(initial) {}
    void wait();
    bool tryWait();
    void signal();

private:
    std::atomic<long> m_count;
    std::mutex m_mutex;
    std::condition_variable m_available;
    long m_wakeups = 0;  // units handed to sleepers, under m_mutex
};

}  // namespace ww::dispatch
