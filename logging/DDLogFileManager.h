#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "logging/DDLogClock.h"
#include "logging/DDLogFileInfo.h"
#include "logging/DDLogFileSystem.h"

namespace ww {

// Where log files live, how new ones are named, which files count as log
// files, and how many archived ones are kept.
class DDLogFileManager {
  public:
    virtual ~DDLogFileManager() = default;

    virtual std::string logsDirectory() = 0;
    virtual std::vector<std::string> unsortedLogFilePaths() = 0;
    virtual std::vector<std::string> unsortedLogFileNames() = 0;
    virtual std::vector<DDLogFileInfoPtr> unsortedLogFileInfos() = 0;
    virtual std::vector<std::string> sortedLogFilePaths() = 0;
    virtual std::vector<std::string> sortedLogFileNames() = 0;
    virtual std::vector<DDLogFileInfoPtr> sortedLogFileInfos() = 0;
    // The full path of a new, empty log file.
    virtual std::string createNewLogFile() = 0;
    virtual std::uint64_t maximumNumberOfLogFiles() = 0;
    virtual void setMaximumNumberOfLogFiles(std::uint64_t count) = 0;

    // Told when the file logger archives a file it did not roll itself (found
    // too big or too old at start) and when it rolls one.
    virtual void didArchiveLogFile(const std::string& /*logFilePath*/) {}
    virtual void didRollAndArchiveLogFile(const std::string& /*logFilePath*/) {}
};

using DDLogFileManagerPtr = std::shared_ptr<DDLogFileManager>;

// Log files are "log-XXXXXX.txt" in one folder, XXXXXX six upper-case
// hexadecimal digits. Beyond `maximumNumberOfLogFiles` (0: no limit) the
// oldest archived files are deleted whenever a new file is made or the limit
// changes. Safe to use from the logger's queue and the logging queue at once.
class DDLogFileManagerDefault : public DDLogFileManager,
                                public std::enable_shared_from_this<DDLogFileManagerDefault> {
  public:
    static constexpr std::uint64_t kDefaultLogMaxNumLogFiles = 5;

    // No directory means `defaultLogsDirectory`. The folder is made on first use.
    static std::shared_ptr<DDLogFileManagerDefault> create(
        std::optional<std::string> logsDirectory = std::nullopt,
        DDLogClockPtr clock = DDLogClock::system(),
        DDLogFileSystemPtr fileSystem = DDLogFileSystem::standard());

    // "Logs/<process name>" in the user's data folder ($XDG_DATA_HOME, else
    // ~/.local/share), or in the temporary folder when there is no home.
    static std::string defaultLogsDirectory();
    // The name rule: "log-", six upper-case hexadecimal digits, any rest.
    static bool isLogFile(const std::string& fileName);

    // Creates the folder when missing; a failure is reported on standard error
    // with "DDFileLogManagerDefault: Error creating logsDirectory: ..." and the
    // path is returned all the same.
    std::string logsDirectory() override;
    std::vector<std::string> unsortedLogFilePaths() override;
    std::vector<std::string> unsortedLogFileNames() override;
    std::vector<DDLogFileInfoPtr> unsortedLogFileInfos() override;
    std::vector<std::string> sortedLogFilePaths() override;
    std::vector<std::string> sortedLogFileNames() override;
    std::vector<DDLogFileInfoPtr> sortedLogFileInfos() override;

    std::string generateShortUUID();
    std::string createNewLogFile() override;
    void deleteOldLogFiles();

    std::uint64_t maximumNumberOfLogFiles() override { return m_maximumNumberOfLogFiles.load(); }
    // A different value runs deleteOldLogFiles on the logging queue.
    void setMaximumNumberOfLogFiles(std::uint64_t count) override;

    const DDLogClockPtr& clock() const { return m_clock; }
    const DDLogFileSystemPtr& fileSystem() const { return m_fileSystem; }

  protected:
    DDLogFileManagerDefault(std::string logsDirectory, DDLogClockPtr clock,
                            DDLogFileSystemPtr fileSystem);

  private:
    std::atomic<std::uint64_t> m_maximumNumberOfLogFiles{kDefaultLogMaxNumLogFiles};
    const std::string m_logsDirectory;
    DDLogClockPtr m_clock;
    DDLogFileSystemPtr m_fileSystem;
    std::mutex m_randomMutex;
    std::mt19937_64 m_random;
};

}  // namespace ww
