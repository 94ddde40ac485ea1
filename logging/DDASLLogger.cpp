#include "logging/DDASLLogger.h"

#include <syslog.h>

namespace ww {

std::shared_ptr<DDASLLogger> DDASLLogger::sharedInstance() {
    static const std::shared_ptr<DDASLLogger> instance = [] {
        // LOG_NDELAY connects now, as creating the logger opens its connection.
        ::openlog(kSenderName, LOG_PID | LOG_NDELAY, LOG_USER);
        return std::shared_ptr<DDASLLogger>(new DDASLLogger(
            [](int priority, const std::string& text) { ::syslog(priority, "%s", text.c_str()); }));
    }();
    return instance;
}

std::shared_ptr<DDASLLogger> DDASLLogger::createWithSink(Sink sink) {
    return std::shared_ptr<DDASLLogger>(new DDASLLogger(std::move(sink)));
}

DDASLLogger::DDASLLogger(Sink sink) : DDAbstractLogger(kLoggerName), m_sink(std::move(sink)) {}

int DDASLLogger::levelForFlag(std::int32_t flag) {
    switch (flag) {
        case DDLogFlagError:
            return LOG_CRIT;
        case DDLogFlagWarning:
            return LOG_ERR;
        case DDLogFlagInfo:
            return LOG_WARNING;
        default:
            return LOG_NOTICE;
    }
}

void DDASLLogger::logMessage(const DDLogMessage& message) {
    const auto& formatter = formatterOnQueue();
    if (formatter) {
        auto text = formatter->formatLogMessage(message);
        if (!text) return;
        m_sink(levelForFlag(message.logFlag()), *text);
    } else {
        m_sink(levelForFlag(message.logFlag()), message.logMsg());
    }
}

}  // namespace ww
