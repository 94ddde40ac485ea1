#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "logging/DDLogClock.h"
#include "logging/DDLogFileFormatterDefault.h"
#include "logging/DDLogFileInfo.h"
#include "logging/DDLogFileManager.h"
#include "logging/DDLogFileSystem.h"
#include "logging/DDLogger.h"
#include "platform/dispatch/Timer.h"

namespace ww {

// Appends every formatted line to the current log file and starts a new file
// when the current one reaches `maximumFileSize` bytes or `rollingFrequency`
// seconds of age; rolled files are marked archived. A restart continues the
// newest unarchived file while it is within both limits.
//
// Lines are gathered in a buffer and handed to the kernel at the end of each
// run of messages (the core's logBatchDidEnd), on flush, on a roll and when
// the buffer is full, so a synchronous line has been written when its log call
// returns. A failed append (a full disk) loses the lines it carried, leaves
// no partial line behind, and does not stop later ones: they go to the same
// file once there is room again, or to a new file after other errors.
class DDFileLogger : public DDAbstractLogger {
  public:
    static constexpr std::uint64_t kDefaultLogMaxFileSize = 1024 * 1024;
    static constexpr double kDefaultLogRollingFrequency = 60 * 60 * 24;
    static constexpr std::size_t kWriteBufferSize = 64 * 1024;

    // No manager means a DDLogFileManagerDefault in the default folder.
    static std::shared_ptr<DDFileLogger> create(
        DDLogFileManagerPtr logFileManager = nullptr, DDLogClockPtr clock = DDLogClock::system(),
        DDLogFileSystemPtr fileSystem = DDLogFileSystem::standard());
    ~DDFileLogger() override;

    const DDLogFileManagerPtr& logFileManager() const { return m_logFileManager; }

    // Getters wait on the logging queue and then on the logger's queue: never
    // call them from either. Setters are queued the same way and return at once.
    std::uint64_t maximumFileSize();
    void setMaximumFileSize(std::uint64_t bytes);
    double rollingFrequency();
    void setRollingFrequency(double seconds);

    // Closes the current file now (on the logger's queue: at once; elsewhere
    // queued behind the messages already logged).
    void rollLogFile();

    void logMessage(const DDLogMessage& message) override;
    void willRemoveLogger() override;
    void flush() override;
    void logBatchDidEnd() override;

    // ---- On the logger's queue only ----
    // The file being written, choosing or creating one when there is none.
    DDLogFileInfoPtr currentLogFileInfo();
    // The open descriptor, opening the current file when none is; -1 when no
    // file could be opened (the next message tries again).
    int currentLogFileHandle();
    void rollLogFileNow();
    void maybeRollLogFileDueToAge();
    void maybeRollLogFileDueToSize();
    void scheduleTimerToRollLogFileDueToAge();

  protected:
    DDFileLogger(DDLogFileManagerPtr logFileManager, DDLogClockPtr clock,
                 DDLogFileSystemPtr fileSystem);

  private:
    // Hands the buffer to the kernel; on failure keeps the file ending in a
    // whole line.
    void writeBuffer();
    void closeFile();
    std::uint64_t writePosition() const { return m_filePosition + m_buffer.size(); }

    DDLogFileManagerPtr m_logFileManager;
    DDLogClockPtr m_clock;
    DDLogFileSystemPtr m_fileSystem;

    // Logger's queue only.
    DDLogFileInfoPtr m_currentLogFileInfo;
    int m_currentLogFileHandle = -1;
    dispatch::TimerPtr m_rollingTimer;
    std::uint64_t m_maximumFileSize = kDefaultLogMaxFileSize;
    double m_rollingFrequency = kDefaultLogRollingFrequency;
    std::string m_buffer;
    std::uint64_t m_filePosition = 0;  // bytes in the file, not counting the buffer
    bool m_appendFailing = false;
    std::uint64_t m_linesLost = 0;
    // Rolled files are flushed to disk and closed here, off the logging path
    // (an fsync takes milliseconds); flush() waits for it.
    dispatch::QueuePtr m_closer;
};

}  // namespace ww
