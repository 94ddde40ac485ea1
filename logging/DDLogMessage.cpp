#include "logging/DDLogMessage.h"

#include <cstdlib>
#include <cstring>

#include "platform/dispatch/SerialQueue.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/ProcessInfo.h"

namespace ww {

DDLogMessage::DDLogMessage(std::string logMsg, std::int32_t level, std::int32_t flag,
                           std::int32_t context, const char* file, const char* function,
                           std::int32_t line, std::shared_ptr<void> tag, std::int32_t options) {
    reinit(std::move(logMsg), level, flag, context, file, function, line, std::move(tag), options);
}

void DDLogMessage::reinit(std::string logMsg, std::int32_t level, std::int32_t flag,
                          std::int32_t context, const char* file, const char* function,
                          std::int32_t line, std::shared_ptr<void> tag, std::int32_t options) {
    m_logLevel = level;
    m_logFlag = flag;
    m_logContext = context;
    m_logMsg = std::move(logMsg);
    m_timestamp = Clock::now();
    m_file = file;
    m_function = function;
    m_lineNumber = line;
    m_machThreadID = process::currentThreadId();
    m_threadName = process::currentThreadName();
    m_tag = std::move(tag);
    m_options = options;
    m_fileCopy.clear();
    m_functionCopy.clear();
    if ((options & DDLogMessageCopyFile) && file) {
        m_fileCopy = file;
        m_file = m_fileCopy.c_str();
    }
    if ((options & DDLogMessageCopyFunction) && function) {
        m_functionCopy = function;
        m_function = m_functionCopy.c_str();
    }
    if (const char* label = dispatch::currentQueueLabel()) {
        m_queueLabel = label;
    } else {
        m_queueLabel.reset();
    }
}

std::string DDLogMessage::threadID() const { return ww::format("%x", m_machThreadID); }

std::optional<std::string_view> DDLogMessage::fileName() const {
    return extractFileNameView(m_file);
}

std::optional<std::string> DDLogMessage::methodName() const {
    if (!m_function) return std::nullopt;
    return std::string(m_function);
}

void DDLogMessage::overrideForTesting(Clock::time_point timestamp, std::uint32_t threadId) {
    m_timestamp = timestamp;
    m_machThreadID = threadId;
}

std::optional<std::string_view> extractFileNameView(const char* path) {
    if (!path) return std::nullopt;
    std::string_view p(path);
    size_t lastSlash = p.rfind('/');
    size_t begin = lastSlash == std::string_view::npos ? 0 : lastSlash + 1;
    size_t lastDot = p.rfind('.');
    size_t end = (lastDot == std::string_view::npos || lastDot < begin) ? p.size() : lastDot;
    return p.substr(begin, end - begin);
}

std::optional<std::string> DDExtractFileNameWithoutExtension(const char* path, bool /*copy*/) {
    auto v = extractFileNameView(path);
    if (!v) return std::nullopt;
    return std::string(*v);
}

char* dd_str_copy(const char* str) {
    if (!str) return nullptr;
    size_t len = std::strlen(str);
    auto* out = static_cast<char*>(std::malloc(len + 1));
    if (!out) return nullptr;
    std::memcpy(out, str, len);
    out[len] = '\0';
    return out;
}

}  // namespace ww
