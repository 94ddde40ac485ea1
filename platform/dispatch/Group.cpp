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

void Semaphore::wait() {
    std::unique_lock lock(m_mutex);
    if (m_count > 0) {
        --m_count;
        return;
    }
    ++m_waiters;
    m_available.wait(lock, [this] { return m_count > 0; });
    --m_waiters;
    --m_count;
}

bool Semaphore::tryWait() {
    std::lock_guard lock(m_mutex);
    if (m_count <= 0) return false;
    --m_count;
    return true;
}

void Semaphore::signal() {
    std::lock_guard lock(m_mutex);
    ++m_count;
    if (m_waiters > 0) m_available.notify_one();
}

}  // namespace ww::dispatch
