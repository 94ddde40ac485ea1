#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ww::dispatch {

// The main run loop of the headless agent: a thread that runs posted tasks in
// order and fires repeating timers, until stopped.
class RunLoop {
public:
    using Task = std::function<void()>;
    using Clock = std::chrono::steady_clock;
    using TimerId = std::uint64_t;

    // The run loop of the main thread (the one `run` is called on).
    static RunLoop& main();

    // Queues the task without waiting.
    void post(Task task);
    // Runs the task on the loop's thread and returns when it finished. Called on
    // the loop's thread it runs the task at once. Returns false, without running
    // the task, when the loop has ended.
    bool postAndWait(const Task& task);

    // A timer that first fires one interval from now, then every interval.
    TimerId addRepeatingTimer(Clock::duration interval, Task task);
    void cancelTimer(TimerId id);

    // Runs tasks and timers on the calling thread until `stop`. Tasks posted
    // before the stop still run; afterwards `post` drops tasks and
    // `postAndWait` returns false.
    void run();
    void stop();
    // Runs what is due now and returns (for tests driving the loop by hand).
    void runPending();
    // Runs tasks and timers on the calling thread until `done` holds (checked
    // after every task) or the timeout passes; returns whether `done` held.
    bool runUntil(const std::function<bool()>& done, Clock::duration timeout);

    bool isLoopThread() const;
    bool isRunning() const;

private:
    struct Timer {
        TimerId id;
        Clock::duration interval;
        Clock::time_point next;
        Task task;
    };

    // Runs one task or timer; with nothing due, waits (when `block`) until
    // something may be due or `deadline` passes.
    bool runOneRound(std::unique_lock<std::mutex>& lock, bool block,
                     Clock::time_point deadline = Clock::time_point::max());

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    std::vector<Timer> m_timers;
    TimerId m_nextTimerId = 1;
    bool m_stopRequested = false;
    bool m_running = false;
    bool m_ended = false;
    std::thread::id m_thread;
};

}  // namespace ww::dispatch
