#include "platform/dispatch/RunLoop.h"

#include <algorithm>

namespace ww::dispatch {

RunLoop& RunLoop::main() {
    static RunLoop* loop = new RunLoop();  // lives until exit; threads may still post
    return *loop;
}

// Woken after the lock is released: a loop woken under it would wake only to
// wait for the lock again, a second switch for every post.
void RunLoop::post(Task task) {
    {
        std::lock_guard lock(m_mutex);
        if (m_ended) return;
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

bool RunLoop::postAndWait(const Task& task) {
    if (isLoopThread()) {
        task();
        return true;
    }
    std::mutex doneMutex;
    std::condition_variable doneCv;
    enum class State { Waiting, Done, Dropped } state = State::Waiting;
    {
        std::lock_guard lock(m_mutex);
        if (m_ended) return false;
        m_tasks.push_back([&] {
            task();
            std::lock_guard g(doneMutex);
            state = State::Done;
            doneCv.notify_one();
        });
    }
    m_wake.notify_one();
    std::unique_lock g(doneMutex);
    doneCv.wait(g, [&] { return state != State::Waiting; });
    return state == State::Done;
}

RunLoop::TimerId RunLoop::addRepeatingTimer(Clock::duration interval, Task task) {
    std::lock_guard lock(m_mutex);
    TimerId id = m_nextTimerId++;
    m_timers.push_back(Timer{id, interval, Clock::now() + interval, std::move(task)});
    m_wake.notify_one();
    return id;
}

void RunLoop::cancelTimer(TimerId id) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_timers, [id](const Timer& t) { return t.id == id; });
}

bool RunLoop::runOneRound(std::unique_lock<std::mutex>& lock, bool block,
                          Clock::time_point deadline) {
    if (!m_tasks.empty()) {
        Task t = std::move(m_tasks.front());
        m_tasks.pop_front();
        lock.unlock();
        t();
        t = nullptr;
        lock.lock();
        return true;
    }
    auto now = Clock::now();
    Timer* earliest = nullptr;
    for (auto& t : m_timers) {
        if (!earliest || t.next < earliest->next) earliest = &t;
    }
    if (earliest && earliest->next <= now && !m_stopRequested) {
        // A loop that fell behind fires once, then keeps the cadence from now.
        earliest->next += earliest->interval;
        if (earliest->next <= now) earliest->next = now + earliest->interval;
        Task t = earliest->task;
        lock.unlock();
        t();
        t = nullptr;
        lock.lock();
        return true;
    }
    if (!block || m_stopRequested) return false;
    Clock::time_point until = deadline;
    if (earliest && earliest->next < until) until = earliest->next;
    if (until == Clock::time_point::max()) {
        m_wake.wait(lock);
    } else {
        m_wake.wait_until(lock, until);
    }
    return true;
}

void RunLoop::run() {
    std::unique_lock lock(m_mutex);
    m_thread = std::this_thread::get_id();
    m_running = true;
    m_ended = false;
    for (;;) {
        if (m_stopRequested && m_tasks.empty()) break;
        runOneRound(lock, true);
    }
    m_running = false;
    m_stopRequested = false;
    m_ended = true;
    m_thread = std::thread::id();
}

void RunLoop::stop() {
    std::lock_guard lock(m_mutex);
    m_stopRequested = true;
    m_wake.notify_all();
}

void RunLoop::runPending() {
    std::unique_lock lock(m_mutex);
    auto previous = m_thread;
    m_thread = std::this_thread::get_id();
    while (runOneRound(lock, false)) {
    }
    m_thread = previous;
}

bool RunLoop::runUntil(const std::function<bool()>& done, Clock::duration timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    auto previous = m_thread;
    m_thread = std::this_thread::get_id();
    bool result = false;
    for (;;) {
        lock.unlock();
        result = done();
        lock.lock();
        if (result || Clock::now() >= deadline) break;
        runOneRound(lock, true, deadline);
    }
    m_thread = previous;
    return result;
}

bool RunLoop::isLoopThread() const {
    std::lock_guard lock(m_mutex);
    return m_thread == std::this_thread::get_id();
}

bool RunLoop::isRunning() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

}  // namespace ww::dispatch
