#include "platform/dispatch/Group.h"

namespace ww::dispatch {

void Group::enter() {
    std::lock_guard lock(m_mutex);
    ++m_count;
}

void Group::leave() {
    std::lock_guard lock(m_mutex);
    if (--m_count == 0) m_empty.notify_all();
}

void Group::async(const QueuePtr& queue, Task task) {
    enter();
    queue->async([this, task = std::move(task)] {
        task();
        leave();
    });
}

void Group::wait() {
    std::unique_lock lock(m_mutex);
    m_empty.wait(lock, [this] { return m_count == 0; });
}

bool Group::waitFor(std::chrono::steady_clock::duration limit) {
    std::unique_lock lock(m_mutex);
    return m_empty.wait_for(lock, limit, [this] { return m_count == 0; });
}

void Semaphore::wait() {
    if (m_count.fetch_sub(1, std::memory_order_acquire) > 0) return;
    // No unit left: this caller is counted as a sleeper and waits for a
    // signal to hand it one.
    std::unique_lock lock(m_mutex);
    m_available.wait(lock, [this] { return m_wakeups > 0; });
    --m_wakeups;
}

bool Semaphore::tryWait() {
    long count = m_count.load(std::memory_order_relaxed);
    while (count > 0) {
        if (m_count.compare_exchange_weak(count, count - 1, std::memory_order_acquire,
                                          std::memory_order_relaxed)) {
            return true;
        }
    }
    return false;
}

void Semaphore::signal() {
    if (m_count.fetch_add(1, std::memory_order_release) >= 0) return;
    // Someone sleeps (or is about to): hand the unit over.
    std::lock_guard lock(m_mutex);
    ++m_wakeups;
    m_available.notify_one();
}

}  // namespace ww::dispatch
