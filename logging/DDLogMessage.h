#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ww {

// Flags: one bit each. A level is the mask of the flags it lets through.
enum DDLogFlag : std::int32_t {
    DDLogFlagError = 1,
    DDLogFlagWarning = 2,
    DDLogFlagInfo = 4,
    DDLogFlagVerbose = 8,
};

enum DDLogMessageOptions : std::int32_t {
    DDLogMessageCopyFile = 1,
    DDLogMessageCopyFunction = 2,
};

// One log message, immutable once made. Loggers share it by reference.
// `file` and `function` are borrowed (the caller's static strings) unless the
// matching option bit asks for a copy; the queue label is always copied.
class DDLogMessage {
  public:
    using Clock = std::chrono::system_clock;

    DDLogMessage(std::string logMsg, std::int32_t level, std::int32_t flag, std::int32_t context,
                 const char* file, const char* function, std::int32_t line,
                 std::shared_ptr<void> tag, std::int32_t options);
    DDLogMessage(const DDLogMessage&) = delete;
    DDLogMessage& operator=(const DDLogMessage&) = delete;

    std::int32_t logLevel() const { return m_logLevel; }
    std::int32_t logFlag() const { return m_logFlag; }
    std::int32_t logContext() const { return m_logContext; }
    const std::string& logMsg() const { return m_logMsg; }
    Clock::time_point timestamp() const { return m_timestamp; }
    const char* file() const { return m_file; }
    const char* function() const { return m_function; }
    std::int32_t lineNumber() const { return m_lineNumber; }
    std::uint32_t machThreadID() const { return m_machThreadID; }
    const std::optional<std::string>& queueLabel() const { return m_queueLabel; }
    const std::string& threadName() const { return m_threadName; }
    const std::shared_ptr<void>& tag() const { return m_tag; }
    std::int32_t options() const { return m_options; }

    // machThreadID in lower-case hexadecimal ("%x").
    std::string threadID() const;
    // The file's name without folder and extension; a view into `file`.
    std::optional<std::string_view> fileName() const;
    std::optional<std::string> methodName() const;

    // For tests: a message with a given time and thread identifier.
    void overrideForTesting(Clock::time_point timestamp, std::uint32_t threadId);

  private:
    friend class DDLog;
    // Makes this object a new message, as the constructor would (the log core
    // reuses the objects of messages it is done with).
    void reinit(std::string logMsg, std::int32_t level, std::int32_t flag, std::int32_t context,
                const char* file, const char* function, std::int32_t line,
                std::shared_ptr<void> tag, std::int32_t options);

    std::int32_t m_logLevel = 0;
    std::int32_t m_logFlag = 0;
    std::int32_t m_logContext = 0;
    std::string m_logMsg;
    Clock::time_point m_timestamp;
    std::string m_fileCopy;
    std::string m_functionCopy;
    const char* m_file = nullptr;
    const char* m_function = nullptr;
    std::int32_t m_lineNumber = 0;
    std::uint32_t m_machThreadID = 0;
    std::optional<std::string> m_queueLabel;
    std::string m_threadName;
    std::shared_ptr<void> m_tag;
    std::int32_t m_options = 0;
};

using DDLogMessagePtr = std::shared_ptr<const DDLogMessage>;

// The last path component without its extension: "report" for ".../report.txt",
// "archive.tar" for "dir/archive.tar.gz", "file" for "dir.d/file". No path gives
// nothing. (The no-copy form is `extractFileNameView`; this one copies.)
std::optional<std::string> DDExtractFileNameWithoutExtension(const char* path, bool copy);
std::optional<std::string_view> extractFileNameView(const char* path);

// A new malloc'd copy of a zero-terminated string (free it with free), or null.
char* dd_str_copy(const char* str);

}  // namespace ww
