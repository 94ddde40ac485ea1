#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/MainThread.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "reachability/ReachabilityService.h"
#include "tests/support/common_TestSupport.h"
#include "tests/support/reachability_Netns.h"

namespace ww::test {

inline constexpr auto kEventWaitLimit = std::chrono::seconds(10);

// Things that happen on other threads, recorded in order; tests wait for the
// n-th one instead of sleeping.
template <typename T>
class EventLog {
  public:
    void push(T value) {
        std::lock_guard lock(m_mutex);
        m_events.push_back(std::move(value));
        m_changed.notify_all();
    }
    // True once at least `count` events were recorded, false after kEventWaitLimit.
    bool waitForCount(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kEventWaitLimit, [&] { return m_events.size() >= count; });
    }
    // True once the recorded events satisfy `condition`, false after kEventWaitLimit.
    template <typename Condition>
    bool waitUntil(Condition condition) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kEventWaitLimit, [&] { return condition(m_events); });
    }
    std::vector<T> events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<T> m_events;
};

// The process's main thread for these tests: a run loop on a thread of its
// own, installed once.
class TestMainThread : public dispatch::MainThread {
  public:
    static TestMainThread& install() {
        static TestMainThread* instance = [] {
            auto* t = new TestMainThread();  // runs until the process ends
            dispatch::setMainThread(t);
            return t;
        }();
        return *instance;
    }
    void post(std::function<void()> task) override { m_loop.post(std::move(task)); }
    bool postAndWait(const std::function<void()>& task) override {
        return m_loop.postAndWait(task);
    }
    bool isMainThread() const override { return m_loop.isLoopThread(); }
    // Returns once every task posted before has run and been released.
    void drain() {
        m_loop.postAndWait([] {});
    }

  private:
    TestMainThread() : m_thread([this] { m_loop.run(); }) {}
    dispatch::RunLoop m_loop;
    std::thread m_thread;
};

// Records kReachabilityChangedNotification for one sender, with whether it
// arrived on the main thread.
class ChangeNotifications {
  public:
    struct Seen {
        const void* object;
        bool onMainThread;
    };
    ChangeNotifications(const std::string& name, const void* object) {
        m_token = NotificationCenter::defaultCenter().addObserver(
            name, object, [this](const Notification& n) {
                m_log.push({n.object, dispatch::mainThread().isMainThread()});
            });
    }
    ~ChangeNotifications() { NotificationCenter::defaultCenter().removeObserver(m_token); }
    EventLog<Seen>& log() { return m_log; }

  private:
    NotificationCenter::Token m_token;
    EventLog<Seen> m_log;
};

// ---- a fake service that records what it was asked and can fail ----

struct FakeTargetState {
    std::mutex mutex;
    std::optional<ReachabilityFlags> flags;
    ReachabilityTarget::Callback callback;
    dispatch::QueuePtr queue;
    bool failSetCallback = false;
    bool failSetDispatchQueue = false;
    std::string failureText = "Invalid argument";
    // "callback", "no callback", "queue", "no queue", in the order asked.
    std::vector<std::string> calls;

    // A change as the platform delivers it: on the registered queue. False
    // when nothing is registered.
    bool fire(ReachabilityFlags changed) {
        std::lock_guard lock(mutex);
        if (!queue || !callback) return false;
        queue->async([cb = callback, changed] { cb(changed); });
        return true;
    }
    std::vector<std::string> callsSoFar() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

class FakeTarget : public ReachabilityTarget {
  public:
    explicit FakeTarget(std::shared_ptr<FakeTargetState> state) : m_state(std::move(state)) {}
    std::optional<ReachabilityFlags> flags() override {
        std::lock_guard lock(m_state->mutex);
        return m_state->flags;
    }
    bool setCallback(Callback callback, std::string& error) override {
        std::lock_guard lock(m_state->mutex);
        m_state->calls.push_back(callback ? "callback" : "no callback");
        if (callback && m_state->failSetCallback) {
            error = m_state->failureText;
            return false;
        }
        m_state->callback = std::move(callback);
        return true;
    }
    bool setDispatchQueue(dispatch::QueuePtr queue, std::string& error) override {
        std::lock_guard lock(m_state->mutex);
        m_state->calls.push_back(queue ? "queue" : "no queue");
        if (queue && m_state->failSetDispatchQueue) {
            error = m_state->failureText;
            return false;
        }
        m_state->queue = std::move(queue);
        return true;
    }

  private:
    std::shared_ptr<FakeTargetState> m_state;
};

class FakeService : public ReachabilityService {
  public:
    std::unique_ptr<ReachabilityTarget> createWithName(const std::string& name) override {
        names.push_back(name);
        if (refuse) return nullptr;
        return std::make_unique<FakeTarget>(nextState());
    }
    std::unique_ptr<ReachabilityTarget> createWithAddress(const sockaddr_storage&) override {
        return nullptr;  // the agent watches a host name
    }

    // The state given to the next target made.
    std::shared_ptr<FakeTargetState> next = std::make_shared<FakeTargetState>();
    bool refuse = false;
    std::vector<std::string> names;

  private:
    std::shared_ptr<FakeTargetState> nextState() {
        auto state = std::move(next);
        next = std::make_shared<FakeTargetState>();
        return state;
    }
};

}  // namespace ww::test
