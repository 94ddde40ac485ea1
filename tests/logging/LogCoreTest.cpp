#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>

#include "logging/DDLog.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/foundation/ProcessInfo.h"
#include "tests/logging/LoggingTestSupport.h"

namespace ww {
namespace {

using testing::RecordingLogger;
using testing::waitUntil;

// A hang here is the failure under test: report it and end the run rather
// than block the whole suite.
template <typename F>
void finishesWithin(std::chrono::seconds limit, F&& f, const char* what) {
    auto done = std::async(std::launch::async, std::forward<F>(f));
    if (done.wait_for(limit) != std::future_status::ready) {
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

class LogCoreTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::resetLogCore(); }
    void TearDown() override { testing::resetLogCore(); }
};

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
    // Message 0 is held inside the logger, 1..999 wait in the queue: the
    // thousand units are taken and the 1001st call has to wait for room.
    ASSERT_TRUE(waitUntil([&] { return returned.load() == DDLog::kMaxQueuedMessages; }));
    ASSERT_TRUE(logger->waitForEntered(1));
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
    size_t fastAtReturn = 0, slowAtReturn = 0;
    std::thread caller([&] {
        logSync("sync line");
        fastAtReturn = fast->count();
        slowAtReturn = slow->count();
        callReturned = true;
    });
    ASSERT_TRUE(slow->waitForEntered(1));
    ASSERT_TRUE(fast->waitForCount(1));
    EXPECT_FALSE(callReturned.load()) << "returned while a logger was still at work";
    slow->openGate();
    caller.join();
    EXPECT_EQ(fastAtReturn, 1u);
    EXPECT_EQ(slowAtReturn, 1u);
}

TEST_F(LogCoreTest, FlushAfterABurstReturnsWhenEverythingIsWrittenAndFlushed) {
    auto a = std::make_shared<RecordingLogger>("test.a");
    auto b = std::make_shared<RecordingLogger>("test.b");
    // Some work per message, so that the burst is still queued at the flush.
    std::atomic<unsigned> sink{0};
    b->onMessage([&](const DDLogMessage& m) {
        unsigned h = 0;
        for (int k = 0; k < 2000; ++k) h = h * 31 + static_cast<unsigned>(m.logMsg().size() + k);
        sink += h;
    });
    DDLog::addLogger(a);
    DDLog::addLogger(b);
    constexpr int kLines = 5000;
    for (int k = 0; k < kLines; ++k) logAsync("burst " + std::to_string(k));
    DDLog::flushLog();
    EXPECT_EQ(a->count(), size_t(kLines));
    EXPECT_EQ(b->count(), size_t(kLines));
    EXPECT_EQ(a->flushedAt(), std::vector<size_t>{kLines});
    EXPECT_EQ(b->flushedAt(), std::vector<size_t>{kLines});
}

TEST_F(LogCoreTest, SynchronousLogFromALoggersQueueNeitherDeadlocksNorLosesTheLine) {
    auto logger = std::make_shared<RecordingLogger>();
    logger->onMessage([](const DDLogMessage& m) {
        if (m.logMsg() == "trigger") WWLogError("from the logger's queue");
    });
    DDLog::addLogger(logger);
    finishesWithin(
        std::chrono::seconds(20), [] { logSync("trigger"); }, "sync log in a logger");
    finishesWithin(
        std::chrono::seconds(20), [] { logAsync("trigger"); }, "async trigger");
    finishesWithin(
        std::chrono::seconds(20), [] { DDLog::flushLog(); }, "flush");
    // The second redirected line was queued while the second trigger was fanned
    // out, so it may come after the flush: wait for it.
    ASSERT_TRUE(logger->waitForCount(4));
    auto texts = logger->texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "from the logger's queue"), 2);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "trigger"), 2);
}

TEST_F(LogCoreTest, SynchronousLogFromTheLoggingQueueNeitherDeadlocksNorLosesTheLine) {
    auto logger = std::make_shared<RecordingLogger>();
    DDLog::addLogger(logger);
    finishesWithin(
        std::chrono::seconds(20),
        [] {
            DDLog::loggingQueue()->async([] { WWLogError("queued on the logging queue"); });
            DDLog::loggingQueue()->sync([] { WWLogError("inside a sync on the logging queue"); });
            DDLog::flushLog();
        },
        "sync log on the logging queue");
    auto texts = logger->texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "queued on the logging queue"), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "inside a sync on the logging queue"), 1);
}

TEST_F(LogCoreTest, SameLoggerAddedTwiceWritesEveryLineTwiceUntilOneIsRemoved) {
    auto logger = std::make_shared<RecordingLogger>();
    DDLog::addLogger(logger);
    DDLog::addLogger(logger);
    logSync("one");
    logAsync("two");
    DDLog::flushLog();
    EXPECT_EQ(logger->texts(), (std::vector<std::string>{"one", "one", "two", "two"}));
    DDLog::removeLogger(logger);
    logSync("three");
    EXPECT_EQ(logger->count(), 5u);
    EXPECT_EQ(DDLog::allLoggers().size(), 1u);
}

TEST_F(LogCoreTest, LoggersSeeOnlyMessagesQueuedAfterTheirRegistration) {
    auto first = std::make_shared<RecordingLogger>("test.first");
    auto second = std::make_shared<RecordingLogger>("test.second");
    DDLog::addLogger(first);
    logAsync("before");
    DDLog::addLogger(second);
    logAsync("after");
    DDLog::removeLogger(first);
    logAsync("last");
    DDLog::flushLog();
    EXPECT_EQ(first->texts(), (std::vector<std::string>{"before", "after"}));
    EXPECT_EQ(second->texts(), (std::vector<std::string>{"after", "last"}));
}

class HookLogger : public RecordingLogger {
  public:
    void didAddLogger() override { added.fetch_add(1); }
    void willRemoveLogger() override {
        removedOnOwnQueue = isOnInternalLoggerQueue();
        removed.fetch_add(1);
    }
    std::atomic<int> added{0};
    std::atomic<int> removed{0};
    std::atomic<bool> removedOnOwnQueue{false};
};

TEST_F(LogCoreTest, AddAndRemoveCallTheLoggersHooksOnItsQueue) {
    auto logger = std::make_shared<HookLogger>();
    DDLog::addLogger(nullptr);
    DDLog::removeLogger(nullptr);
    DDLog::removeLogger(logger);  // not registered: nothing happens
    DDLog::addLogger(logger);
    DDLog::flushLog();
    EXPECT_TRUE(waitUntil([&] { return logger->added.load() == 1; }));
    EXPECT_EQ(logger->removed.load(), 0);
    DDLog::removeLogger(logger);
    DDLog::flushLog();
    EXPECT_TRUE(waitUntil([&] { return logger->removed.load() == 1; }));
    EXPECT_TRUE(logger->removedOnOwnQueue.load());
    EXPECT_TRUE(DDLog::allLoggers().empty());
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
    std::atomic<int> adds{0};
    std::atomic<int> removes{0};
};

class FormattingLogger : public RecordingLogger {
  public:
    void logMessage(const DDLogMessage& m) override {
        std::lock_guard lock(mutex);
        if (auto f = formatterOnQueue()) {
            if (auto t = f->formatLogMessage(m)) lines.push_back(*t);
        } else {
            lines.push_back(m.logMsg());
        }
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

TEST_F(LogCoreTest, FormatterChangesTakeEffectAfterTheMessagesAlreadyQueued) {
    auto logger = std::make_shared<FormattingLogger>();
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
    EXPECT_EQ(logger->lines, (std::vector<std::string>{"plain", "SHOUT", "quiet"}));
    EXPECT_EQ(formatter->adds.load(), 1);
    EXPECT_EQ(formatter->removes.load(), 1);
    EXPECT_EQ(logger->logFormatter(), nullptr);
}

TEST_F(LogCoreTest, NullFormatQueuesNothing) {
    auto logger = std::make_shared<RecordingLogger>();
    DDLog::addLogger(logger);
    DDLog::log(false, 15, DDLogFlagError, 0, __FILE__, "f", __LINE__, nullptr, nullptr);
    DDLog::flushLog();
    EXPECT_EQ(logger->count(), 0u);
}

struct CapturedMessage {
    std::int32_t level = 0, flag = 0, context = 0, line = 0;
    std::string file, function, text, threadName;
    std::optional<std::string> queueLabel;
    std::uint32_t tid = 0;
    DDLogMessage::Clock::time_point timestamp;
};

class CapturingLogger : public DDAbstractLogger {
  public:
    void logMessage(const DDLogMessage& m) override {
        std::lock_guard lock(mutex);
        CapturedMessage c;
        c.level = m.logLevel();
        c.flag = m.logFlag();
        c.context = m.logContext();
        c.line = m.lineNumber();
        c.file = m.file() ? m.file() : "";
        c.function = m.function() ? m.function() : "";
        c.text = m.logMsg();
        c.threadName = m.threadName();
        c.queueLabel = m.queueLabel();
        c.tid = m.machThreadID();
        c.timestamp = m.timestamp();
        captured.push_back(c);
    }
    std::mutex mutex;
    std::vector<CapturedMessage> captured;
};

TEST_F(LogCoreTest, ApplicationMacrosPassLevelFlagContextSourceAndCaller) {
    auto logger = std::make_shared<CapturingLogger>();
    DDLog::addLogger(logger);
    auto before = DDLogMessage::Clock::now();
    WWLogError("AppDelegate: %@ %d", "error", 7);
    const int errorLine = __LINE__ - 1;
    WWLogInfoIn("setupDDLogger", "info %s", "line");
    DDLog::flushLog();
    ASSERT_EQ(logger->captured.size(), 2u);
    const auto& e = logger->captured[0];
    EXPECT_EQ(e.level, 15);
    EXPECT_EQ(e.flag, DDLogFlagError);
    EXPECT_EQ(e.context, 0);
    EXPECT_EQ(e.text, "AppDelegate: error 7");
    EXPECT_EQ(e.file, __FILE__);
    EXPECT_EQ(e.function, std::string(__func__));
    EXPECT_EQ(e.line, errorLine);
    EXPECT_EQ(e.tid, process::currentThreadId());
    EXPECT_GE(e.timestamp, before);
    EXPECT_FALSE(e.queueLabel.has_value());
    const auto& i = logger->captured[1];
    EXPECT_EQ(i.flag, DDLogFlagInfo);
    EXPECT_EQ(i.function, "setupDDLogger");
    EXPECT_EQ(i.text, "info line");
}

TEST_F(LogCoreTest, MessageKeepsTheCallersQueueLabelAndThreadName) {
    auto logger = std::make_shared<CapturingLogger>();
    DDLog::addLogger(logger);
    auto queue = dispatch::SerialQueue::create("test.caller.queue");
    std::uint32_t workerTid = 0;
    std::thread named([&] {
        process::setCurrentThreadName("ww-named");
        workerTid = process::currentThreadId();
        queue->sync([] { WWLogInfo("on a queue"); });
    });
    named.join();
    DDLog::flushLog();
    ASSERT_EQ(logger->captured.size(), 1u);
    EXPECT_EQ(logger->captured[0].queueLabel, std::optional<std::string>("test.caller.queue"));
    EXPECT_EQ(logger->captured[0].threadName, "ww-named");
    EXPECT_EQ(logger->captured[0].tid, workerTid);
}

TEST(DDLogMessageTest, FileAndFunctionAreBorrowedUnlessCopyingIsAsked) {
    std::string file = "/src/app/WirewatchAppDelegate.mm";
    std::string function = "setupDDLogger";
    DDLogMessage borrowed("t", 15, 1, 0, file.c_str(), function.c_str(), 3, nullptr, 0);
    EXPECT_EQ(borrowed.file(), file.c_str());
    EXPECT_EQ(borrowed.function(), function.c_str());
    DDLogMessage copied("t", 15, 1, 0, file.c_str(), function.c_str(), 3, nullptr,
                        DDLogMessageCopyFile | DDLogMessageCopyFunction);
    EXPECT_NE(copied.file(), file.c_str());
    EXPECT_STREQ(copied.file(), file.c_str());
    EXPECT_STREQ(copied.function(), function.c_str());
    EXPECT_EQ(copied.fileName(), std::optional<std::string_view>("WirewatchAppDelegate"));
    EXPECT_EQ(copied.methodName(), std::optional<std::string>("setupDDLogger"));
    DDLogMessage none("t", 15, 1, 0, nullptr, nullptr, 0, nullptr, 3);
    EXPECT_EQ(none.file(), nullptr);
    EXPECT_FALSE(none.fileName().has_value());
    EXPECT_FALSE(none.methodName().has_value());
}

TEST(DDLogMessageTest, ThreadIdIsLowerCaseHexWithoutPadding) {
    struct Case {
        std::uint32_t tid;
        const char* text;
    } cases[] = {{0x1A03, "1a03"}, {0, "0"}, {0xFFFFFFFF, "ffffffff"}, {0x10, "10"}};
    for (const auto& c : cases) {
        DDLogMessage m("t", 15, 1, 0, nullptr, nullptr, 0, nullptr, 0);
        m.overrideForTesting(m.timestamp(), c.tid);
        EXPECT_EQ(m.threadID(), c.text);
    }
}

TEST(DDLogMessageTest, ExtractFileNameWithoutExtension) {
    struct Case {
        const char* path;
        std::optional<std::string> name;
    } cases[] = {
        {"/Users/dev/src/report.txt", "report"},
        {"file", "file"},
        {"dir/archive.tar.gz", "archive.tar"},
        {"dir.d/file", "file"},
        {"/a/b/", ""},
        {".profile", ""},
        {"dir/.git.d/x", "x"},
        {"noext.", "noext"},
        {nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path ? c.path : "(null)");
        EXPECT_EQ(DDExtractFileNameWithoutExtension(c.path, false), c.name);
        EXPECT_EQ(DDExtractFileNameWithoutExtension(c.path, true), c.name);
    }
    // Without copying, the result is a view into the caller's bytes.
    const char* path = "/x/y/report.txt";
    auto view = extractFileNameView(path);
    ASSERT_TRUE(view.has_value());
    EXPECT_EQ(view->data(), path + 5);
}

TEST(DDLogMessageTest, StrCopyMakesATerminatedCopy) {
    EXPECT_EQ(dd_str_copy(nullptr), nullptr);
    const char* source = "cocoa.lumberjack";
    char* copy = dd_str_copy(source);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, source);
    EXPECT_STREQ(copy, source);
    std::free(copy);
    char* empty = dd_str_copy("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty[0], '\0');
    std::free(empty);
}

TEST(DDLogClassLevelsTest, OnlyClassesWithGetterAndSetterCount) {
    std::int32_t level = 7;
    DDLog::registerClass(
        "WWTestRegistered", [&] { return level; }, [&](std::int32_t l) { level = l; });
    DDLog::registerClass(
        "WWTestHalf", [] { return 3; }, nullptr);
    EXPECT_TRUE(DDLog::isRegisteredClass("WWTestRegistered"));
    EXPECT_FALSE(DDLog::isRegisteredClass("WWTestHalf"));
    EXPECT_FALSE(DDLog::isRegisteredClass("WWTestUnknown"));
    auto names = DDLog::registeredClassNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "WWTestRegistered"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "WWTestHalf"), names.end());
    EXPECT_EQ(DDLog::logLevelForClass("WWTestRegistered"), 7);
    EXPECT_EQ(DDLog::logLevelForClass("WWTestUnknown"), -1);
    DDLog::setLogLevel(15, "WWTestRegistered");
    DDLog::setLogLevel(1, "WWTestHalf");  // ignored
    EXPECT_EQ(level, 15);
    EXPECT_EQ(DDLog::logLevelForClass("WWTestRegistered"), 15);
}

TEST_F(LogCoreTest, LoggingQueueIsLabelledAndMarked) {
    EXPECT_EQ(DDLog::loggingQueue()->label(), "cocoa.lumberjack");
    auto logger = std::make_shared<RecordingLogger>();
    bool onLogging = true, onOwn = true;
    EXPECT_FALSE(logger->isOnGlobalLoggingQueue());
    DDLog::loggingQueue()->sync([&] {
        onLogging = logger->isOnGlobalLoggingQueue();
        onOwn = logger->isOnInternalLoggerQueue();
    });
    EXPECT_TRUE(onLogging);
    EXPECT_FALSE(onOwn);
    logger->loggerQueue()->sync([&] { onOwn = logger->isOnInternalLoggerQueue(); });
    EXPECT_TRUE(onOwn);
    EXPECT_EQ(logger->loggerQueue()->label(), "test.recording");
}

}  // namespace
}  // namespace ww
