#pragma once

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

private:
    std::mutex m_mutex;
    std::condition_variable m_empty;
    long m_count = 0;
};

// A counting semaphore: `wait` takes one unit, blocking while there is none.
class Semaphore {
public:
    explicit Semaphore(long initial) : m_count(initial) {}
    void wait();
    bool tryWait();
    void signal();

private:
    std::mutex m_mutex;
    std::condition_variable m_available;
    long m_count;
    long m_waiters = 0;
};

}  // namespace ww::dispatch
