#include "platform/dispatch/Timer.h"

#include <condition_variable>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace ww::dispatch {

namespace {

// One thread serves every one-shot timer of the process: timers are rare
// (the file logger's age roll), so a heap ordered by deadline is plenty.
class TimerThread {
public:
    static TimerThread& instance() {
        static TimerThread* t = new TimerThread();  // never destroyed: timers may fire at exit
        return *t;
    }

    void add(const TimerPtr& timer) {
        std::lock_guard lock(m_mutex);
        m_heap.push(timer);
        // A detached thread is no longer joinable: remember that it runs, or
        // every timer would start a thread of its own.
        if (!m_started) {
            std::thread([this] { loop(); }).detach();
            m_started = true;
        }
        m_changed.notify_one();
    }

private:
    struct Later {
        bool operator()(const TimerPtr& a, const TimerPtr& b) const {
            return a->deadline() > b->deadline();
        }
    };

    void loop() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_heap.empty()) {
                m_changed.wait(lock);
                continue;
            }
            TimerPtr next = m_heap.top();
            if (next->isCancelled()) {
                m_heap.pop();
                continue;
            }
            if (OneShotTimer::Clock::now() < next->deadline()) {
                m_changed.wait_until(lock, next->deadline());
                continue;
            }
            m_heap.pop();
            lock.unlock();
            next->fire();
            next.reset();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::priority_queue<TimerPtr, std::vector<TimerPtr>, Later> m_heap;
    bool m_started = false;
};

}  // namespace

std::shared_ptr<OneShotTimer> OneShotTimer::schedule(QueuePtr queue, Clock::duration delay,
                                                     Task task) {
    if (delay < Clock::duration::zero()) delay = Clock::duration::zero();
    auto timer = std::shared_ptr<OneShotTimer>(
        new OneShotTimer(std::move(queue), Clock::now() + delay, std::move(task)));
    TimerThread::instance().add(timer);
    return timer;
}

void OneShotTimer::fire() {
    if (isCancelled()) return;
    // Checked again on the queue: a cancel made there before the task runs wins.
    m_queue->async([self = shared_from_this()] {
        if (!self->isCancelled()) self->m_task();
    });
}

}  // namespace ww::dispatch
