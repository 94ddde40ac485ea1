#include "platform/dispatch/MainThread.h"

#include <atomic>

#include "platform/dispatch/RunLoop.h"

namespace ww::dispatch {

namespace {

class RunLoopMainThread : public MainThread {
public:
    void post(std::function<void()> task) override { RunLoop::main().post(std::move(task)); }
    bool postAndWait(const std::function<void()>& task) override {
        return RunLoop::main().postAndWait(task);
    }
    bool isMainThread() const override { return RunLoop::main().isLoopThread(); }
};

RunLoopMainThread s_runLoopMainThread;
std::atomic<MainThread*> s_mainThread{nullptr};

}  // namespace

MainThread& mainThread() {
    MainThread* m = s_mainThread.load();
    return m ? *m : s_runLoopMainThread;
}

void setMainThread(MainThread* mainThread) { s_mainThread.store(mainThread); }

}  // namespace ww::dispatch
