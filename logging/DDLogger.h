#pragma once

#include <memory>
#include <optional>
#include <string>

#include "logging/DDLogMessage.h"
#include "platform/dispatch/SerialQueue.h"

namespace ww {

class DDLogger;

// Turns a message into the text a logger writes; nothing drops the message.
class DDLogFormatter {
  public:
    virtual ~DDLogFormatter() = default;
    virtual std::optional<std::string> formatLogMessage(const DDLogMessage& message) = 0;
    // The same text appended to `out`; false (and `out` unchanged) when the
    // message is dropped. Formatters that can write in place override it.
    virtual bool appendFormatted(const DDLogMessage& message, std::string& out) {
        auto text = formatLogMessage(message);
        if (!text) return false;
        out += *text;
        return true;
    }
    virtual void didAddToLogger(DDLogger* /*logger*/) {}
    virtual void willRemoveFromLogger(DDLogger* /*logger*/) {}
};

// A log destination. The log core calls every operation on the logger's queue.
// The optional operations have empty defaults.
class DDLogger {
  public:
    virtual ~DDLogger() = default;

    virtual void logMessage(const DDLogMessage& message) = 0;
    virtual std::shared_ptr<DDLogFormatter> logFormatter() = 0;
    virtual void setLogFormatter(std::shared_ptr<DDLogFormatter> formatter) = 0;

    virtual void didAddLogger() {}
    virtual void willRemoveLogger() {}
    // Writes everything out (the core's flushLog waits for it).
    virtual void flush() {}
    // The end of a run of messages: the core calls this after a synchronous
    // message and whenever its queue has nothing more waiting. A logger that
    // batches writes hands them to the system here, so that a line is never
    // held back longer than the burst it came in.
    virtual void logBatchDidEnd() {}
    // The queue the logger wants to be called on; null lets the core make one.
    virtual dispatch::QueuePtr loggerQueue() { return nullptr; }
    virtual std::optional<std::string> loggerName() { return std::nullopt; }
};

using DDLoggerPtr = std::shared_ptr<DDLogger>;

// The registration of one logger with the core.
struct DDLoggerNode {
    DDLoggerPtr logger;
    dispatch::QueuePtr loggerQueue;
};

// Base of concrete loggers: a formatter slot and a serial queue of its own,
// labelled with the logger's name and marked so `isOnInternalLoggerQueue` works.
// Loggers are owned through std::shared_ptr (the queued setters hold them weakly).
class DDAbstractLogger : public DDLogger, public std::enable_shared_from_this<DDAbstractLogger> {
  public:
    // The name labels the queue; derived loggers pass their own, and may start
    // with a formatter of their own.
    explicit DDAbstractLogger(std::string loggerName = "DDAbstractLogger",
                              std::shared_ptr<DDLogFormatter> initialFormatter = nullptr);
    ~DDAbstractLogger() override;

    void logMessage(const DDLogMessage& /*message*/) override {}
    // Waits on the logging queue, then on this logger's queue.
    std::shared_ptr<DDLogFormatter> logFormatter() override;
    // Takes effect after every message already queued; returns at once.
    void setLogFormatter(std::shared_ptr<DDLogFormatter> formatter) override;
    dispatch::QueuePtr loggerQueue() override { return m_loggerQueue; }
    std::optional<std::string> loggerName() override { return m_loggerName; }

    bool isOnGlobalLoggingQueue() const;
    bool isOnInternalLoggerQueue() const;

  protected:
    // Only on the logger's queue.
    const std::shared_ptr<DDLogFormatter>& formatterOnQueue() const { return m_formatter; }

  private:
    std::string m_loggerName;
    std::shared_ptr<DDLogFormatter> m_formatter;
    dispatch::QueuePtr m_loggerQueue;
};

}  // namespace ww
