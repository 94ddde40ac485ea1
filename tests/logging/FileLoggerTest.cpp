#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <filesystem>
#include <fstream>

#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"
#include "logging/DDLogFileFormatterDefault.h"
#include "logging/DDLogFileInfo.h"
#include "logging/DDLogFileManager.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Text.h"
#include "tests/logging/LoggingTestSupport.h"
#include "tests/support/reachability_Netns.h"

namespace ww::test {
namespace {

using ::testing::HasSubstr;

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// What `f` writes to standard error.
template <typename F>
std::string stderrOf(F&& f) {
    ::testing::internal::CaptureStderr();
    f();
    return ::testing::internal::GetCapturedStderr();
}

bool hasArchivedXattr(const std::string& path) {
    return ::getxattr(path.c_str(), DDLogFileInfo::kArchivedAttributeName, nullptr, 0) >= 0;
}

// Steers the file-system calls: refuse extended attributes, hide birth
// times, make appends fail.
class SteeredFileSystem : public DDLogFileSystem {
  public:
    int stat(const std::string& path, DDLogFileStat* out) override {
        int rc = DDLogFileSystem::stat(path, out);
        if (rc == 0 && hideBirthTime) out->birthDate.reset();
        return rc;
    }
    int setExtendedAttribute(const std::string& path, const std::string& name,
                             std::string_view value) override {
        if (attributeError) return attributeError;
        return DDLogFileSystem::setExtendedAttribute(path, name, value);
    }
    int getExtendedAttribute(const std::string& path, const std::string& name,
                             std::string* value) override {
        if (attributeError == EOPNOTSUPP || attributeError == ENOTSUP) return attributeError;
        return DDLogFileSystem::getExtendedAttribute(path, name, value);
    }
    int removeExtendedAttribute(const std::string& path, const std::string& name) override {
        if (attributeError) return attributeError;
        return DDLogFileSystem::removeExtendedAttribute(path, name);
    }
    ssize_t write(int fd, const void* data, std::size_t size) override {
        if (failingWrites > 0) {
            --failingWrites;
            // Some bytes make it before the disk fills up: a torn line.
            if (partialBytes > 0 && size > partialBytes) {
                std::size_t n = partialBytes;
                partialBytes = 0;
                ++failingWrites;
                return DDLogFileSystem::write(fd, data, n);
            }
            errno = writeErrno;
            return -1;
        }
        return DDLogFileSystem::write(fd, data, size);
    }

    bool hideBirthTime = false;
    int attributeError = 0;
    std::atomic<int> failingWrites{0};
    std::size_t partialBytes = 0;
    int writeErrno = ENOSPC;
};

// Every reading is a millisecond later than the one before: with birth times
// hidden, files get distinct, ordered creation dates however fast they are made.
class TickingClock : public DDLogClock {
  public:
    TimePoint now() const override {
        return m_base + std::chrono::milliseconds(m_ticks.fetch_add(1) + 1);
    }

  private:
    TimePoint m_base = std::chrono::system_clock::now();
    mutable std::atomic<int> m_ticks{0};
};

// A formatter that leaves the text alone, so byte counts are easy.
class PlainFormatter : public DDLogFormatter {
  public:
    std::optional<std::string> formatLogMessage(const DDLogMessage& m) override {
        return m.logMsg();
    }
};

// What the core does for one message, done on the logger's queue directly:
// a logger that is not registered, as in a process that is about to "restart".
// Without the batch end the line may stay in the logger's buffer.
void writeDirect(const std::shared_ptr<DDFileLogger>& logger, const std::string& text,
                 bool endBatch = true) {
    DDLogMessage message(text, 15, DDLogFlagInfo, 0, __FILE__, "writeDirect", __LINE__, nullptr, 0);
    logger->loggerQueue()->sync([&] {
        logger->logMessage(message);
        if (endBatch) logger->logBatchDidEnd();
    });
}

std::string currentPath(const std::shared_ptr<DDFileLogger>& logger) {
    std::string path;
    logger->loggerQueue()->sync([&] { path = logger->currentLogFileInfo()->filePath(); });
    return path;
}

// A default manager that records the archive notices it is given.
class CountingManager : public DDLogFileManagerDefault {
  public:
    explicit CountingManager(const std::string& dir, DDLogClockPtr clock = DDLogClock::system())
        : DDLogFileManagerDefault(dir, std::move(clock), DDLogFileSystem::standard()) {}
    void didArchiveLogFile(const std::string& p) override {
        std::lock_guard lock(mutex);
        archived.push_back(p);
    }
    void didRollAndArchiveLogFile(const std::string& p) override {
        std::lock_guard lock(mutex);
        rolled.push_back(p);
    }
    std::mutex mutex;
    std::vector<std::string> archived, rolled;
};

class FileLoggerTest : public LogCoreFixture {
  protected:
    std::shared_ptr<DDLogFileManagerDefault> manager(DDLogClockPtr clock = DDLogClock::system(),
                                                     DDLogFileSystemPtr fs = nullptr) {
        return DDLogFileManagerDefault::create(m_dir.path(), clock,
                                               fs ? fs : DDLogFileSystem::standard());
    }
    // Registers a file logger on `m` that writes the texts alone.
    std::shared_ptr<DDFileLogger> plainLogger(DDLogFileManagerPtr m,
                                              DDLogFileSystemPtr fs = DDLogFileSystem::standard()) {
        auto logger = DDFileLogger::create(std::move(m), DDLogClock::system(), fs);
        logger->setLogFormatter(std::make_shared<PlainFormatter>());
        DDLog::addLogger(logger);
        return logger;
    }

    TempDir m_dir;
};

TEST(DDLogFileManagerNameRule, AcceptsOnlyLogDashAndSixUpperCaseHexDigits) {
    for (const char* name : {"log-3F2A9C.txt", "log-3F2A9C.log", "log-3F2A9C", "log-000000",
                             "log-ABCDEF.txt.archived"}) {
        EXPECT_TRUE(DDLogFileManagerDefault::isLogFile(name)) << name;
    }
    for (const char* name : {"log-3f2a9c.txt", "log-3F2A9", "log-3F2A9G.txt", "Log-3F2A9C.txt",
                             "xlog-3F2A9C.txt", ".log-3F2A9C.txt.archived", "log_3F2A9C.txt", ""}) {
        EXPECT_FALSE(DDLogFileManagerDefault::isLogFile(name)) << name;
    }
}

TEST_F(FileLoggerTest, NewFilesAreEmptyWithSixHexDigitNamesInAFolderMadeWithItsParents) {
    std::string nested = m_dir.path() + "/a/b/Wirewatch";
    auto m = DDLogFileManagerDefault::create(nested);
    m->setMaximumNumberOfLogFiles(0);
    std::string path = m->createNewLogFile();
    EXPECT_EQ(file::dirName(path), nested);
    EXPECT_TRUE(DDLogFileManagerDefault::isLogFile(nameOf(path))) << path;
    EXPECT_TRUE(path.ends_with(".txt")) << path;
    EXPECT_EQ(m->unsortedLogFileNames(), std::vector<std::string>{nameOf(path)});
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(FileLoggerTest, UncreatableLogsDirectoryIsReportedAndLinesAreDroppedQuietly) {
    std::ofstream(m_dir.path() + "/plainfile") << "x";
    std::string bad = m_dir.path() + "/plainfile/logs";
    auto logger = DDFileLogger::create(DDLogFileManagerDefault::create(bad));
    EXPECT_THAT(stderrOf([&] { writeDirect(logger, "nowhere to go"); }),
                HasSubstr("DDFileLogManagerDefault: Error creating logsDirectory: "));
}

TEST_F(FileLoggerTest, ArchivedMarkIsTheUserAttributeOrWhereThatIsRefusedASidecar) {
    for (int refuse : {0, EOPNOTSUPP, EACCES}) {
        SCOPED_TRACE(refuse);
        auto fs = std::make_shared<SteeredFileSystem>();
        std::string path = manager(DDLogClock::system(), fs)->createNewLogFile();
        std::string name = nameOf(path);
        fs->attributeError = refuse;
        auto info = DDLogFileInfo::logFileWithPath(path, DDLogClock::system(), fs);
        EXPECT_FALSE(info->isArchived());
        std::string err = stderrOf([&] { info->setIsArchived(true); });
        if (refuse == EACCES) {
            // Other failures are reported and leave the file unarchived.
            const std::string what =
                "(user.wirewatch.log.archived, " + name + "): error = " + std::to_string(EACCES);
            EXPECT_THAT(err, HasSubstr("DDLogFileInfo: setxattr" + what));
            EXPECT_FALSE(info->isArchived());
            EXPECT_THAT(stderrOf([&] { info->setIsArchived(false); }),
                        HasSubstr("DDLogFileInfo: removexattr" + what));
            continue;
        }
        EXPECT_EQ(err, "");
        EXPECT_EQ(hasArchivedXattr(path), refuse == 0);
        EXPECT_EQ(listDir(m_dir.path()),
                  (refuse ? std::vector{"." + name + ".archived", name} : std::vector{name}));
        // A fresh manager and info, as after a restart: the mark holds and the
        // file is still a log file while the sidecar is not.
        auto again = manager(DDLogClock::system(), fs);
        EXPECT_EQ(again->unsortedLogFileNames(), std::vector<std::string>{name});
        EXPECT_TRUE(again->sortedLogFileInfos().front()->isArchived());
        // Removing the mark, and removing it again, is no error.
        EXPECT_EQ(stderrOf([&] {
                      info->setIsArchived(false);
                      info->setIsArchived(false);
                  }),
                  "");
        EXPECT_FALSE(DDLogFileInfo::logFileWithPath(path, DDLogClock::system(), fs)->isArchived());
        EXPECT_FALSE(hasArchivedXattr(path));
        EXPECT_EQ(listDir(m_dir.path()), std::vector<std::string>{name});
        DDLogFileInfo::removeLogFile(path);
    }
}

TEST_F(FileLoggerTest, CreationDateIsTheBirthTimeOrTheRecordedMomentWhereNoneIsReported) {
    auto clock = std::make_shared<OffsetClock>();
    clock->setOffset(std::chrono::hours(5));
    // With birth times the injected clock plays no part in the creation date.
    {
        auto before = std::chrono::system_clock::now() - std::chrono::seconds(1);
        std::string path = manager(clock)->createNewLogFile();
        auto info = DDLogFileInfo::logFileWithPath(path, clock);
        EXPECT_GE(info->creationDate(), before);
        EXPECT_LE(info->creationDate(), std::chrono::system_clock::now());
        EXPECT_NEAR(info->age(), 5 * 3600, 5);
    }
    // Without them, the moment the manager recorded (by its clock) counts,
    // through the attribute or, where that is refused too, the sidecar.
    for (int refuse : {0, EOPNOTSUPP}) {
        SCOPED_TRACE(refuse);
        auto fs = std::make_shared<SteeredFileSystem>();
        fs->hideBirthTime = true;
        fs->attributeError = refuse;
        auto m = manager(clock, fs);
        m->setMaximumNumberOfLogFiles(0);
        std::string path = m->createNewLogFile();
        auto info = DDLogFileInfo::logFileWithPath(path, clock, fs);
        EXPECT_LT(std::chrono::abs(info->creationDate() - clock->now()), std::chrono::seconds(5));
        EXPECT_NEAR(info->age(), 0, 5);
        std::string sidecar = DDLogFileInfo::sidecarPath(path, "created");
        EXPECT_EQ(std::filesystem::exists(sidecar), refuse != 0);
        EXPECT_EQ(m->unsortedLogFileNames().size(), 2u);
        // Deleting the file takes its sidecars along.
        DDLogFileInfo::removeLogFile(path);
        EXPECT_FALSE(std::filesystem::exists(sidecar));
    }
}

TEST_F(FileLoggerTest, DeletionKeepsTheSevenNewestArchivedFilesPlusTheCurrentOne) {
    // Birth times hidden: the files sort by the order they were made in.
    auto fs = std::make_shared<SteeredFileSystem>();
    fs->hideBirthTime = true;
    auto clock = std::make_shared<TickingClock>();
    auto m = manager(clock, fs);
    m->setMaximumNumberOfLogFiles(0);
    std::vector<std::string> created;
    for (int k = 0; k < 11; ++k) {
        created.push_back(m->createNewLogFile());
        if (k < 10) DDLogFileInfo::logFileWithPath(created.back(), clock, fs)->setIsArchived(true);
    }
    m->deleteOldLogFiles();
    ASSERT_EQ(m->unsortedLogFilePaths().size(), 11u) << "without a limit nothing is deleted";
    m->setMaximumNumberOfLogFiles(7);
    DDLog::flushLog();  // the change's deletion ran on the logging queue
    // The unarchived newest file is spared: 7 archived plus it, newest first.
    std::vector<std::string> expected(created.rbegin(), created.rend() - 3);
    EXPECT_EQ(m->sortedLogFilePaths(), expected);

    // A new file: the previous unarchived one is now second newest and counts
    // as one of the seven.
    expected.pop_back();
    expected.insert(expected.begin(), m->createNewLogFile());
    EXPECT_EQ(m->sortedLogFilePaths(), expected);
}

TEST_F(FileLoggerTest, DefaultFormatterPutsTheLocalTimestampAndTwoSpacesBeforeTheText) {
    DDLogFileFormatterDefault formatter;
    using namespace std::chrono;
    // 2026-12-05 07:57:53.123999 UTC; the file shows local time, cut to ms.
    auto when = system_clock::time_point(seconds(1796457473) + microseconds(123999));
    DDLogMessage message("AppDelegate: started", 15, 4, 0, __FILE__, "f", 1, nullptr, 0);
    auto line = [](std::time_t t) {
        std::tm tm{};
        localtime_r(&t, &tm);
        char date[32];
        std::strftime(date, sizeof date, "%Y/%m/%d %H:%M:%S", &tm);
        return std::string(date) + ":123  AppDelegate: started";
    };
    message.overrideForTesting(when, 1);
    EXPECT_EQ(formatter.formatLogMessage(message), line(1796457473));
    // The next second: the kept date part is not reused.
    message.overrideForTesting(when + seconds(1), 1);
    EXPECT_EQ(formatter.formatLogMessage(message), line(1796457474));
}

TEST_F(FileLoggerTest, LinesEndInOneLineFeedAndASynchronousLineIsInTheFileWhenTheCallReturns) {
    auto m = manager();
    plainLogger(m);
    std::string expected;
    for (int k = 0; k < 50; ++k) {
        WWLogInfo("async %d", k);
        expected += "async " + std::to_string(k) + "\n";
    }
    WWLogInfo("ends with a line feed\n");
    WWLogInfo("%@", "");
    WWLogError("the error line");
    // No flush: the synchronous call itself has handed everything to the kernel.
    EXPECT_EQ(readFile(m->sortedLogFilePaths().front()),
              expected + "ends with a line feed\n\nthe error line\n");
}

TEST_F(FileLoggerTest, FileIsRolledAfterTheWriteThatTakesItToTheLimit) {
    auto counting = std::make_shared<CountingManager>(m_dir.path());
    auto logger = plainLogger(counting);
    logger->setMaximumFileSize(100);
    const std::string line24(24, 'x');  // 25 bytes with its line feed
    for (int k = 0; k < 3; ++k) WWLogInfo("%@", line24);
    WWLogInfo("%@", std::string(23, 'y'));  // 99 bytes: still within the limit
    DDLog::flushLog();
    std::string first = currentPath(logger);
    EXPECT_TRUE(counting->rolled.empty());
    WWLogInfo("z");                         // 101 bytes: past the limit, rolled after this write
    WWLogInfo("%@", std::string(99, 'a'));  // exactly 100 bytes: the second file
    WWLogInfo("next");
    DDLog::flushLog();
    ASSERT_EQ(counting->rolled.size(), 2u);
    EXPECT_EQ(counting->rolled[0], first);
    EXPECT_EQ(readFile(first).size(), 101u);
    EXPECT_TRUE(DDLogFileInfo(first).isArchived());
    EXPECT_EQ(readFile(counting->rolled[1]), std::string(99, 'a') + "\n");
    EXPECT_TRUE(DDLogFileInfo(counting->rolled[1]).isArchived());
    EXPECT_EQ(readFile(currentPath(logger)), "next\n");
    EXPECT_EQ(counting->unsortedLogFileNames().size(), 3u);
}

TEST_F(FileLoggerTest, RestartContinuesTheNewestUnarchivedFileWhileItIsWithinBothLimits) {
    struct Case {
        const char* name;
        int ageHours;
        std::uint64_t maximumFileSize;
        bool continues;
    } cases[] = {
        {"young and small", 0, 1024, true},
        {"23 hours old", 23, 1024, true},
        {"25 hours old", 25, 1024, false},
        {"at the size limit", 0, 100, false},
    };
    const std::string line = "before the restart " + std::string(80, '.');  // 100 bytes in the file
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        auto clock = std::make_shared<OffsetClock>();
        std::string old;
        {
            // The line stays in the buffer until the logger goes, without a
            // roll, as when the process ends.
            auto before = DDFileLogger::create(DDLogFileManagerDefault::create(dir.path(), clock));
            before->setLogFormatter(std::make_shared<PlainFormatter>());
            DDLog::flushLog();  // the setter goes through the logging queue
            writeDirect(before, line, false);
            old = currentPath(before);
            EXPECT_EQ(readFile(old), "") << "expected the line to be buffered";
        }
        EXPECT_EQ(readFile(old), line + "\n");
        // The start-up check reads the age through the manager's file infos. The
        // logger keeps the real clock, so the age timer of a new file (also old
        // by the moved clock) does not roll it under our feet.
        clock->setOffset(std::chrono::hours(c.ageHours));
        auto counting = std::make_shared<CountingManager>(dir.path(), clock);
        auto after = DDFileLogger::create(counting, DDLogClock::system());
        after->setMaximumFileSize(c.maximumFileSize);
        DDLog::flushLog();
        writeDirect(after, "after the restart");
        std::string current = currentPath(after);
        EXPECT_EQ(current == old, c.continues);
        EXPECT_EQ(DDLogFileInfo(old).isArchived(), !c.continues);
        EXPECT_EQ(counting->archived, c.continues ? std::vector<std::string>{} : std::vector{old});
        EXPECT_TRUE(counting->rolled.empty());
        std::string oldText = readFile(old);
        EXPECT_TRUE(oldText.starts_with(line + "\n")) << oldText;
        EXPECT_EQ(oldText.find("after the restart") != std::string::npos, c.continues);
        EXPECT_THAT(readFile(current), HasSubstr("  after the restart\n"));
        EXPECT_EQ(counting->unsortedLogFileNames().size(), c.continues ? 1u : 2u);
    }
}

TEST_F(FileLoggerTest, AgeTimerRollsTheFileWhenItsTimeComesAndALowerFrequencyAtOnce) {
    auto clock = std::make_shared<OffsetClock>();
    // The file will be 24 hours old a moment after it is created.
    clock->setOffset(std::chrono::hours(24) - std::chrono::milliseconds(300));
    auto counting = std::make_shared<CountingManager>(m_dir.path(), clock);
    auto logger = DDFileLogger::create(counting, clock);
    DDLog::addLogger(logger);
    WWLogError("opens the file");
    std::string first = currentPath(logger);
    // The manager hears of the roll after the file was marked archived: wait
    // for the later of the two.
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(counting->mutex);
        return !counting->rolled.empty();
    })) << "the age timer did not roll the file";
    {
        std::lock_guard lock(counting->mutex);
        EXPECT_EQ(counting->rolled, std::vector<std::string>{first});
    }
    EXPECT_TRUE(DDLogFileInfo(first).isArchived());
    WWLogError("goes to a new file");
    std::string second = currentPath(logger);
    EXPECT_NE(second, first);
    EXPECT_EQ(counting->unsortedLogFileNames().size(), 2u);

    // A frequency below the new file's age rolls it at once; none stops rolling.
    logger->setRollingFrequency(1e-9);
    DDLog::flushLog();
    EXPECT_TRUE(DDLogFileInfo(second).isArchived());
    logger->setRollingFrequency(0);
    WWLogError("another");
    EXPECT_FALSE(DDLogFileInfo(currentPath(logger)).isArchived());
}

TEST(FileLoggerExitTest, QueuedLinesReachTheFileAtNormalExit) {
    if (const char* dir = std::getenv("WW_LOG_EXIT_CHILD_DIR")) {
        // The child: queue lines and leave through exit() without any flush.
        auto logger = DDFileLogger::create(DDLogFileManagerDefault::create(std::string(dir)));
        DDLog::addLogger(logger);
        for (int k = 0; k < 5000; ++k) WWLogInfo("exit line %d", k);
        std::exit(0);
    }
    // This program again, running only this test as the child.
    TempDir dir;
    std::string self = std::filesystem::read_symlink("/proc/self/exe");
    ASSERT_EQ(runShell("WW_LOG_EXIT_CHILD_DIR=" + dir.path() + " " + self +
                       " --gtest_filter=FileLoggerExitTest.QueuedLinesReachTheFileAtNormalExit"),
              0);
    auto files = DDLogFileManagerDefault::create(dir.path())->sortedLogFilePaths();
    ASSERT_EQ(files.size(), 1u);
    std::string text = readFile(files[0]);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5000);
    EXPECT_TRUE(text.ends_with("  exit line 4999\n")) << text.substr(text.size() - 60);
}

TEST_F(FileLoggerTest, EightThreadsLoseAndReorderNothingAcrossRolledFiles) {
    auto counting = std::make_shared<CountingManager>(m_dir.path());
    counting->setMaximumNumberOfLogFiles(0);
    auto logger = DDFileLogger::create(counting);
    logger->setMaximumFileSize(1024 * 1024);
    DDLog::addLogger(logger);
    constexpr int kThreads = 8;
    constexpr int kLines = 100000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int k = 0; k < kLines; ++k) WWLogInfo("T%d %d", t, k);
        });
    }
    for (auto& th : threads) th.join();
    DDLog::flushLog();

    // The files in the order they were written: rolled ones, then the current.
    std::vector<DDLogFileInfoPtr> files;
    for (const auto& p : counting->rolled) files.push_back(DDLogFileInfo::logFileWithPath(p));
    files.push_back(DDLogFileInfo::logFileWithPath(currentPath(logger)));
    EXPECT_GT(files.size(), 10u);
    EXPECT_EQ(counting->unsortedLogFileNames().size(), files.size());
    std::vector<int> next(kThreads, 0);
    size_t total = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        std::string lines = readFile(files[f]->filePath());
        if (f + 1 < files.size()) {
            EXPECT_GE(lines.size(), 1024u * 1024u);
            EXPECT_TRUE(files[f]->isArchived());
        }
        ASSERT_TRUE(lines.ends_with('\n')) << "partial line in " << files[f]->fileName();
        lines.pop_back();
        for (std::string_view line : text::splitLines(lines)) {
            // "yyyy/MM/dd HH:mm:ss:SSS  T<t> <k>"
            int t = -1, k = -1;
            ASSERT_GT(line.size(), 25u);
            ASSERT_EQ(std::sscanf(line.data() + 25, "T%d %d", &t, &k), 2) << line;
            ASSERT_TRUE(t >= 0 && t < kThreads) << line;
            ASSERT_EQ(k, next[t]) << "thread " << t << " out of order in " << files[f]->fileName();
            ++next[t];
            ++total;
        }
    }
    EXPECT_EQ(total, size_t(kThreads) * kLines);
}

TEST_F(FileLoggerTest, FailedAppendsLeaveNoTornLineAndStopNothingAfterwards) {
    auto fs = std::make_shared<SteeredFileSystem>();
    auto m = manager(DDLogClock::system(), fs);
    auto logger = plainLogger(m, fs);
    WWLogError("before the disk filled up");
    // The next batch gets 5 bytes out, then the disk is full for a while.
    fs->partialBytes = 5;
    fs->failingWrites = 3;
    std::string failed = stderrOf([] {
        WWLogError("lost one");
        WWLogError("lost two");
        WWLogError("lost three");
    });
    EXPECT_THAT(failed, HasSubstr("DDFileLogger: Error appending to log file"));
    EXPECT_THAT(failed, HasSubstr("No space left on device"));
    EXPECT_EQ(fs->failingWrites.load(), 0);
    EXPECT_THAT(stderrOf([] {
                    WWLogError("after space returned");
                    WWLogInfo("and more");
                    DDLog::flushLog();
                }),
                HasSubstr("again; 3 lines lost"));
    std::string first = currentPath(logger);
    EXPECT_EQ(readFile(first), "before the disk filled up\nafter space returned\nand more\n");
    EXPECT_EQ(m->unsortedLogFileNames().size(), 1u) << "a full disk keeps the current file";

    // Other errors move logging to a new file.
    fs->writeErrno = EIO;
    fs->failingWrites = 1;
    EXPECT_THAT(stderrOf([] {
                    WWLogError("lost");
                    WWLogError("second file");
                }),
                HasSubstr("Input/output error"));
    EXPECT_EQ(readFile(first), "before the disk filled up\nafter space returned\nand more\n");
    EXPECT_TRUE(DDLogFileInfo(first).isArchived());
    EXPECT_NE(currentPath(logger), first);
    EXPECT_EQ(readFile(currentPath(logger)), "second file\n");
}

TEST_F(FileLoggerTest, AnUnopenableNewestFileIsPassedOverForANewOne) {
    auto m = manager();
    // A folder that looks like the newest log file cannot be opened for writing.
    std::string trap = m_dir.path() + "/log-ABCDEF.txt";
    ASSERT_EQ(::mkdir(trap.c_str(), 0755), 0);
    auto logger = DDFileLogger::create(m);
    writeDirect(logger, "still logged");
    std::string current = currentPath(logger);
    EXPECT_NE(current, trap);
    EXPECT_THAT(readFile(current), HasSubstr("still logged"));
}

}  // namespace
}  // namespace ww::test
