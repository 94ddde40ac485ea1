#pragma once

#include <functional>

namespace ww::dispatch {

// "Run on the main thread": the headless agent's run loop or the Qt event loop.
class MainThread {
public:
    virtual ~MainThread() = default;
    // Queues the task without waiting; tasks run in the order queued.
    virtual void post(std::function<void()> task) = 0;
    // Runs the task on the main thread and returns when it finished (at once
    // when called on the main thread). False when the loop has ended and the
    // task did not run.
    virtual bool postAndWait(const std::function<void()>& task) = 0;
    virtual bool isMainThread() const = 0;
};

// The process's main thread. Until a shell installs its own, this is the
// headless run loop (RunLoop::main()).
MainThread& mainThread();
void setMainThread(MainThread* mainThread);

}  // namespace ww::dispatch
