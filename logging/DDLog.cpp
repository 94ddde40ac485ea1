#include "logging/DDLog.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/dispatch/Group.h"
#include "platform/foundation/ProcessInfo.h"

namespace ww {

namespace {

char kGlobalLoggingQueueIdentityKey;
// Set on every registered logger's queue, so that the core knows when a log
// call comes from inside a logger (where waiting would deadlock).
char kLoggerQueueKey;

void lt_endBatch();

struct ClassLevel {
    std::function<std::int32_t()> get;
    std::function<void(std::int32_t)> set;
};

struct Core {
    Core()
        : loggingQueue(dispatch::SerialQueue::create("wirewatch.logging")),
          queueSemaphore(DDLog::kMaxQueuedMessages),
          numProcessors(std::max(1u, process::processorCount())) {
        loggers.reserve(4);
        loggingQueue->setSpecific(&kGlobalLoggingQueueIdentityKey, &kGlobalLoggingQueueIdentityKey);
        // Lines tend to come in bursts from busy threads: a worker that looks a
        // little longer for the next one saves a wake-up per line.
        loggingQueue->setIdleSpin(std::chrono::microseconds(50));
        // A run of asynchronous lines ends when the worker finds no more of
        // them (after that look): the loggers then hand what they hold to the
        // system, in one write for the whole run.
        loggingQueue->setIdleHandler([] { lt_endBatch(); });
        // Queued lines reach the files on a normal exit too.
        std::atexit([] { DDLog::applicationWillTerminate(); });
    }

    std::vector<DDLoggerNode> loggers;  // only on the logging queue
    bool batchOpen = false;             // only on the logging queue
    dispatch::QueuePtr loggingQueue;
    dispatch::Group loggingGroup;
    dispatch::Semaphore queueSemaphore;
    unsigned numProcessors;

    std::mutex classMutex;
    std::map<std::string, ClassLevel> classes;

    // Messages the fan-out is done with go back to the threads that log, which
    // delete them: memory is then freed by the thread that allocated it, and
    // the allocator's per-thread caches serve the next lines without the
    // logging thread and the callers fighting over the allocator's lock.
    std::vector<const DDLogMessage*> retiring;  // only on the logging queue
    std::mutex graveMutex;
    std::vector<const DDLogMessage*> grave;
    std::atomic<std::size_t> graveSize{0};
};

constexpr std::size_t kRetireBatch = 64;
constexpr std::size_t kGraveLimit = 4 * 1024;

Core& core() {
    static Core* c = new Core();  // lives until exit: loggers may run during exit
    return *c;
}

// On the logging queue, after the fan-out of an owned message.
void retire(const DDLogMessage* message) {
    Core& c = core();
    c.retiring.push_back(message);
    if (c.retiring.size() < kRetireBatch) return;
    {
        std::lock_guard lock(c.graveMutex);
        if (c.grave.size() < kGraveLimit) {
            c.grave.insert(c.grave.end(), c.retiring.begin(), c.retiring.end());
            c.graveSize.store(c.grave.size(), std::memory_order_relaxed);
            c.retiring.clear();
            return;
        }
    }
    // Nobody has logged for a while: no point in keeping them.
    for (const DDLogMessage* m : c.retiring) delete m;
    c.retiring.clear();
}

// Messages this thread got back from the fan-out, kept to be made into its
// next messages (object and text storage reused: no allocation per line).
// Plain data, so that log calls made during exit still find it; a thread's
// spares are deleted when it ends.
constexpr unsigned kSpares = 128;
thread_local DDLogMessage* t_spares[kSpares];
thread_local unsigned t_spareCount = 0;
thread_local bool t_sparesClosed = false;

void freeSpares(void*) {
    for (unsigned i = 0; i < t_spareCount; ++i) delete t_spares[i];
    t_spareCount = 0;
    t_sparesClosed = true;  // the thread is ending: no more keeping
}

pthread_key_t sparesKey() {
    static const pthread_key_t key = [] {
        pthread_key_t k;
        pthread_key_create(&k, freeSpares);
        return k;
    }();
    return key;
}

void keepOrDelete(const DDLogMessage* m) {
    if (t_sparesClosed || t_spareCount == kSpares) {
        delete m;
        return;
    }
    // The key's destructor runs at thread exit only while its value is set.
    if (t_spareCount == 0) pthread_setspecific(sparesKey(), &t_spareCount);
    t_spares[t_spareCount++] = const_cast<DDLogMessage*>(m);
}

// On a logging thread: takes back what the fan-out has returned.
void buryRetired() {
    Core& c = core();
    if (c.graveSize.load(std::memory_order_relaxed) < kRetireBatch) return;
    const DDLogMessage* dead[kGraveLimit + kRetireBatch];
    std::size_t count;
    {
        std::lock_guard lock(c.graveMutex);
        count = c.grave.size();
        std::copy(c.grave.begin(), c.grave.end(), dead);
        c.grave.clear();
        c.graveSize.store(0, std::memory_order_relaxed);
    }
    for (std::size_t i = 0; i < count; ++i) keepOrDelete(dead[i]);
}

// A spare message of this thread, made into a new one; null when there is none.
DDLogMessage* takeSpare() { return t_spareCount > 0 ? t_spares[--t_spareCount] : nullptr; }

bool onLoggingOrLoggerQueue() {
    return core().loggingQueue->isCurrent() ||
           dispatch::getSpecificInAnyQueue(&kLoggerQueueKey) != nullptr;
}

// Fan-out, on the logging queue. The message outlives the call. Each logger
// in turn, on its own queue: an idle logger queue runs the call right here, so
// a line costs no thread switch (handing it to other threads to work in
// parallel cost two wake-ups per line, and a formatted line is a few hundred
// nanoseconds of work). A synchronous message ends its batch at once, in the
// same visit to the logger's queue.
void lt_log(const DDLogMessage& message, bool synchronous) {
    Core& c = core();
    for (const auto& node : c.loggers) {
        DDLogger* logger = node.logger.get();
        node.loggerQueue->sync([logger, &message, synchronous] {
            logger->logMessage(message);
            if (synchronous) logger->logBatchDidEnd();
        });
    }
    if (synchronous) {
        // What earlier asynchronous lines left in the loggers went out with it.
        c.batchOpen = false;
    } else {
        c.batchOpen = true;
    }
}

// On the logging queue: the end of a run of asynchronous lines.
void lt_endBatch() {
    Core& c = core();
    if (!c.batchOpen) return;
    c.batchOpen = false;
    for (const auto& node : c.loggers) {
        DDLogger* logger = node.logger.get();
        node.loggerQueue->sync([logger] { logger->logBatchDidEnd(); });
    }
}

void lt_flush() {
    Core& c = core();
    for (const auto& node : c.loggers) {
        c.loggingGroup.async(node.loggerQueue, [logger = node.logger] { logger->flush(); });
    }
    c.loggingGroup.wait();
}

}  // namespace

dispatch::QueuePtr DDLog::loggingQueue() { return core().loggingQueue; }

const void* DDLog::globalLoggingQueueIdentityKey() { return &kGlobalLoggingQueueIdentityKey; }

void DDLog::addLogger(DDLoggerPtr logger) {
    if (!logger) return;
    core().loggingQueue->async([logger = std::move(logger)] {
        dispatch::QueuePtr queue = logger->loggerQueue();
        if (!queue) {
            queue = dispatch::SerialQueue::create(logger->loggerName().value_or(""));
        }
        queue->setSpecific(&kLoggerQueueKey, &kLoggerQueueKey);
        core().loggers.push_back(DDLoggerNode{logger, queue});
        queue->async([logger] { logger->didAddLogger(); });
    });
}

void DDLog::removeLogger(const DDLoggerPtr& logger) {
    if (!logger) return;
    core().loggingQueue->async([logger] {
        auto& nodes = core().loggers;
        for (auto it = nodes.begin(); it != nodes.end(); ++it) {
            if (it->logger == logger) {
                it->loggerQueue->async([logger] { logger->willRemoveLogger(); });
                nodes.erase(it);
                return;
            }
        }
    });
}

void DDLog::removeAllLoggers() {
    core().loggingQueue->async([] {
        auto& nodes = core().loggers;
        for (const auto& node : nodes) {
            node.loggerQueue->async([logger = node.logger] { logger->willRemoveLogger(); });
        }
        nodes.clear();
    });
}

std::vector<DDLoggerPtr> DDLog::allLoggers() {
    std::vector<DDLoggerPtr> out;
    core().loggingQueue->sync([&] {
        for (const auto& node : core().loggers) out.push_back(node.logger);
    });
    return out;
}

void DDLog::logText(bool asynchronous, std::int32_t level, std::int32_t flag, std::int32_t context,
                    const char* file, const char* function, std::int32_t line,
                    std::shared_ptr<void> tag, std::string text) {
    Core& c = core();
    if (!asynchronous && !onLoggingOrLoggerQueue()) {
        // The caller waits for the fan-out: the message can live on its stack.
        DDLogMessage message(std::move(text), level, flag, context, file, function, line,
                             std::move(tag), 0);
        c.queueSemaphore.wait();
        c.loggingQueue->sync([&] {
            lt_log(message, true);
            core().queueSemaphore.signal();
        });
        return;
    }
    // Owned by the queued task, which deletes it after the fan-out. A task
    // holding one plain pointer fits in the queue's task object: no second
    // allocation per line.
    buryRetired();
    DDLogMessage* message = takeSpare();
    if (message) {
        message->reinit(std::move(text), level, flag, context, file, function, line,
                        std::move(tag), 0);
    } else {
        message = new DDLogMessage(std::move(text), level, flag, context, file, function, line,
                                   std::move(tag), 0);
    }
    if (onLoggingOrLoggerQueue()) {
        c.loggingQueue->async([message] {
            lt_log(*message, false);
            retire(message);
        });
        return;
    }
    c.queueSemaphore.wait();
    c.loggingQueue->async([message] {
        lt_log(*message, false);
        retire(message);
        core().queueSemaphore.signal();
    });
}

std::string DDLog::takeTextBuffer() {
    if (t_spareCount == 0) return {};
    std::string text = std::move(t_spares[t_spareCount - 1]->m_logMsg);
    text.clear();
    return text;
}

void DDLog::queueLogMessage(DDLogMessagePtr message, bool asynchronously) {
    if (!message) return;
    Core& c = core();
    if (onLoggingOrLoggerQueue()) {
        // From inside the core or a logger, neither waiting for the fan-out nor
        // waiting for room could ever end: queue the line and move on. Such
        // lines do not count against the backlog bound.
        c.loggingQueue->async([message] { lt_log(*message, false); });
        return;
    }
    c.queueSemaphore.wait();
    if (asynchronously) {
        c.loggingQueue->async([message] {
            lt_log(*message, false);
            core().queueSemaphore.signal();
        });
    } else {
        c.loggingQueue->sync([&] {
            lt_log(*message, true);
            core().queueSemaphore.signal();
        });
    }
}

void DDLog::flushLog() { core().loggingQueue->sync(lt_flush); }

void DDLog::applicationWillTerminate() { flushLog(); }

void DDLog::registerClass(const std::string& name, std::function<std::int32_t()> getLevel,
                          std::function<void(std::int32_t)> setLevel) {
    Core& c = core();
    std::lock_guard lock(c.classMutex);
    c.classes[name] = ClassLevel{std::move(getLevel), std::move(setLevel)};
}

bool DDLog::isRegisteredClass(const std::string& name) {
    Core& c = core();
    std::lock_guard lock(c.classMutex);
    auto it = c.classes.find(name);
    return it != c.classes.end() && it->second.get && it->second.set;
}

std::vector<std::string> DDLog::registeredClassNames() {
    Core& c = core();
    std::lock_guard lock(c.classMutex);
    std::vector<std::string> names;
    for (const auto& [name, level] : c.classes) {
        if (level.get && level.set) names.push_back(name);
    }
    return names;
}

std::int32_t DDLog::logLevelForClass(const std::string& name) {
    std::function<std::int32_t()> get;
    {
        Core& c = core();
        std::lock_guard lock(c.classMutex);
        auto it = c.classes.find(name);
        if (it == c.classes.end() || !it->second.get || !it->second.set) return -1;
        get = it->second.get;
    }
    return get();
}

void DDLog::setLogLevel(std::int32_t level, const std::string& name) {
    std::function<void(std::int32_t)> set;
    {
        Core& c = core();
        std::lock_guard lock(c.classMutex);
        auto it = c.classes.find(name);
        if (it == c.classes.end() || !it->second.get || !it->second.set) return;
        set = it->second.set;
    }
    set(level);
}

// ---- DDAbstractLogger ----------------------------------------------------------------

DDAbstractLogger::DDAbstractLogger(std::string loggerName,
                                   std::shared_ptr<DDLogFormatter> initialFormatter)
    : m_loggerName(std::move(loggerName)),
      m_formatter(std::move(initialFormatter)),
      m_loggerQueue(dispatch::SerialQueue::create(m_loggerName)) {
    m_loggerQueue->setSpecific(this, this);
}

DDAbstractLogger::~DDAbstractLogger() = default;

std::shared_ptr<DDLogFormatter> DDAbstractLogger::logFormatter() {
    std::shared_ptr<DDLogFormatter> result;
    DDLog::loggingQueue()->sync([&] { m_loggerQueue->sync([&] { result = m_formatter; }); });
    return result;
}

void DDAbstractLogger::setLogFormatter(std::shared_ptr<DDLogFormatter> formatter) {
    std::weak_ptr<DDAbstractLogger> weak = weak_from_this();
    auto queue = m_loggerQueue;
    DDLog::loggingQueue()->async([weak, queue, formatter = std::move(formatter)] {
        queue->async([weak, formatter] {
            auto self = weak.lock();
            if (!self || formatter == self->m_formatter) return;
            if (self->m_formatter) self->m_formatter->willRemoveFromLogger(self.get());
            self->m_formatter = formatter;
            if (self->m_formatter) self->m_formatter->didAddToLogger(self.get());
        });
    });
}

bool DDAbstractLogger::isOnGlobalLoggingQueue() const {
    return dispatch::getSpecific(&kGlobalLoggingQueueIdentityKey) != nullptr;
}

bool DDAbstractLogger::isOnInternalLoggerQueue() const {
    return dispatch::getSpecific(this) != nullptr;
}

}  // namespace ww
