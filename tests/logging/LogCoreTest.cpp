#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

#include "logging/DDLog.h"
#include "platform/dispatch/SerialQueue.h"
#include "tests/logging/LoggingTestSupport.h"

namespace ww::test {
namespace {

// Records the texts it is given (through its formatter, when it has one) and
// can hold every logMessage call at a gate until the test lets it pass.
class RecordingLogger : public DDAbstractLogger {
  public:
    explicit RecordingLogger(std::string name = "test.recording") : DDAbstractLogger(name) {}

    void logMessage(const DDLogMessage& message) override {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return !m_gateClosed || m_passes > 0; });
            if (m_gateClosed) --m_passes;
        }
        if (m_onMessage) m_onMessage(message);
        const auto& formatter = formatterOnQueue();
        auto text = formatter ? formatter->formatLogMessage(message) : message.logMsg();
        std::lock_guard lock(m_mutex);
        if (text) m_texts.push_back(*text);
        m_changed.notify_all();
    }
    void didAddLogger() override { ++added; }
    void willRemoveLogger() override {
        removedOnOwnQueue = isOnInternalLoggerQueue();
        ++removed;
    }

    void closeGate() { setGate(true, 0); }
    void openGate() { setGate(false, 0); }
    void pass(int n) { setGate(true, n); }  // lets `n` more messages through a closed gate
    bool waitForCount(size_t n) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kWaitLimit, [&] { return m_texts.size() >= n; });
    }
    std::vector<std::string> texts() {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }
    size_t count() { return texts().size(); }
    // Runs on the logger's queue before a message is recorded.
    void onMessage(std::function<void(const DDLogMessage&)> f) { m_onMessage = std::move(f); }

    std::atomic<int> added{0}, removed{0};
    std::atomic<bool> removedOnOwnQueue{false};

  private:
    void setGate(bool closed, int passes) {
        std::lock_guard lock(m_mutex);
        m_gateClosed = closed;
        m_passes += passes;
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_texts;
    bool m_gateClosed = false;
    int m_passes = 0;
    std::function<void(const DDLogMessage&)> m_onMessage;
};

// A hang here is the failure under test: report it and end the run rather
// than block the whole suite.
template <typename F>
void finishesWithin(F&& f, const char* what) {
    auto done = std::async(std::launch::async, std::forward<F>(f));
    if (done.wait_for(kWaitLimit) != std::future_status::ready) {
        std::fprintf(stderr, "deadlock: %s did not finish\n", what);
        std::_Exit(3);
    }
    done.get();
}

void logAsync(const std::string& text) {
    DDLog::log(true, 15, DDLogFlagInfo, 0, __FILE__, "logAsync", __LINE__, nullptr, "%@", text);
}
void logSync(const std::string& text) {
    DDLog::log(false, 15, DDLogFlagError, 0, __FILE__, "logSync", __LINE__, nullptr, "%@", text);
}

using LogCoreTest = LogCoreFixture;

TEST_F(LogCoreTest, BackpressureBlocksTheCallAfterAThousandOutstandingAndDropsNothing) {
    auto logger = std::make_shared<RecordingLogger>();
    logger->closeGate();
    DDLog::addLogger(logger);

    std::atomic<int> returned{0};
    std::thread producer([&] {
        for (int k = 0; k <= DDLog::kMaxQueuedMessages; ++k) {
            logAsync("m" + std::to_string(k));
            returned.fetch_add(1);
        }
    });
    // Nothing gets past the closed gate: the thousand units stay taken and
    // the 1001st call has to wait for room.
    ASSERT_TRUE(waitUntil([&] { return returned.load() == DDLog::kMaxQueuedMessages; }));
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
    while (std::chrono::steady_clock::now() < until) {
        ASSERT_EQ(returned.load(), DDLog::kMaxQueuedMessages) << "the 1001st call did not block";
        std::this_thread::yield();
    }
    EXPECT_EQ(logger->count(), 0u);

    // One message fanned out makes room for exactly one more.
    logger->pass(1);
    ASSERT_TRUE(waitUntil([&] { return returned.load() == DDLog::kMaxQueuedMessages + 1; }));
    logger->openGate();
    producer.join();
    DDLog::flushLog();

    auto texts = logger->texts();
    ASSERT_EQ(texts.size(), size_t(DDLog::kMaxQueuedMessages + 1));
    for (size_t k = 0; k < texts.size(); ++k) EXPECT_EQ(texts[k], "m" + std::to_string(k));
}

TEST_F(LogCoreTest, SynchronousCallReturnsOnlyAfterEveryLoggerHandledTheMessage) {
    auto fast = std::make_shared<RecordingLogger>("test.fast");
    auto slow = std::make_shared<RecordingLogger>("test.slow");
    DDLog::addLogger(fast);
    DDLog::addLogger(slow);
    DDLog::flushLog();
    slow->closeGate();

    std::atomic<bool> callReturned{false};
    std::vector<size_t> atReturn;
    std::thread caller([&] {
        logSync("sync line");
        atReturn = {fast->count(), slow->count()};
        callReturned = true;
    });
    ASSERT_TRUE(fast->waitForCount(1));
    EXPECT_FALSE(callReturned.load()) << "returned while a logger was still at work";
    slow->openGate();
    caller.join();
    EXPECT_EQ(atReturn, (std::vector<size_t>{1, 1}));
}

TEST_F(LogCoreTest, SynchronousLogFromTheLoggingOrALoggersQueueNeitherDeadlocksNorLosesTheLine) {
    auto logger = std::make_shared<RecordingLogger>();
    logger->onMessage([](const DDLogMessage& m) {
        if (m.logMsg() == "trigger") WWLogError("from the logger's queue");
    });
    DDLog::addLogger(logger);
    finishesWithin([] { logSync("trigger"); }, "sync log in a logger");
    finishesWithin([] { logAsync("trigger"); }, "async trigger");
    finishesWithin(
        [] {
            DDLog::loggingQueue()->async([] { WWLogError("queued on the logging queue"); });
            DDLog::loggingQueue()->sync([] { WWLogError("inside a sync on the logging queue"); });
            DDLog::flushLog();
        },
        "sync log on the logging queue");
    // The logger's queue busy with a task while the core waits to fan a line
    // out to it: a synchronous line from that task cannot wait for the core.
    Gate gate;
    logger->loggerQueue()->async([&] {
        gate.wait();
        WWLogError("from a task on the logger's queue");
    });
    ASSERT_TRUE(gate.waitEntered());
    logAsync("fanned out behind the task");
    bool behind = waitUntil([&] { return logger->loggerQueue()->pendingCount() == 1; });
    EXPECT_TRUE(behind) << "the line was not fanned out behind the task";
    finishesWithin(
        [&] {
            gate.open();
            DDLog::flushLog();
        },
        "sync log from a busy logger queue");
    // A redirected line is queued while its trigger is fanned out, so it may
    // come after the flush: wait for all of them.
    ASSERT_TRUE(logger->waitForCount(8));
    auto texts = logger->texts();
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "fanned out behind the task", "from a task on the logger's queue",
                         "from the logger's queue", "from the logger's queue",
                         "inside a sync on the logging queue", "queued on the logging queue",
                         "trigger", "trigger"}));
}

TEST_F(LogCoreTest, LoggersSeeWhatIsQueuedWhileRegisteredOncePerRegistration) {
    auto first = std::make_shared<RecordingLogger>("test.first");
    auto twice = std::make_shared<RecordingLogger>("test.twice");
    DDLog::addLogger(nullptr);
    DDLog::removeLogger(nullptr);
    DDLog::removeLogger(first);  // not registered: nothing happens
    DDLog::addLogger(first);
    logAsync("before");
    DDLog::addLogger(twice);
    DDLog::addLogger(twice);
    logSync("after");
    DDLog::removeLogger(first);
    DDLog::removeLogger(twice);  // one of its two entries
    logAsync("last");
    DDLog::flushLog();
    EXPECT_EQ(first->texts(), (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(twice->texts(), (std::vector<std::string>{"after", "after", "last"}));
    EXPECT_EQ(DDLog::allLoggers().size(), 1u);
    // The hooks run on the logger's own queue, after the core's change.
    EXPECT_TRUE(waitUntil([&] { return first->removed.load() == 1; }));
    EXPECT_EQ(first->added.load(), 1);
    EXPECT_TRUE(first->removedOnOwnQueue.load());
}

class UpperFormatter : public DDLogFormatter {
  public:
    std::optional<std::string> formatLogMessage(const DDLogMessage& m) override {
        if (m.logMsg() == "drop") return std::nullopt;
        std::string s = m.logMsg();
        for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    }
    void didAddToLogger(DDLogger*) override { ++adds; }
    void willRemoveFromLogger(DDLogger*) override { ++removes; }
    std::atomic<int> adds{0}, removes{0};
};

TEST_F(LogCoreTest, FormatterChangesTakeEffectAfterTheMessagesAlreadyQueued) {
    auto logger = std::make_shared<RecordingLogger>();
    auto formatter = std::make_shared<UpperFormatter>();
    DDLog::addLogger(logger);
    logAsync("plain");
    logger->setLogFormatter(formatter);
    logAsync("shout");
    logAsync("drop");
    logger->setLogFormatter(formatter);  // the same one again: no second add
    EXPECT_EQ(logger->logFormatter(), formatter);
    logger->setLogFormatter(nullptr);
    logAsync("quiet");
    DDLog::flushLog();
    EXPECT_EQ(logger->texts(), (std::vector<std::string>{"plain", "SHOUT", "quiet"}));
    EXPECT_EQ(formatter->adds.load(), 1);
    EXPECT_EQ(formatter->removes.load(), 1);
    EXPECT_EQ(logger->logFormatter(), nullptr);
}

}  // namespace
}  // namespace ww::test
