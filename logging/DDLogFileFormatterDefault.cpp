#include "logging/DDLogFileFormatterDefault.h"

#include <cstdio>
#include <ctime>

namespace ww {

namespace {

// Seconds since the epoch and milliseconds into that second, both rounded down
// (also before 1970).
void splitTime(std::chrono::system_clock::time_point when, std::int64_t* second, int* millis) {
    using namespace std::chrono;
    auto ms = floor<milliseconds>(when.time_since_epoch()).count();
    std::int64_t s = ms / 1000;
    std::int64_t rest = ms % 1000;
    if (rest < 0) {
        rest += 1000;
        --s;
    }
    *second = s;
    *millis = static_cast<int>(rest);
}

std::size_t formatDateAndTime(std::int64_t second, char* buf, std::size_t size) {
    std::time_t t = static_cast<std::time_t>(second);
    std::tm tm{};
    localtime_r(&t, &tm);
    int n = std::snprintf(buf, size, "%04d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900,
                          tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return n < 0 ? 0 : std::min(static_cast<std::size_t>(n), size - 1);
}

void appendMillis(std::string& out, int millis) {
    char ms[5] = {':', static_cast<char>('0' + millis / 100),
                  static_cast<char>('0' + millis / 10 % 10), static_cast<char>('0' + millis % 10),
                  0};
    out.append(ms, 4);
}

}  // namespace

DDLogFileFormatterDefault::DDLogFileFormatterDefault() = default;

DDLogFileFormatterDefault::DDLogFileFormatterDefault(DateFormatter dateFormatter)
    : m_dateFormatter(std::move(dateFormatter)) {}

std::string DDLogFileFormatterDefault::localTimestamp(std::chrono::system_clock::time_point when) {
    std::int64_t second;
    int millis;
    splitTime(when, &second, &millis);
    char buf[32];
    std::string out(buf, formatDateAndTime(second, buf, sizeof buf));
    appendMillis(out, millis);
    return out;
}

void DDLogFileFormatterDefault::appendLocalTimestamp(std::string& out,
                                                     std::chrono::system_clock::time_point when) {
    std::int64_t second;
    int millis;
    splitTime(when, &second, &millis);
    {
        std::lock_guard lock(m_cacheMutex);
        if (second != m_cachedSecond) {
            m_cachedPrefixLen = formatDateAndTime(second, m_cachedPrefix, sizeof m_cachedPrefix);
            m_cachedSecond = second;
        }
        out.append(m_cachedPrefix, m_cachedPrefixLen);
    }
    appendMillis(out, millis);
}

std::optional<std::string> DDLogFileFormatterDefault::formatLogMessage(
    const DDLogMessage& message) {
    std::string out;
    if (m_dateFormatter) {
        out = m_dateFormatter(message.timestamp());
        out.reserve(out.size() + 2 + message.logMsg().size() + 1);
    } else {
        // One spare byte for the line feed the logger adds.
        out.reserve(23 + 2 + message.logMsg().size() + 1);
        appendLocalTimestamp(out, message.timestamp());
    }
    out += "  ";
    out += message.logMsg();
    return out;
}

bool DDLogFileFormatterDefault::appendFormatted(const DDLogMessage& message, std::string& out) {
    if (m_dateFormatter) return DDLogFormatter::appendFormatted(message, out);
    appendLocalTimestamp(out, message.timestamp());
    out += "  ";
    out += message.logMsg();
    return true;
}

}  // namespace ww
