#pragma once

#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "platform/dispatch/MainThread.h"

namespace ww::qt {

// "Run on the main thread" over the Qt event loop of the GUI thread. Posted
// tasks run in the order they were posted. Once end() has been called (the
// event loop is over), posting drops the task and waiting returns false for a
// task that has not started; a task already running is waited for.
class QtMainThread : public dispatch::MainThread {
  public:
    // `context` lives on the GUI thread; tasks run in its thread.
    explicit QtMainThread(QObject* context);
    ~QtMainThread() override;

    void post(std::function<void()> task) override;
    bool postAndWait(const std::function<void()>& task) override;
    bool isMainThread() const override;

    void end();

  private:
    QObject* m_context;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_ended = false;
};

}  // namespace ww::qt
