#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "logging/DDLog.h"
#include "logging/DDTTYLogger.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/ProcessInfo.h"
#include "tests/logging/LoggingTestSupport.h"

namespace ww::test {
namespace {

// A pipe standing in for standard error.
class Pipe {
  public:
    Pipe() { EXPECT_EQ(::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() {
        ::close(m_fds[0]);
        ::close(m_fds[1]);
    }
    int writeEnd() const { return m_fds[1]; }
    // Everything written so far.
    std::string drain() {
        std::string out;
        char buf[65536];
        for (ssize_t n; (n = ::read(m_fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
        return out;
    }

  private:
    int m_fds[2] = {-1, -1};
};

std::shared_ptr<const DDTTYTerminal> terminal(const char* term, const char* xcode = nullptr) {
    return std::make_shared<const DDTTYTerminal>(DDTTYTerminal::detect(term, xcode));
}

// One message handed to the logger the way the core does, on its queue.
void write(const std::shared_ptr<DDTTYLogger>& logger, const std::string& text, std::int32_t flag,
           std::int32_t context, DDLogMessage::Clock::time_point when, std::uint32_t tid) {
    DDLogMessage message(text, 15, flag, context, __FILE__, "write", __LINE__, nullptr, 0);
    message.overrideForTesting(when, tid);
    logger->loggerQueue()->sync([&] { logger->logMessage(message); });
}

// "yyyy-MM-dd HH:mm:ss:SSS process[pid:tid] " in local time.
std::string header(DDLogMessage::Clock::time_point when, const std::string& tid) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tm);
    return format("%s:%03d %@[%d:%@] ", date, int(ms % 1000), process::processName(),
                  process::processId(), tid);
}

class TTYLoggerTest : public LogCoreFixture {
  protected:
    Pipe m_pipe;
};

TEST_F(TTYLoggerTest, PlainLinesAreByteExact) {
    auto logger = DDTTYLogger::createForTesting(terminal("vt100"), m_pipe.writeEnd());
    using namespace std::chrono;
    auto when = system_clock::time_point(seconds(1796457603) + microseconds(117900));
    write(logger, "AppDelegate: started", DDLogFlagInfo, 0, when, 0x1a03);
    write(logger, "ends in a line feed\n", DDLogFlagInfo, 0, when, 0x1a03);
    write(logger, "", DDLogFlagInfo, 0, when, 0xffffffff);
    write(logger, "héllo wörld", DDLogFlagError, 0, when + seconds(3), 7);
    std::string h = header(when, "1a03");
    EXPECT_EQ(m_pipe.drain(), h + "AppDelegate: started\n" + h + "ends in a line feed\n" +
                                  header(when, "ffffffff") + "\n" + header(when + seconds(3), "7") +
                                  "héllo wörld\n");

    // Through the core: the caller's thread and a well-shaped timestamp.
    DDLog::addLogger(logger);
    WWLogError("through the core");
    std::string line = m_pipe.drain();
    const std::string tail = format(" %@[%d:%x] through the core\n", process::processName(),
                                    process::processId(), process::currentThreadId());
    EXPECT_TRUE(line.ends_with(tail)) << line;
    EXPECT_EQ(line.size(), std::string("yyyy-MM-dd HH:mm:ss:SSS").size() + tail.size()) << line;
}

TEST_F(TTYLoggerTest, ColoursAreWrittenOnlyWhenEnabledAndUnderstood) {
    using namespace std::chrono;
    auto when = system_clock::now();
    struct Case {
        const char* term;
        const char* xcode;
        std::string errorPrefix, warningPrefix, reset;
    } cases[] = {
        {"xterm-256color", nullptr, "\033[38;5;166m", "\033[38;5;172m", "\033[0m"},
        {"screen-256COLOR", nullptr, "\033[38;5;166m", "\033[38;5;172m", "\033[0m"},
        {"xterm-color", nullptr, "\033[31m", "\033[33m", "\033[0m"},
        {"XTERM-COLOR", nullptr, "\033[31m", "\033[33m", "\033[0m"},
        {nullptr, "YES", "\033[fg214,57,30;", "\033[fg204,121,32;", "\033[;"},
        // Not understood: no colours, also when asked for.
        {"vt100", nullptr, "", "", ""},
        {"xterm-256", nullptr, "", "", ""},
        {"", nullptr, "", "", ""},
        {nullptr, "yes", "", "", ""},
        {nullptr, nullptr, "", "", ""},
        {"vt100", "YES", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.term ? c.term : "-") + " / " + (c.xcode ? c.xcode : "-"));
        Pipe pipe;
        auto logger = DDTTYLogger::createForTesting(terminal(c.term, c.xcode), pipe.writeEnd());
        const std::string h = header(when, "1");
        write(logger, "before", DDLogFlagError, 0, when, 1);
        EXPECT_EQ(pipe.drain(), h + "before\n") << "colours are off at first";
        logger->setColorsEnabled(true);
        EXPECT_TRUE(logger->colorsEnabled());
        write(logger, "error", DDLogFlagError, 0, when, 1);
        write(logger, "warning", DDLogFlagWarning, 0, when, 1);
        write(logger, "info", DDLogFlagInfo, 0, when, 1);
        write(logger, "other context", DDLogFlagError, 5, when, 1);
        EXPECT_EQ(pipe.drain(), c.errorPrefix + h + "error\n" + c.reset + c.warningPrefix + h +
                                    "warning\n" + c.reset + h + "info\n" + h + "other context\n");
    }
}

}  // namespace
}  // namespace ww::test
