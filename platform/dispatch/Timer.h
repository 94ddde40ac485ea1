#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "platform/dispatch/SerialQueue.h"

namespace ww::dispatch {

// A one-shot timer: after the delay its task is queued on the given queue,
// unless it was cancelled first. Cancelling from the queue itself guarantees
// the task will not run afterwards.
class OneShotTimer : public std::enable_shared_from_this<OneShotTimer> {
public:
    using Clock = std::chrono::steady_clock;

    static std::shared_ptr<OneShotTimer> schedule(QueuePtr queue, Clock::duration delay,
                                                  Task task);
    void cancel() { m_cancelled.store(true); }
    bool isCancelled() const { return m_cancelled.load(); }
    Clock::time_point deadline() const { return m_deadline; }

    // Called by the timer thread when the deadline has come.
    void fire();

private:
    OneShotTimer(QueuePtr queue, Clock::time_point deadline, Task task)
        : m_queue(std::move(queue)), m_deadline(deadline), m_task(std::move(task)) {}

    QueuePtr m_queue;
    Clock::time_point m_deadline;
    Task m_task;
    std::atomic<bool> m_cancelled{false};
};

using TimerPtr = std::shared_ptr<OneShotTimer>;

}  // namespace ww::dispatch
