#include "platform/dispatch/SerialQueue.h"

namespace ww::dispatch {

namespace {

// The queues the calling thread is running tasks for: a chain through the
// scopes on its stack, innermost first. A plain pointer has no destructor, so
// code that runs after the thread's thread_local objects are gone (atexit
// handlers on the main thread) can still submit work.
struct CurrentQueueScope;
thread_local CurrentQueueScope* t_innermost = nullptr;

struct CurrentQueueScope {
    explicit CurrentQueueScope(SerialQueue* q) : queue(q), outer(t_innermost) {
        t_innermost = this;
    }
    ~CurrentQueueScope() { t_innermost = outer; }
    CurrentQueueScope(const CurrentQueueScope&) = delete;
    CurrentQueueScope& operator=(const CurrentQueueScope&) = delete;

    SerialQueue* queue;
    CurrentQueueScope* outer;
};

}  // namespace

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label) {
    return std::shared_ptr<SerialQueue>(new SerialQueue(std::move(label)));
}

SerialQueue::SerialQueue(std::string label) : m_label(std::move(label)) {}

SerialQueue::~SerialQueue() {
    std::unique_lock lock(m_mutex);
    if (m_worker.joinable()) {
        m_stopping = true;
        m_wake.notify_all();
        lock.unlock();
        // The last reference may be dropped by one of our own tasks. The
        // worker then leaves without touching the queue once that task is
        // done, and runs what is still queued on its way out.
        if (m_worker.get_id() == std::this_thread::get_id()) {
            lock.lock();
            m_workerState->leftovers.swap(m_tasks);
            m_pending.store(0, std::memory_order_relaxed);
            lock.unlock();
            m_workerState->destroyed = true;
            m_worker.detach();
        } else {
            m_worker.join();
        }
        return;
    }
    // Never had a worker: whatever is queued could only be synchronous work
    // that already ran. Run leftovers to keep the promise that queued work runs.
    std::deque<Task> left;
    left.swap(m_tasks);
    m_pending.store(0, std::memory_order_relaxed);
    lock.unlock();
    for (auto& t : left) runAsCurrent(t);
}

void SerialQueue::runAsCurrent(const Task& task) {
    CurrentQueueScope scope(this);
    task();
}

void SerialQueue::wakeWorkerLocked() {
    m_owned = true;
    m_workerWanted = true;
    if (!m_worker.joinable()) {
        m_workerState = std::make_shared<WorkerState>();
        m_worker = std::thread([this, state = m_workerState] { workerLoop(*state); });
    } else {
        m_wake.notify_one();
    }
}

void SerialQueue::async(Task task) {
    std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
    m_pending.fetch_add(1, std::memory_order_relaxed);
    if (!m_owned) wakeWorkerLocked();
}

void SerialQueue::sync(const Task& task) {
    if (isCurrent()) {
        runAsCurrent(task);
        return;
    }
    std::unique_lock lock(m_mutex);
    if (!m_owned && m_tasks.empty()) {
        // Idle: run here, holding ownership so that others queue behind us.
        m_owned = true;
        lock.unlock();
        runAsCurrent(task);
        lock.lock();
        m_owned = false;
        if (!m_tasks.empty()) wakeWorkerLocked();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneCv;
    bool done = false;
    m_tasks.push_back([&] {
        task();
        std::lock_guard g(doneMutex);
        done = true;
        doneCv.notify_one();
    });
    m_pending.fetch_add(1, std::memory_order_relaxed);
    if (!m_owned) wakeWorkerLocked();
    lock.unlock();
    std::unique_lock g(doneMutex);
    doneCv.wait(g, [&] { return done; });
}

void SerialQueue::workerLoop(WorkerState& state) {
    std::unique_lock lock(m_mutex);
    // Tasks run since the worker last woke up.
    std::size_t ran = 0;
    for (;;) {
        m_wake.wait(lock, [this] { return m_workerWanted || m_stopping; });
        if (m_workerWanted) {
            while (!m_tasks.empty()) {
                // Everything queued so far is taken in one go: a queue fed
                // faster than it runs takes its lock once per run of tasks,
                // not twice per task.
                std::deque<Task>& batch = state.batch;
                batch.swap(m_tasks);
                lock.unlock();
                while (!batch.empty()) {
                    Task t = std::move(batch.front());
                    batch.pop_front();
                    m_pending.fetch_sub(1, std::memory_order_relaxed);
                    ++ran;
                    runAsCurrent(t);
                    t = nullptr;  // release captures before the next task
                    if (state.destroyed) {
                        // The queue is gone: its remaining tasks run here, in order.
                        for (auto& left : batch) left();
                        for (auto& left : state.leftovers) left();
                        return;
                    }
                }
                lock.lock();
            }
            // Still the owner: what is submitted while we look needs no wake-up.
            // Only after more than one task since waking: a lone task (a quiet
            // program's occasional line) is not followed by more, and looking
            // on after it would only burn the time.
            if (!m_stopping && ran > 1 && m_idleSpinUs.load(std::memory_order_relaxed) > 0) {
                lock.unlock();
                spinForWork();
                lock.lock();
                // Checked under the lock: a task may have come after the last look.
                if (!m_tasks.empty()) continue;
            }
            if (m_idleHandler) {
                lock.unlock();
                runAsCurrent(m_idleHandler);
                lock.lock();
                if (!m_tasks.empty()) continue;
            }
            m_workerWanted = false;
            m_owned = false;
            ran = 0;
        }
        if (m_stopping && m_tasks.empty()) return;
    }
}

void SerialQueue::setSpecific(const void* key, void* value) {
    std::lock_guard lock(m_mutex);
    if (value) {
        m_specifics[key] = value;
    } else {
        m_specifics.erase(key);
    }
}

void* SerialQueue::specific(const void* key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_specifics.find(key);
    return it == m_specifics.end() ? nullptr : it->second;
}

bool SerialQueue::isCurrent() const {
    for (auto* scope = t_innermost; scope; scope = scope->outer) {
        if (scope->queue == this) return true;
    }
    return false;
}

void SerialQueue::spinForWork() {
    auto until = std::chrono::steady_clock::now() +
                 std::chrono::microseconds(m_idleSpinUs.load(std::memory_order_relaxed));
    for (unsigned k = 1;; ++k) {
        if (m_pending.load(std::memory_order_relaxed) > 0) return;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        if (k % 64 == 0 && std::chrono::steady_clock::now() >= until) return;
    }
}

void* getSpecific(const void* key) {
    return t_innermost ? t_innermost->queue->specific(key) : nullptr;
}

void* getSpecificInAnyQueue(const void* key) {
    for (auto* scope = t_innermost; scope; scope = scope->outer) {
        if (void* v = scope->queue->specific(key)) return v;
    }
    return nullptr;
}

const char* currentQueueLabel() {
    return t_innermost ? t_innermost->queue->label().c_str() : nullptr;
}

SerialQueue* currentQueue() { return t_innermost ? t_innermost->queue : nullptr; }

}  // namespace ww::dispatch
