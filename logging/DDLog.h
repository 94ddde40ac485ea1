#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "logging/DDLogMessage.h"
#include "logging/DDLogger.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/foundation/Format.h"

namespace ww {

// The log core: one serial logging queue ("wirewatch.logging") that fans every
// message out to the registered loggers, each on its own queue. At most 1000
// messages wait; a caller that would be the 1001st blocks until there is room.
class DDLog {
  public:
    static constexpr long kMaxQueuedMessages = 1000;

    static dispatch::QueuePtr loggingQueue();

    // Registration is queued on the logging queue, so it is ordered with messages.
    static void addLogger(DDLoggerPtr logger);
    static void removeLogger(const DDLoggerPtr& logger);
    static void removeAllLoggers();

    // Formats and queues one message. A null format does nothing. Synchronous
    // calls return once every logger has handled the message; a synchronous call
    // made on the logging queue or a logger's queue is made asynchronously
    // instead (it would wait for itself).
    template <typename... Args>
    static void log(bool asynchronous, std::int32_t level, std::int32_t flag, std::int32_t context,
                    const char* file, const char* function, std::int32_t line,
                    std::shared_ptr<void> tag, const char* format, const Args&... args) {
        if (!format) return;
        std::string text = takeTextBuffer();
        ww::formatInto(text, format, args...);
        logText(asynchronous, level, flag, context, file, function, line, std::move(tag),
                std::move(text));
    }
    // An empty text whose storage a finished message of this thread leaves
    // behind (or a new one): formatting a line then needs no allocation.
    static std::string takeTextBuffer();
    static void logText(bool asynchronous, std::int32_t level, std::int32_t flag,
                        std::int32_t context, const char* file, const char* function,
                        std::int32_t line, std::shared_ptr<void> tag, std::string text);
    static void queueLogMessage(DDLogMessagePtr message, bool asynchronously);

    // Returns when every message queued before it is written and every logger
    // has flushed.
    static void flushLog();
    // The normal-exit hook: flushes the log.
    static void applicationWillTerminate();

    // Per-class log levels: a class registers a getter and a setter by name.
    static void registerClass(const std::string& name, std::function<std::int32_t()> getLevel,
                              std::function<void(std::int32_t)> setLevel);
    static bool isRegisteredClass(const std::string& name);
    static std::vector<std::string> registeredClassNames();
    // -1 (all bits) for a class that is not registered.
    static std::int32_t logLevelForClass(const std::string& name);
    static void setLogLevel(std::int32_t level, const std::string& name);

    // The registered loggers, in order (waits on the logging queue).
    static std::vector<DDLoggerPtr> allLoggers();

    // The marker set on the logging queue.
    static const void* globalLoggingQueueIdentityKey();
};

}  // namespace ww

// The application's log calls: level 15, context 0, no tag, with the source file,
// the calling operation's name and the line. Errors are written synchronously,
// info lines asynchronously.
#define WW_LOG_LEVEL 15
#define WW_LOG_MAYBE(async, lvl, flg, fn, fmt, ...)                               \
    do {                                                                          \
        if ((lvl) & (flg))                                                        \
            ::ww::DDLog::log(async, lvl, flg, 0, __FILE__, fn, __LINE__, nullptr, \
                             fmt __VA_OPT__(, ) __VA_ARGS__);                     \
    } while (0)
#define WWLogError(fmt, ...)                                          \
    WW_LOG_MAYBE(false, WW_LOG_LEVEL, ::ww::DDLogFlagError, __func__, \
                 fmt __VA_OPT__(, ) __VA_ARGS__)
#define WWLogInfo(fmt, ...) \
    WW_LOG_MAYBE(true, WW_LOG_LEVEL, ::ww::DDLogFlagInfo, __func__, fmt __VA_OPT__(, ) __VA_ARGS__)
// The same with an explicit operation name (for helpers that log on a caller's behalf).
#define WWLogErrorIn(fn, fmt, ...) \
    WW_LOG_MAYBE(false, WW_LOG_LEVEL, ::ww::DDLogFlagError, fn, fmt __VA_OPT__(, ) __VA_ARGS__)
#define WWLogInfoIn(fn, fmt, ...) \
    WW_LOG_MAYBE(true, WW_LOG_LEVEL, ::ww::DDLogFlagInfo, fn, fmt __VA_OPT__(, ) __VA_ARGS__)
