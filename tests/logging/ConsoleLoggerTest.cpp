#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "logging/DDASLLogger.h"
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
void write(const std::shared_ptr<DDTTYLogger>& logger, const std::string& text,
           std::int32_t flag = DDLogFlagInfo, std::int32_t context = 0,
           std::shared_ptr<void> tag = nullptr,
           std::optional<DDLogMessage::Clock::time_point> when = std::nullopt,
           std::uint32_t tid = 0x1a03) {
    DDLogMessage message(text, 15, flag, context, __FILE__, "write", __LINE__, std::move(tag), 0);
    message.overrideForTesting(when.value_or(message.timestamp()), tid);
    logger->loggerQueue()->sync([&] { logger->logMessage(message); });
}

// Waits until the setters queued so far have reached the logger.
void settle(const std::shared_ptr<DDTTYLogger>& logger) {
    DDLog::flushLog();
    logger->loggerQueue()->sync([] {});
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

TEST(DDTTYTerminalTest, ColoursFollowTheTerminalType) {
    struct Case {
        const char* term;
        const char* xcode;
        bool color, color256, xcodeColors;
        size_t palette;
    } cases[] = {
        {"xterm-256color", nullptr, true, true, false, 240},
        {"xterm-color", nullptr, true, false, false, 16},
        {"XTERM-COLOR", nullptr, true, false, false, 16},
        {"screen-256COLOR", nullptr, true, true, false, 240},
        {"vt100", nullptr, false, false, false, 0},
        {"xterm-256", nullptr, false, false, false, 0},
        {"", nullptr, false, false, false, 0},
        {nullptr, "YES", false, false, true, 0},
        {nullptr, "yes", false, false, false, 0},
        {nullptr, nullptr, false, false, false, 0},
        {"vt100", "YES", false, false, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.term ? c.term : "(unset)") + " / " + (c.xcode ? c.xcode : "-"));
        auto t = DDTTYTerminal::detect(c.term, c.xcode);
        EXPECT_EQ(t.isaColorTTY, c.color);
        EXPECT_EQ(t.isaColor256TTY, c.color256);
        EXPECT_EQ(t.isaXcodeColorTTY, c.xcodeColors);
        EXPECT_EQ(t.colors.size(), c.palette);
        EXPECT_EQ(t.codes_fg.size(), c.palette);
        EXPECT_EQ(t.codes_bg.size(), c.palette);
    }
    auto t16 = DDTTYTerminal::detect("xterm-color", nullptr);
    EXPECT_EQ(t16.codes_fg[0], "30m");
    EXPECT_EQ(t16.codes_fg[15], "1;37m");
    EXPECT_EQ(t16.codes_bg[9], "1;41m");
    EXPECT_EQ((t16.colors[9]), (std::array<std::uint8_t, 3>{252, 57, 31}));
    auto t256 = DDTTYTerminal::detect("xterm-256color", nullptr);
    EXPECT_EQ(t256.codes_fg[0], "38;5;16m");
    EXPECT_EQ(t256.codes_bg[239], "48;5;255m");
    EXPECT_EQ((t256.colors[196 - 16]), (std::array<std::uint8_t, 3>{255, 0, 0}));
    EXPECT_EQ((t256.colors[244 - 16]), (std::array<std::uint8_t, 3>{128, 128, 128}));
}

TEST(DDTTYTerminalTest, NearestPaletteColourKeepsTheEarlierEntryOnATie) {
    DDTTYTerminal t;
    t.colors = {{0, 0, 0}, {255, 255, 255}, {128, 128, 128}};
    // 0.5 is exactly as far from black as from white.
    EXPECT_EQ(DDTTYLogger::codeIndexForColor({0.5, 0.5, 0.5}, t), 2u) << "strictly closer wins";
    t.colors = {{0, 0, 0}, {255, 255, 255}};
    EXPECT_EQ(DDTTYLogger::codeIndexForColor({0.5, 0.5, 0.5}, t), 0u);
    t.colors = {{255, 255, 255}, {0, 0, 0}};
    EXPECT_EQ(DDTTYLogger::codeIndexForColor({0.5, 0.5, 0.5}, t), 0u);
    t.colors = {{255, 0, 0}, {0, 0, 255}, {255, 0, 0}};
    EXPECT_EQ(DDTTYLogger::codeIndexForColor({1, 0, 0}, t), 0u) << "a duplicate keeps the first";

    auto t16 = DDTTYTerminal::detect("xterm-color", nullptr);
    EXPECT_EQ(DDTTYLogger::codeIndexForColor(DDColor::fromBytes(214, 57, 30), t16), 1u);
    EXPECT_EQ(DDTTYLogger::codeIndexForColor(DDColor::fromBytes(204, 121, 32), t16), 3u);
    auto t256 = DDTTYTerminal::detect("xterm-256color", nullptr);
    EXPECT_EQ(DDTTYLogger::codeIndexForColor(DDColor::fromBytes(214, 57, 30), t256), 166u - 16);
    EXPECT_EQ(DDTTYLogger::codeIndexForColor(DDColor::fromBytes(204, 121, 32), t256), 172u - 16);
    EXPECT_EQ(DDTTYLogger::codeIndexForColor({0, 0, 0}, DDTTYTerminal{}), 0u);
}

class TTYLoggerTest : public LogCoreFixture {
  protected:
    Pipe m_pipe;
};

TEST_F(TTYLoggerTest, PlainLinesAreByteExact) {
    auto logger = DDTTYLogger::createForTesting(terminal("vt100"), m_pipe.writeEnd());
    EXPECT_EQ(logger->loggerQueue()->label(), "wirewatch.logging.ttyLogger");
    using namespace std::chrono;
    auto when = system_clock::time_point(seconds(1796457603) + microseconds(117900));
    write(logger, "AppDelegate: started", DDLogFlagInfo, 0, nullptr, when, 0x1a03);
    write(logger, "ends in a line feed\n", DDLogFlagInfo, 0, nullptr, when, 0x1a03);
    write(logger, "", DDLogFlagInfo, 0, nullptr, when, 0xffffffff);
    write(logger, "héllo wörld", DDLogFlagError, 0, nullptr, when + seconds(3), 7);
    std::string h = header(when, "1a03");
    EXPECT_EQ(m_pipe.drain(), h + "AppDelegate: started\n" + h + "ends in a line feed\n" +
                                  header(when, "ffffffff") + "\n" + header(when + seconds(3), "7") +
                                  "héllo wörld\n");

    // Through the core: the caller's thread and a well-shaped timestamp.
    DDLog::addLogger(logger);
    WWLogError("through the core");
    std::string line = m_pipe.drain();
    EXPECT_TRUE(matchesShape(
        line, format("####-##-## ##:##:##:### %@[%d:%x] through the core\n", process::processName(),
                     process::processId(), process::currentThreadId())))
        << line;
}

class ChangingFormatter : public DDLogFormatter {
  public:
    std::optional<std::string> formatLogMessage(const DDLogMessage& m) override {
        if (m.logMsg() == "drop") return std::nullopt;
        if (m.logMsg() == "same") return m.logMsg();
        return "[" + m.logMsg() + "]";
    }
};

TEST_F(TTYLoggerTest, FormattedTextIsWrittenWithoutTheHeader) {
    auto logger = DDTTYLogger::createForTesting(terminal("xterm-color"), m_pipe.writeEnd());
    logger->setLogFormatter(std::make_shared<ChangingFormatter>());
    logger->setColorsEnabled(true);
    settle(logger);
    write(logger, "changed", DDLogFlagError);
    write(logger, "drop");
    EXPECT_EQ(m_pipe.drain(), "\033[31m[changed]\n\033[0m");
    using namespace std::chrono;
    auto when = system_clock::now();
    write(logger, "same", DDLogFlagInfo, 0, nullptr, when, 0x10);
    EXPECT_EQ(m_pipe.drain(), header(when, "10") + "same\n");
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
        {"xterm-color", nullptr, "\033[31m", "\033[33m", "\033[0m"},
        {"vt100", nullptr, "", "", ""},
        {nullptr, "YES", "\033[fg214,57,30;", "\033[fg204,121,32;", "\033[;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.term ? c.term : "XcodeColors");
        Pipe pipe;
        auto logger = DDTTYLogger::createForTesting(terminal(c.term, c.xcode), pipe.writeEnd());
        write(logger, "before", DDLogFlagError, 0, nullptr, when, 1);
        EXPECT_EQ(pipe.drain(), header(when, "1") + "before\n") << "colours are off at first";
        logger->setColorsEnabled(true);
        EXPECT_TRUE(logger->colorsEnabled());
        write(logger, "error", DDLogFlagError, 0, nullptr, when, 1);
        write(logger, "warning", DDLogFlagWarning, 0, nullptr, when, 1);
        write(logger, "info", DDLogFlagInfo, 0, nullptr, when, 1);
        write(logger, "other context", DDLogFlagError, 5, nullptr, when, 1);
        EXPECT_EQ(pipe.drain(), c.errorPrefix + header(when, "1") + "error\n" + c.reset +
                                    c.warningPrefix + header(when, "1") + "warning\n" + c.reset +
                                    header(when, "1") + "info\n" + header(when, "1") +
                                    "other context\n");
    }
}

TEST_F(TTYLoggerTest, ProfilesByTagComeFirstThenTheFirstMatchingFlagProfile) {
    using namespace std::chrono;
    auto when = system_clock::now();
    auto logger = DDTTYLogger::createForTesting(terminal("xterm-color"), m_pipe.writeEnd());
    auto red = DDColor::fromBytes(194, 54, 33);
    auto green = DDColor::fromBytes(37, 188, 36);
    auto blue = DDColor::fromBytes(73, 46, 225);
    auto tag = std::make_shared<int>(1);
    logger->setForegroundColor(green, std::nullopt, DDLogFlagError | DDLogFlagWarning);
    logger->setForegroundColor(red, blue, DDLogFlagError);
    logger->setForegroundColorForTag(blue, std::nullopt, tag);
    logger->setForegroundColor(std::nullopt, blue, DDLogFlagInfo, 3);
    logger->setColorsEnabled(true);  // profiles exist: no defaults added
    settle(logger);
    logger->loggerQueue()->sync([&] { EXPECT_EQ(logger->colorProfilesArray().size(), 3u); });
    const std::string h = header(when, "1");
    write(logger, "e", DDLogFlagError, 0, nullptr, when, 1);
    write(logger, "t", DDLogFlagInfo, 0, tag, when, 1);
    write(logger, "c", DDLogFlagInfo, 3, nullptr, when, 1);
    EXPECT_EQ(m_pipe.drain(), "\033[32m" + h + "e\n\033[0m" + "\033[34m" + h + "t\n\033[0m" +
                                  "\033[44m" + h + "c\n\033[0m");

    // Replacing keeps the place in the list; clearing removes the first match.
    logger->setForegroundColor(red, std::nullopt, DDLogFlagError | DDLogFlagWarning);
    logger->clearColorsForTag(tag);
    settle(logger);
    write(logger, "e", DDLogFlagError, 0, nullptr, when, 1);
    write(logger, "t", DDLogFlagInfo, 0, tag, when, 1);
    EXPECT_EQ(m_pipe.drain(), "\033[31m" + h + "e\n\033[0m" + h + "t\n");
    logger->clearColorsForFlag(DDLogFlagError | DDLogFlagWarning);
    settle(logger);
    write(logger, "e", DDLogFlagError, 0, nullptr, when, 1);
    EXPECT_EQ(m_pipe.drain(), "\033[31m\033[44m" + h + "e\n\033[0m");
    logger->clearAllColors();
    settle(logger);
    write(logger, "e", DDLogFlagError, 0, nullptr, when, 1);
    EXPECT_EQ(m_pipe.drain(), h + "e\n");
}

TEST_F(TTYLoggerTest, TurningColoursOffStillLoadsTheDefaultProfiles) {
    auto logger = DDTTYLogger::createForTesting(terminal("xterm-256color"), m_pipe.writeEnd());
    logger->setColorsEnabled(false);
    settle(logger);
    logger->loggerQueue()->sync([&] {
        const auto& profiles = logger->colorProfilesArray();
        ASSERT_EQ(profiles.size(), 2u);
        EXPECT_EQ(profiles[0]->mask, DDLogFlagError);
        EXPECT_EQ(profiles[0]->fgCodeRaw, "38;5;166m");
        EXPECT_EQ(profiles[0]->bgCode, "");
        EXPECT_EQ(profiles[1]->mask, DDLogFlagWarning);
        EXPECT_EQ(profiles[1]->context, 0);
    });
    EXPECT_FALSE(logger->colorsEnabled());
    write(logger, "no colour", DDLogFlagError);
    EXPECT_EQ(m_pipe.drain().find('\033'), std::string::npos);
}

TEST(DDTTYLoggerColorProfileTest, SequencesAndDescription) {
    auto t16 = DDTTYTerminal::detect("xterm-color", nullptr);
    DDTTYLoggerColorProfile ansi(DDColor{1, 0, 0}, DDColor{0, 0, 0}, 1, 2, t16);
    EXPECT_EQ(ansi.fgCode, "\033[1;31m");  // (252,57,31) is the nearest to pure red
    EXPECT_EQ(ansi.bgCode, "\033[40m");
    EXPECT_EQ(ansi.resetCode, "\033[0m");
    EXPECT_EQ(ansi.fg_r, 255);
    EXPECT_TRUE(matchesShape(ansi.description(),
                             "<DDTTYLoggerColorProfile: 0x* mask:1 ctxt:2 fg:255,0,0 "
                             "bg:0,0,0 fgCode:1;31m bgCode:40m>"))
        << ansi.description();

    auto xcode = DDTTYTerminal::detect(nullptr, "YES");
    DDTTYLoggerColorProfile x(std::nullopt, DDColor{0.5, 0.25, 1}, 4, 0, xcode);
    EXPECT_EQ(x.fgCode, "");
    EXPECT_EQ(x.bgCode, "\033[bg127,63,255;");
    EXPECT_EQ(x.resetCode, "\033[;");

    DDTTYLoggerColorProfile none(DDColor{1, 0, 0}, std::nullopt, 1, 0, DDTTYTerminal{});
    EXPECT_EQ(none.fgCode, "");
    EXPECT_EQ(none.resetCode, "");
}

TEST(DDTTYLoggerSharedTest, SharedInstanceIsOneLoggerNamedForTheTerminal) {
    EXPECT_EQ(DDTTYLogger::sharedInstance(), DDTTYLogger::sharedInstance());
    EXPECT_EQ(DDTTYLogger::sharedInstance()->loggerName(),
              std::optional<std::string>("wirewatch.logging.ttyLogger"));
}

TEST(DDASLLoggerTest, FlagsMapToSystemLogLevels) {
    struct Case {
        std::int32_t flag;
        int level;
    } cases[] = {{1, 2}, {2, 3}, {4, 4}, {8, 5}, {0, 5}, {3, 5}, {16, 5}, {-1, 5}};
    for (const auto& c : cases) EXPECT_EQ(DDASLLogger::levelForFlag(c.flag), c.level) << c.flag;
}

using ASLLoggerTest = LogCoreFixture;

TEST_F(ASLLoggerTest, EntriesCarryTheTextOrTheFormattersOutput) {
    std::mutex mutex;
    std::vector<std::pair<int, std::string>> entries;
    auto logger = DDASLLogger::createWithSink([&](int priority, const std::string& text) {
        std::lock_guard lock(mutex);
        entries.emplace_back(priority, text);
    });
    EXPECT_EQ(logger->loggerName(), std::optional<std::string>("wirewatch.logging.aslLogger"));
    DDLog::addLogger(logger);
    WWLogError("an error");
    WWLogInfo("some info");
    logger->setLogFormatter(std::make_shared<ChangingFormatter>());
    DDLog::log(true, 15, DDLogFlagVerbose, 0, __FILE__, "f", __LINE__, nullptr, "verbose");
    DDLog::log(true, 15, DDLogFlagWarning, 0, __FILE__, "f", __LINE__, nullptr, "drop");
    resetLogCore();
    std::lock_guard lock(mutex);
    EXPECT_EQ(entries, (std::vector<std::pair<int, std::string>>{
                           {2, "an error"}, {4, "some info"}, {5, "[verbose]"}}));
}

// syslog(3) writes datagrams to /dev/log. A child process in a mount namespace
// of its own puts a socket there and reads what the logger sends.
TEST(DDASLLoggerTest, SharedInstanceWritesToTheSystemLogSocket) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        if (::unshare(CLONE_NEWNS) != 0) ::_exit(10);
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) ::_exit(11);
        if (::mount("tmpfs", "/dev", "tmpfs", 0, "size=64k") != 0) ::_exit(12);
        int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strcpy(addr.sun_path, "/dev/log");
        if (sock < 0 || ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::_exit(13);
        }
        timeval timeout{10, 0};
        ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        auto logger = DDASLLogger::sharedInstance();
        DDLogMessage error("critical line", 15, DDLogFlagError, 0, __FILE__, "f", 1, nullptr, 0);
        DDLogMessage verbose("notice line", 15, DDLogFlagVerbose, 0, __FILE__, "f", 1, nullptr, 0);
        logger->logMessage(error);
        logger->logMessage(verbose);
        for (int k = 0; k < 2; ++k) {
            char buf[1024];
            ssize_t n = ::recv(sock, buf, sizeof buf, 0);
            if (n <= 0) ::_exit(14);
            std::string line(buf, static_cast<size_t>(n));
            line += '\n';
            if (::write(fds[1], line.data(), line.size()) < 0) ::_exit(15);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string got;
    char buf[1024];
    for (;;) {
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    int code = WEXITSTATUS(status);
    if (code >= 10 && code <= 13) {
        GTEST_SKIP() << "no private mount namespace with a /dev/log socket here (step " << code
                     << ")";
    }
    ASSERT_EQ(code, 0) << got;
    // LOG_USER (8) plus the level: critical 2, notice 5.
    EXPECT_TRUE(matchesShape(got,
                             "<10>*com.apple.console[*]: critical line\n"
                             "<13>*com.apple.console[*]: notice line\n"))
        << got;
}

}  // namespace
}  // namespace ww::test
