#include "platform/qt/QtMainThread.h"

#include <QMetaObject>
#include <QThread>
#include <memory>

namespace ww::qt {

QtMainThread::QtMainThread(QObject* context) : m_context(context) {}

QtMainThread::~QtMainThread() { end(); }

void QtMainThread::post(std::function<void()> task) {
    {
        std::lock_guard lock(m_mutex);
        if (m_ended) return;
    }
    QMetaObject::invokeMethod(m_context, std::move(task), Qt::QueuedConnection);
}

bool QtMainThread::postAndWait(const std::function<void()>& task) {
    if (isMainThread()) {
        task();
        return true;
    }
    struct Request {
        bool started = false;
        bool done = false;
        bool abandoned = false;
    };
    auto request = std::make_shared<Request>();
    {
        std::lock_guard lock(m_mutex);
        if (m_ended) return false;
    }
    // The caller's task is only touched while the caller still waits for it.
    QMetaObject::invokeMethod(
        m_context,
        [this, request, &task] {
            {
                std::lock_guard lock(m_mutex);
                if (request->abandoned) return;
                request->started = true;
            }
            task();
            std::lock_guard lock(m_mutex);
            request->done = true;
            m_changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return request->done || (m_ended && !request->started); });
    if (request->done) return true;
    request->abandoned = true;
    return false;
}

bool QtMainThread::isMainThread() const { return QThread::currentThread() == m_context->thread(); }

void QtMainThread::end() {
    std::lock_guard lock(m_mutex);
    m_ended = true;
    m_changed.notify_all();
}

}  // namespace ww::qt
