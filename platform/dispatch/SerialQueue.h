#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace ww::dispatch {

using Task = std::function<void()>;

// A serial queue: tasks run one at a time, in the order submitted, on a worker
// thread that the queue owns. A synchronous submission to an idle queue runs
// on the caller's thread (as if on the queue), which saves two thread switches.
//
// Queues are shared by reference. Tasks still queued when the last reference
// goes away are run before the worker ends.
class SerialQueue : public std::enable_shared_from_this<SerialQueue> {
public:
    static std::shared_ptr<SerialQueue> create(std::string label);
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return m_label; }

    // Queues the task and returns at once.
    void async(Task task);

    // Runs the task on the queue and returns when it has finished. Called from
    // a task of this very queue, it runs the task at once: waiting would never end.
    void sync(const Task& task);

    // Queue-specific values: a key (any address) mapped to a value. `specific`
    // reads this queue's value; `getSpecific` the current queue's.
    void setSpecific(const void* key, void* value);
    void* specific(const void* key) const;

    // True when the calling code runs as a task of this queue (directly or
    // inside a synchronous submission made from one of its tasks).
    bool isCurrent() const;

    // Number of tasks waiting (not counting one that runs). Needs no lock; a
    // task of the queue sees every task taken before it as gone.
    std::size_t pendingCount() const { return m_pending.load(std::memory_order_relaxed); }

    // How long the worker keeps looking for more work after running out,
    // before it sleeps. Submissions in that window need no wake-up call, which
    // is what a queue fed at a high rate by another thread spends most on.
    // Off (zero) by default.
    void setIdleSpin(std::chrono::microseconds spin) { m_idleSpinUs.store(spin.count()); }

    // Runs on the worker, as a task of the queue, whenever it has run out of
    // work (after the idle spin) and is about to sleep; tasks it submits run
    // before the worker sleeps. Set it before the queue is used.
    void setIdleHandler(Task handler) { m_idleHandler = std::move(handler); }

private:
    // Shared with the worker thread, which outlives a queue destroyed by one
    // of its own tasks; only the worker thread touches it then.
    struct WorkerState {
        bool destroyed = false;
        std::deque<Task> leftovers;
        std::deque<Task> batch;  // the tasks taken for the current run
    };

    explicit SerialQueue(std::string label);
    void runAsCurrent(const Task& task);
    void workerLoop(WorkerState& state);
    void wakeWorkerLocked();
    // Polls for new tasks for up to the idle-spin time.
    void spinForWork();

    const std::string m_label;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    // Tasks queued or taken for the current run and not started yet.
    std::atomic<std::size_t> m_pending{0};
    std::atomic<std::int64_t> m_idleSpinUs{0};
    Task m_idleHandler;
    bool m_owned = false;         // a thread is running this queue's tasks
    bool m_workerWanted = false;  // ownership was handed to the worker
    bool m_stopping = false;
    std::thread m_worker;
    std::shared_ptr<WorkerState> m_workerState;
    std::map<const void*, void*> m_specifics;
};

using QueuePtr = std::shared_ptr<SerialQueue>;

// The value for `key` of the innermost queue the calling code runs on, or null.
void* getSpecific(const void* key);

// The value for `key` of any queue the calling code runs on, innermost first.
void* getSpecificInAnyQueue(const void* key);

// The label of the innermost queue the calling code runs on, or null when the
// code runs on no queue.
const char* currentQueueLabel();

// The innermost queue the calling code runs on, or null.
SerialQueue* currentQueue();

}  // namespace ww::dispatch
