#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "logging/DDLogger.h"

namespace ww {

// Forwards every message to the system log (syslog(3)) under the sender name
// "com.apple.console": error as critical, warning as error, info as warning,
// anything else as notice.
class DDASLLogger : public DDAbstractLogger {
  public:
    static constexpr const char* kLoggerName = "wirewatch.logging.aslLogger";
    static constexpr const char* kSenderName = "com.apple.console";

    // Receives the system-log priority and the text.
    using Sink = std::function<void(int priority, const std::string& text)>;

    // The one logger; creating it opens the connection to the system log.
    static std::shared_ptr<DDASLLogger> sharedInstance();
    // A separate logger handing its entries to `sink` instead, for tests.
    static std::shared_ptr<DDASLLogger> createWithSink(Sink sink);

    // The system-log priority for a flag.
    static int levelForFlag(std::int32_t flag);

    void logMessage(const DDLogMessage& message) override;

  private:
    explicit DDASLLogger(Sink sink);

    Sink m_sink;
};

}  // namespace ww
