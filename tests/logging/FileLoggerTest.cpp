#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"
#include "logging/DDLogFileFormatterDefault.h"
#include "logging/DDLogFileInfo.h"
#include "logging/DDLogFileManager.h"
#include "platform/foundation/FileUtil.h"
#include "tests/logging/LoggingTestSupport.h"

namespace ww {
namespace {

using testing::listDir;
using testing::OffsetClock;
using testing::TempDir;
using testing::waitUntil;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
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
        ++writes;
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
    std::atomic<int> writes{0};
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
void writeDirect(const std::shared_ptr<DDFileLogger>& logger, const std::string& text) {
    DDLogMessage message(text, 15, DDLogFlagInfo, 0, __FILE__, "writeDirect", __LINE__, nullptr, 0);
    logger->loggerQueue()->sync([&] {
        logger->logMessage(message);
        logger->logBatchDidEnd();
    });
}

std::string currentPath(const std::shared_ptr<DDFileLogger>& logger) {
    std::string path;
    logger->loggerQueue()->sync([&] { path = logger->currentLogFileInfo()->filePath(); });
    return path;
}

// Passes everything to a default manager and records the archive calls.
class CountingManager : public DDLogFileManager {
  public:
    explicit CountingManager(std::shared_ptr<DDLogFileManagerDefault> inner)
        : m(std::move(inner)) {}
    std::string logsDirectory() override { return m->logsDirectory(); }
    std::vector<std::string> unsortedLogFilePaths() override { return m->unsortedLogFilePaths(); }
    std::vector<std::string> unsortedLogFileNames() override { return m->unsortedLogFileNames(); }
    std::vector<DDLogFileInfoPtr> unsortedLogFileInfos() override {
        return m->unsortedLogFileInfos();
    }
    std::vector<std::string> sortedLogFilePaths() override { return m->sortedLogFilePaths(); }
    std::vector<std::string> sortedLogFileNames() override { return m->sortedLogFileNames(); }
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override { return m->sortedLogFileInfos(); }
    std::string createNewLogFile() override { return m->createNewLogFile(); }
    std::uint64_t maximumNumberOfLogFiles() override { return m->maximumNumberOfLogFiles(); }
    void setMaximumNumberOfLogFiles(std::uint64_t n) override { m->setMaximumNumberOfLogFiles(n); }
    void didArchiveLogFile(const std::string& p) override {
        std::lock_guard lock(mutex);
        archived.push_back(p);
    }
    void didRollAndArchiveLogFile(const std::string& p) override {
        std::lock_guard lock(mutex);
        rolled.push_back(p);
    }
    std::shared_ptr<DDLogFileManagerDefault> m;
    std::mutex mutex;
    std::vector<std::string> archived, rolled;
};

class FileLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::resetLogCore();
        ASSERT_FALSE(m_dir.path().empty());
    }
    void TearDown() override { testing::resetLogCore(); }

    std::shared_ptr<DDLogFileManagerDefault> manager(DDLogClockPtr clock = DDLogClock::system(),
                                                     DDLogFileSystemPtr fs = nullptr) {
        return DDLogFileManagerDefault::create(m_dir.path(), clock,
                                               fs ? fs : DDLogFileSystem::standard());
    }

    // Files made by this manager sort by the order they were made in.
    std::shared_ptr<DDLogFileManagerDefault> stampedManager() {
        auto fs = std::make_shared<SteeredFileSystem>();
        fs->hideBirthTime = true;
        m_stampedClock = std::make_shared<TickingClock>();
        m_stampedFs = fs;
        return manager(m_stampedClock, fs);
    }
    std::shared_ptr<DDLogFileInfo> stampedInfo(const std::string& path) {
        return DDLogFileInfo::logFileWithPath(path, m_stampedClock, m_stampedFs);
    }

    TempDir m_dir;
    DDLogClockPtr m_stampedClock;
    DDLogFileSystemPtr m_stampedFs;
};

TEST(DDLogFileManagerNameRule, AcceptsOnlyLogDashAndSixUpperCaseHexDigits) {
    struct Case {
        const char* name;
        bool isLog;
    } cases[] = {
        {"log-3F2A9C.txt", true},
        {"log-3f2a9c.txt", false},
        {"log-3F2A9", false},
        {"log-3F2A9G.txt", false},
        {"log-3F2A9C.log", true},
        {"log-3F2A9C", true},
        {"log-000000", true},
        {"Log-3F2A9C.txt", false},
        {"xlog-3F2A9C.txt", false},
        {".log-3F2A9C.txt.archived", false},
        {"log_3F2A9C.txt", false},
        {"log-ABCDEF.txt.archived", true},
        {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DDLogFileManagerDefault::isLogFile(c.name), c.isLog) << c.name;
    }
}

TEST_F(FileLoggerTest, NewFilesAreEmptyAndNamedWithSixUpperCaseHexDigits) {
    auto m = manager();
    std::set<std::string> ids;
    for (int k = 0; k < 200; ++k) {
        std::string id = m->generateShortUUID();
        EXPECT_TRUE(testing::matchesShape(id, "%%%%%%")) << id;
        ids.insert(id);
    }
    EXPECT_GT(ids.size(), 190u);  // random, so collisions are rare
    m->setMaximumNumberOfLogFiles(0);
    std::string path = m->createNewLogFile();
    EXPECT_EQ(file::dirName(path), m_dir.path());
    std::string name = path.substr(path.rfind('/') + 1);
    EXPECT_TRUE(testing::matchesShape(name, "log-%%%%%%.txt")) << name;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(m->unsortedLogFileNames(), std::vector<std::string>{name});
}

TEST_F(FileLoggerTest, MissingLogsDirectoryIsCreatedWithItsParents) {
    std::string nested = m_dir.path() + "/a/b/Wirewatch";
    auto m = DDLogFileManagerDefault::create(nested);
    EXPECT_EQ(m->logsDirectory(), nested);
    struct stat st {};
    ASSERT_EQ(::stat(nested.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(FileLoggerTest, UncreatableLogsDirectoryIsReportedAndLinesAreDroppedQuietly) {
    writeFile(m_dir.path() + "/plainfile", "x");
    std::string bad = m_dir.path() + "/plainfile/logs";
    auto logger = DDFileLogger::create(DDLogFileManagerDefault::create(bad));
    ::testing::internal::CaptureStderr();
    writeDirect(logger, "nowhere to go");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DDFileLogManagerDefault: Error creating logsDirectory: "),
              std::string::npos)
        << err;
}

TEST_F(FileLoggerTest, ArchivedMarkIsTheUserExtendedAttributeAndSurvivesANewInfo) {
    auto m = manager();
    std::string path = m->createNewLogFile();
    auto info = DDLogFileInfo::logFileWithPath(path);
    EXPECT_FALSE(info->isArchived());
    info->setIsArchived(true);
    EXPECT_TRUE(hasArchivedXattr(path));
    EXPECT_TRUE(DDLogFileInfo::logFileWithPath(path)->isArchived());
    EXPECT_EQ(listDir(m_dir.path()).size(), 1u) << "no sidecar where attributes work";
    info->setIsArchived(false);
    EXPECT_FALSE(hasArchivedXattr(path));
    EXPECT_FALSE(DDLogFileInfo::logFileWithPath(path)->isArchived());
    info->setIsArchived(false);  // removing an absent mark is no error
}

TEST_F(FileLoggerTest, WhereAttributesAreRefusedASidecarMarksTheFileAcrossRestarts) {
    auto fs = std::make_shared<SteeredFileSystem>();
    fs->attributeError = EOPNOTSUPP;
    auto m = manager(DDLogClock::system(), fs);
    std::string path = m->createNewLogFile();
    std::string name = path.substr(path.rfind('/') + 1);
    ::testing::internal::CaptureStderr();
    DDLogFileInfo(path, DDLogClock::system(), fs).setIsArchived(true);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(hasArchivedXattr(path));
    EXPECT_EQ(listDir(m_dir.path()), (std::vector<std::string>{"." + name + ".archived", name}));
    // A fresh manager and info, as after a restart: the mark holds and the
    // file is still a log file while the sidecar is not.
    auto again = manager(DDLogClock::system(), fs);
    EXPECT_EQ(again->unsortedLogFileNames(), std::vector<std::string>{name});
    EXPECT_TRUE(again->sortedLogFileInfos().front()->isArchived());
    DDLogFileInfo(path, DDLogClock::system(), fs).setIsArchived(false);
    EXPECT_FALSE(DDLogFileInfo(path, DDLogClock::system(), fs).isArchived());
    EXPECT_EQ(listDir(m_dir.path()), std::vector<std::string>{name});
}

TEST_F(FileLoggerTest, OtherAttributeFailuresAreReportedAndLeaveTheFileUnarchived) {
    auto fs = std::make_shared<SteeredFileSystem>();
    auto m = manager(DDLogClock::system(), fs);
    std::string path = m->createNewLogFile();
    std::string name = path.substr(path.rfind('/') + 1);
    fs->attributeError = EACCES;
    DDLogFileInfo info(path, DDLogClock::system(), fs);
    ::testing::internal::CaptureStderr();
    info.setIsArchived(true);
    info.setIsArchived(false);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DDLogFileInfo: setxattr(user.lumberjack.log.archived, " + name +
                       "): error = " + std::to_string(EACCES)),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("DDLogFileInfo: removexattr(user.lumberjack.log.archived, " + name +
                       "): error = " + std::to_string(EACCES)),
              std::string::npos)
        << err;
    EXPECT_FALSE(info.isArchived());
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
        auto expected = clock->now();
        EXPECT_LT(std::chrono::abs(info->creationDate() - expected), std::chrono::seconds(5));
        EXPECT_NEAR(info->age(), 0, 5);
        bool sidecar = ::access(DDLogFileInfo::sidecarPath(path, "created").c_str(), F_OK) == 0;
        EXPECT_EQ(sidecar, refuse != 0);
        EXPECT_EQ(m->unsortedLogFileNames().size(), 2u);
        // Deleting the file takes its sidecars along.
        DDLogFileInfo::removeLogFile(path);
        EXPECT_NE(::access(DDLogFileInfo::sidecarPath(path, "created").c_str(), F_OK), 0);
    }
}

TEST_F(FileLoggerTest, DeletionKeepsTheSevenNewestArchivedFilesPlusTheCurrentOne) {
    auto m = stampedManager();
    m->setMaximumNumberOfLogFiles(0);
    std::vector<std::string> created;
    for (int k = 0; k < 11; ++k) {
        created.push_back(m->createNewLogFile());
        if (k < 10) stampedInfo(created.back())->setIsArchived(true);
    }
    ASSERT_EQ(m->unsortedLogFilePaths().size(), 11u);
    m->setMaximumNumberOfLogFiles(7);
    DDLog::flushLog();  // the change's deletion ran on the logging queue
    // The unarchived newest file is spared: 7 archived plus it.
    std::set<std::string> expected(created.begin() + 3, created.end());
    auto left = m->unsortedLogFilePaths();
    EXPECT_EQ(std::set<std::string>(left.begin(), left.end()), expected);

    // A new file: the previous unarchived one is now second newest and counts
    // as one of the seven.
    std::string fresh = m->createNewLogFile();
    expected = std::set<std::string>(created.begin() + 4, created.end());
    expected.insert(fresh);
    left = m->unsortedLogFilePaths();
    EXPECT_EQ(std::set<std::string>(left.begin(), left.end()), expected);
    EXPECT_EQ(m->sortedLogFilePaths().front(), fresh);
    EXPECT_EQ(m->sortedLogFilePaths().back(), created[4]);
}

TEST_F(FileLoggerTest, WithoutALimitNothingIsEverDeleted) {
    auto m = stampedManager();
    m->setMaximumNumberOfLogFiles(0);
    for (int k = 0; k < 12; ++k) stampedInfo(m->createNewLogFile())->setIsArchived(true);
    m->createNewLogFile();
    m->deleteOldLogFiles();
    EXPECT_EQ(m->unsortedLogFileNames().size(), 13u);
    EXPECT_EQ(m->maximumNumberOfLogFiles(), 0u);
    EXPECT_EQ(DDLogFileManagerDefault::create(m_dir.path())->maximumNumberOfLogFiles(), 5u);
}

TEST_F(FileLoggerTest, RealBirthTimesOrderFilesNewestFirst) {
    auto m = manager();
    m->setMaximumNumberOfLogFiles(0);
    std::string older = m->createNewLogFile();
    // Wait for the (coarse) file-system clock to move on before the next file.
    DDLogFileStat st;
    ASSERT_EQ(DDLogFileSystem::standard()->stat(older, &st), 0);
    if (!st.birthDate) GTEST_SKIP() << "this file system reports no birth time";
    std::string probe = m_dir.path() + "/probe";
    ASSERT_TRUE(waitUntil([&] {
        writeFile(probe, "p");
        DDLogFileStat p;
        return DDLogFileSystem::standard()->stat(probe, &p) == 0 &&
               p.modificationDate > *st.birthDate;
    }));
    std::string newer = m->createNewLogFile();
    EXPECT_EQ(m->sortedLogFilePaths(), (std::vector<std::string>{newer, older}));
    EXPECT_LT(DDLogFileInfo(older).creationDate(), DDLogFileInfo(newer).creationDate());
}

TEST_F(FileLoggerTest, DefaultFormatterPutsTheLocalTimestampAndTwoSpacesBeforeTheText) {
    DDLogFileFormatterDefault formatter;
    using namespace std::chrono;
    // 2026-12-05 07:57:53.123999 UTC; the file shows local time, cut to ms.
    auto when = system_clock::time_point(seconds(1796457473) + microseconds(123999));
    DDLogMessage message("AppDelegate: started", 15, 4, 0, __FILE__, "f", 1, nullptr, 0);
    message.overrideForTesting(when, 1);
    std::time_t t = 1796457473;
    std::tm tm{};
    localtime_r(&t, &tm);
    char expected[64];
    std::snprintf(expected, sizeof expected,
                  "%04d/%02d/%02d %02d:%02d:%02d:123  AppDelegate: started", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    EXPECT_EQ(formatter.formatLogMessage(message), std::optional<std::string>(expected));
    // Twice in the same second (the kept date part) and in the next one.
    message.overrideForTesting(when + milliseconds(5), 1);
    EXPECT_EQ(formatter.formatLogMessage(message)->substr(19), ":128  AppDelegate: started");
    message.overrideForTesting(when + seconds(1), 1);
    EXPECT_EQ(
        *formatter.formatLogMessage(message),
        DDLogFileFormatterDefault::localTimestamp(when + seconds(1)) + "  AppDelegate: started");
    EXPECT_TRUE(testing::matchesShape(DDLogFileFormatterDefault::localTimestamp(when),
                                      "####/##/## ##:##:##:123"));

    DDLogFileFormatterDefault custom([](system_clock::time_point) { return std::string("T"); });
    EXPECT_EQ(custom.formatLogMessage(message),
              std::optional<std::string>("T  AppDelegate: started"));
}

TEST_F(FileLoggerTest, LinesEndInExactlyOneLineFeed) {
    auto logger = DDFileLogger::create(manager());
    logger->setLogFormatter(std::make_shared<PlainFormatter>());
    DDLog::addLogger(logger);
    WWLogInfo("ends with a line feed\n");
    WWLogInfo("does not");
    WWLogInfo("%@", "");
    DDLog::flushLog();
    EXPECT_EQ(readFile(currentPath(logger)), "ends with a line feed\ndoes not\n\n");
}

TEST_F(FileLoggerTest, FileIsRolledAfterTheWriteThatTakesItToTheLimit) {
    auto counting = std::make_shared<CountingManager>(manager());
    auto logger = DDFileLogger::create(counting);
    logger->setLogFormatter(std::make_shared<PlainFormatter>());
    logger->setMaximumFileSize(100);
    EXPECT_EQ(logger->maximumFileSize(), 100u);
    DDLog::addLogger(logger);
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
    EXPECT_EQ(counting->m->unsortedLogFileNames().size(), 3u);
}

TEST_F(FileLoggerTest, FileOfExactlyTheMaximumSizeIsRolledAndTheNextLineStartsANewFile) {
    auto m = manager();
    auto logger = DDFileLogger::create(m);
    logger->setLogFormatter(std::make_shared<PlainFormatter>());
    logger->setMaximumFileSize(1048576);
    DDLog::addLogger(logger);
    const std::string chunk(1023, 'c');  // 1024 bytes per line
    for (int k = 0; k < 1024; ++k) WWLogInfo("%@", chunk);
    DDLog::flushLog();
    auto files = m->sortedLogFileInfos();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(readFile(files[0]->filePath()).size(), 1048576u);
    EXPECT_TRUE(files[0]->isArchived());
    WWLogInfo("first line of the next file");
    DDLog::flushLog();
    std::string next = currentPath(logger);
    EXPECT_NE(next, files[0]->filePath());
    EXPECT_EQ(readFile(next), "first line of the next file\n");
    EXPECT_EQ(m->unsortedLogFileNames().size(), 2u);
}

TEST_F(FileLoggerTest, RollingTwiceWithoutALineInBetweenDoesNothing) {
    auto m = manager();
    auto logger = DDFileLogger::create(m);
    DDLog::addLogger(logger);
    WWLogInfo("one line");
    logger->rollLogFile();
    logger->rollLogFile();
    DDLog::flushLog();
    ASSERT_EQ(m->unsortedLogFileNames().size(), 1u);
    EXPECT_TRUE(m->sortedLogFileInfos()[0]->isArchived());
    logger->loggerQueue()->sync([&] { logger->rollLogFileNow(); });
    EXPECT_EQ(m->unsortedLogFileNames().size(), 1u);
}

TEST_F(FileLoggerTest, RestartContinuesTheNewestUnarchivedFile) {
    auto m = manager();
    std::string path;
    {
        auto before = DDFileLogger::create(m);
        writeDirect(before, "before the restart");
        path = currentPath(before);
    }  // gone without a roll, as when the process ends
    EXPECT_FALSE(DDLogFileInfo(path).isArchived());
    auto after = DDFileLogger::create(manager());
    writeDirect(after, "after the restart");
    EXPECT_EQ(currentPath(after), path);
    std::string text = readFile(path);
    EXPECT_NE(text.find("  before the restart\n"), std::string::npos);
    EXPECT_NE(text.find("  after the restart\n"), std::string::npos);
    EXPECT_EQ(manager()->unsortedLogFileNames().size(), 1u);
}

TEST_F(FileLoggerTest, RestartDoesNotContinueAFileThatIsTooBig) {
    auto m = manager();
    std::string old = m->createNewLogFile();
    writeFile(old, std::string(200, 'o'));
    auto logger = DDFileLogger::create(manager());
    logger->setMaximumFileSize(200);
    DDLog::flushLog();
    writeDirect(logger, "fresh");
    EXPECT_NE(currentPath(logger), old);
    EXPECT_TRUE(DDLogFileInfo(old).isArchived());
}

TEST_F(FileLoggerTest, AtStartAFile25HoursOldIsArchivedAndANewOneTakesTheFirstLine) {
    auto clock = std::make_shared<OffsetClock>();
    std::string old = manager(clock)->createNewLogFile();
    writeFile(old, "yesterday\n");

    // The start-up check reads the age through the manager's file infos. The
    // logger keeps the real clock, so the age timer of the new file (also
    // "25 hours old" by the moved clock) does not roll it under our feet.
    clock->setOffset(std::chrono::hours(25));
    auto counting = std::make_shared<CountingManager>(manager(clock));
    auto logger = DDFileLogger::create(counting, DDLogClock::system());
    EXPECT_EQ(logger->rollingFrequency(), 86400.0);
    writeDirect(logger, "first line today");
    std::string current = currentPath(logger);
    EXPECT_NE(current, old);
    EXPECT_TRUE(DDLogFileInfo(old).isArchived());
    EXPECT_EQ(readFile(old), "yesterday\n");
    EXPECT_NE(readFile(current).find("first line today"), std::string::npos);
    EXPECT_EQ(counting->archived, std::vector<std::string>{old});
    EXPECT_TRUE(counting->rolled.empty());

    // 23 hours old is young enough to go on with.
    TempDir other;
    auto young = DDLogFileManagerDefault::create(other.path(), clock);
    clock->setOffset(std::chrono::hours(0));
    std::string kept = young->createNewLogFile();
    clock->setOffset(std::chrono::hours(23));
    auto logger2 = DDFileLogger::create(DDLogFileManagerDefault::create(other.path(), clock));
    writeDirect(logger2, "same file");
    EXPECT_EQ(currentPath(logger2), kept);
}

TEST_F(FileLoggerTest, AgeTimerRollsTheFileWhenItsTimeComes) {
    auto clock = std::make_shared<OffsetClock>();
    // The file will be 24 hours old a moment after it is created.
    clock->setOffset(std::chrono::hours(24) - std::chrono::milliseconds(300));
    auto counting = std::make_shared<CountingManager>(manager(clock));
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
    EXPECT_NE(currentPath(logger), first);
    EXPECT_EQ(counting->m->unsortedLogFileNames().size(), 2u);
}

TEST_F(FileLoggerTest, LoweringTheRollingFrequencyRollsAnOldEnoughFileAtOnce) {
    auto m = manager();
    auto logger = DDFileLogger::create(m);
    DDLog::addLogger(logger);
    WWLogError("line");
    std::string first = currentPath(logger);
    logger->setRollingFrequency(1e-9);
    DDLog::flushLog();
    EXPECT_TRUE(DDLogFileInfo(first).isArchived());
    logger->setRollingFrequency(0);  // disabled: no timer, no roll
    WWLogError("another");
    EXPECT_FALSE(DDLogFileInfo(currentPath(logger)).isArchived());
    EXPECT_EQ(logger->rollingFrequency(), 0.0);
}

TEST_F(FileLoggerTest, SynchronousLineHasReachedTheFileWhenTheCallReturns) {
    auto m = manager();
    auto logger = DDFileLogger::create(m);
    DDLog::addLogger(logger);
    for (int k = 0; k < 50; ++k) WWLogInfo("async %d", k);
    WWLogError("the error line");
    // No flush: the synchronous call itself has handed everything to the kernel.
    std::string text = readFile(m->sortedLogFilePaths().front());
    EXPECT_NE(text.find("  async 49\n"), std::string::npos);
    EXPECT_TRUE(text.ends_with("  the error line\n")) << text;
}

TEST_F(FileLoggerTest, FlushAfterABurstWritesOutEverything) {
    auto m = manager();
    auto logger = DDFileLogger::create(m);
    logger->setLogFormatter(std::make_shared<PlainFormatter>());
    DDLog::addLogger(logger);
    constexpr int kLines = 20000;
    for (int k = 0; k < kLines; ++k) WWLogInfo("burst line %05d", k);
    DDLog::flushLog();
    std::string text = readFile(m->sortedLogFilePaths().front());
    ASSERT_EQ(text.size(), size_t(kLines) * 17);
    EXPECT_EQ(text.substr(text.size() - 17), "burst line 19999\n");
}

TEST_F(FileLoggerTest, DestroyingTheLoggerWritesOutWhatIsBuffered) {
    auto m = manager();
    std::string path;
    {
        auto logger = DDFileLogger::create(m);
        DDLogMessage message("kept at the end", 15, 4, 0, __FILE__, "f", 1, nullptr, 0);
        logger->loggerQueue()->sync([&] {
            logger->logMessage(message);
            path = logger->currentLogFileInfo()->filePath();
        });
        EXPECT_EQ(readFile(path), "") << "expected the line to be buffered";
    }
    EXPECT_NE(readFile(path).find("kept at the end\n"), std::string::npos);
}

// The program, started again to run only `test` with `env` added.
int runSelf(const std::string& test, const std::string& env) {
    std::string filter = "--gtest_filter=" + test;
    char* argv[] = {const_cast<char*>("/proc/self/exe"), filter.data(), nullptr};
    std::vector<std::string> envStrings{env};
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, envp.data()) != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FileLoggerExitTest, QueuedLinesReachTheFileAtNormalExit) {
    if (const char* dir = std::getenv("WW_LOG_EXIT_CHILD_DIR")) {
        // The child: queue lines and leave through exit() without any flush.
        auto logger = DDFileLogger::create(DDLogFileManagerDefault::create(std::string(dir)));
        DDLog::addLogger(logger);
        for (int k = 0; k < 5000; ++k) WWLogInfo("exit line %d", k);
        std::exit(0);
    }
    TempDir dir;
    ASSERT_EQ(runSelf("FileLoggerExitTest.QueuedLinesReachTheFileAtNormalExit",
                      "WW_LOG_EXIT_CHILD_DIR=" + dir.path()),
              0);
    auto files = DDLogFileManagerDefault::create(dir.path())->sortedLogFilePaths();
    ASSERT_EQ(files.size(), 1u);
    std::string text = readFile(files[0]);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5000);
    EXPECT_TRUE(text.ends_with("  exit line 4999\n")) << text.substr(text.size() - 60);
}

TEST_F(FileLoggerTest, EightThreadsLoseAndReorderNothingAcrossRolledFiles) {
    auto counting = std::make_shared<CountingManager>(manager());
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
    EXPECT_EQ(counting->m->unsortedLogFileNames().size(), files.size());
    std::vector<int> next(kThreads, 0);
    size_t total = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        std::string text = readFile(files[f]->filePath());
        if (f + 1 < files.size()) {
            EXPECT_GE(text.size(), 1024u * 1024u);
            EXPECT_TRUE(files[f]->isArchived());
        }
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            ASSERT_NE(end, std::string::npos) << "partial line in " << files[f]->fileName();
            // "yyyy/MM/dd HH:mm:ss:SSS  T<t> <k>"
            size_t mark = text.find("  T", pos);
            ASSERT_LT(mark, end);
            int t = 0, k = 0;
            ASSERT_EQ(std::sscanf(text.c_str() + mark + 3, "%d %d", &t, &k), 2);
            ASSERT_TRUE(t >= 0 && t < kThreads);
            ASSERT_EQ(k, next[t]) << "thread " << t << " out of order in " << files[f]->fileName();
            ++next[t];
            ++total;
            pos = end + 1;
        }
    }
    EXPECT_EQ(total, size_t(kThreads) * kLines);
}

TEST_F(FileLoggerTest, FailedAppendsDoNotStopLaterLinesAndLeaveNoTornLine) {
    auto fs = std::make_shared<SteeredFileSystem>();
    auto m = manager(DDLogClock::system(), fs);
    auto logger = DDFileLogger::create(m, DDLogClock::system(), fs);
    logger->setLogFormatter(std::make_shared<PlainFormatter>());
    DDLog::addLogger(logger);
    WWLogError("before the disk filled up");
    // The next batch gets 5 bytes out, then the disk is full for a while.
    fs->partialBytes = 5;
    fs->failingWrites = 3;
    ::testing::internal::CaptureStderr();
    WWLogError("lost one");
    WWLogError("lost two");
    WWLogError("lost three");
    std::string failed = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(failed.find("DDFileLogger: Error appending to log file"), std::string::npos);
    EXPECT_NE(failed.find("No space left on device"), std::string::npos);
    EXPECT_EQ(fs->failingWrites.load(), 0);
    ::testing::internal::CaptureStderr();
    WWLogError("after space returned");
    WWLogInfo("and more");
    DDLog::flushLog();
    std::string recovered = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(recovered.find("again; 3 lines lost"), std::string::npos) << recovered;
    EXPECT_EQ(readFile(m->sortedLogFilePaths().front()),
              "before the disk filled up\nafter space returned\nand more\n");
    EXPECT_EQ(m->unsortedLogFileNames().size(), 1u) << "a full disk keeps the current file";
}

TEST_F(FileLoggerTest, OtherAppendErrorsMoveLoggingToANewFile) {
    auto fs = std::make_shared<SteeredFileSystem>();
    auto m = manager(DDLogClock::system(), fs);
    auto logger = DDFileLogger::create(m, DDLogClock::system(), fs);
    logger->setLogFormatter(std::make_shared<PlainFormatter>());
    DDLog::addLogger(logger);
    WWLogError("first file");
    std::string first = currentPath(logger);
    fs->writeErrno = EIO;
    fs->failingWrites = 1;
    ::testing::internal::CaptureStderr();
    WWLogError("lost");
    WWLogError("second file");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Input/output error"), std::string::npos) << err;
    EXPECT_EQ(readFile(first), "first file\n");
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
    EXPECT_NE(readFile(current).find("still logged"), std::string::npos);
}

TEST_F(FileLoggerTest, FullTmpfsStopsNothingOnceSpaceReturns) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    TempDir mountPoint;
    if (::mount("tmpfs", mountPoint.path().c_str(), "tmpfs", 0, "size=256k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint.path()};

    std::string logs = mountPoint.path() + "/logs";
    auto m = DDLogFileManagerDefault::create(logs);
    auto logger = DDFileLogger::create(m);
    logger->setLogFormatter(std::make_shared<PlainFormatter>());
    logger->setMaximumFileSize(0);
    DDLog::addLogger(logger);
    WWLogError("first");
    // Fill the rest of the file system.
    std::string filler = mountPoint.path() + "/filler";
    {
        std::ofstream out(filler, std::ios::binary);
        std::string block(4096, 'f');
        for (int k = 0; k < 100 && out; ++k) out.write(block.data(), block.size());
    }
    ::testing::internal::CaptureStderr();
    for (int k = 0; k < 200; ++k) WWLogError("while full %03d ..........................", k);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("No space left on device"), std::string::npos) << err;
    ::unlink(filler.c_str());
    ::testing::internal::CaptureStderr();
    WWLogError("after space returned");
    DDLog::flushLog();
    ::testing::internal::GetCapturedStderr();

    ASSERT_EQ(m->unsortedLogFileNames().size(), 1u) << "a full disk keeps the current file";
    std::string all = readFile(m->sortedLogFilePaths().front());
    EXPECT_EQ(all.rfind("first\n", 0), 0u);
    EXPECT_NE(all.find("after space returned\n"), std::string::npos);
    // Every line in the file is whole.
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = all.substr(pos, end - pos);
        EXPECT_TRUE(line == "first" || line == "after space returned" ||
                    testing::matchesShape(line, "while full ### ..........................*"))
            << line;
        pos = end + 1;
    }
    testing::resetLogCore();  // the roll on removal still needs the mount
}

TEST_F(FileLoggerTest, FileInfoKeepsWhatItReadAndDescribesItself) {
    auto m = stampedManager();
    std::string path = m->createNewLogFile();
    DDLogFileInfo info(path, m_stampedClock, m_stampedFs);
    EXPECT_EQ(info.fileName(), path.substr(path.rfind('/') + 1));
    EXPECT_EQ(info.fileSize(), 0u);
    writeFile(path, "12345");
    EXPECT_EQ(info.fileSize(), 5u) << "a size of 0 is read again";
    writeFile(path, "1234567890");
    EXPECT_EQ(info.fileSize(), 5u) << "a read size is kept";
    std::string d = info.description();
    for (const char* key : {"filePath", "fileName", "fileAttributes", "creationDate",
                            "modificationDate", "fileSize", "age", "isArchived"}) {
        EXPECT_NE(d.find(std::string(key) + " = "), std::string::npos) << key;
    }
    DDLogFileInfo same(path, m_stampedClock, m_stampedFs);
    EXPECT_TRUE(info.isEqual(same));
    EXPECT_EQ(info.reverseCompareByCreationDate(same), 0);
    std::string newer = m->createNewLogFile();
    DDLogFileInfo newerInfo(newer, m_stampedClock, m_stampedFs);
    EXPECT_EQ(newerInfo.reverseCompareByCreationDate(info), -1);
    EXPECT_EQ(info.reverseCompareByCreationDate(newerInfo), 1);

    info.setIsArchived(true);
    info.renameFile("log-0A0B0C.txt");
    EXPECT_EQ(info.filePath(), m_dir.path() + "/log-0A0B0C.txt");
    EXPECT_EQ(info.fileName(), "log-0A0B0C.txt");
    EXPECT_TRUE(info.isArchived());
    ::testing::internal::CaptureStderr();
    info.renameFile("missing/log-0D0E0F.txt");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("DDLogFileInfo: Error renaming file (log-0A0B0C.txt): "), std::string::npos);
    EXPECT_EQ(info.filePath(), m_dir.path() + "/missing/log-0D0E0F.txt");
}

}  // namespace
}  // namespace ww
