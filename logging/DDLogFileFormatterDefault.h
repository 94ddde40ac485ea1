#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "logging/DDLogger.h"

namespace ww {

// Formats a file line as "<timestamp>  <text>", the timestamp in local time as
// "yyyy/MM/dd HH:mm:ss:SSS" unless another date formatter is given.
class DDLogFileFormatterDefault : public DDLogFormatter {
  public:
    using DateFormatter = std::function<std::string(std::chrono::system_clock::time_point)>;

    DDLogFileFormatterDefault();
    // A null formatter means the default one.
    explicit DDLogFileFormatterDefault(DateFormatter dateFormatter);

    std::optional<std::string> formatLogMessage(const DDLogMessage& message) override;
    bool appendFormatted(const DDLogMessage& message, std::string& out) override;

    // The default timestamp: local time, "yyyy/MM/dd HH:mm:ss:SSS".
    static std::string localTimestamp(std::chrono::system_clock::time_point when);

  private:
    // The default formatter's work without the std::function hop; the date and
    // time up to the second are kept for the second they describe.
    void appendLocalTimestamp(std::string& out, std::chrono::system_clock::time_point when);

    DateFormatter m_dateFormatter;
    std::mutex m_cacheMutex;
    std::int64_t m_cachedSecond = INT64_MIN;
    char m_cachedPrefix[32] = {};
    std::size_t m_cachedPrefixLen = 0;
};

}  // namespace ww
