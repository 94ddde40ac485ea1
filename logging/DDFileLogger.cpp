#include "logging/DDFileLogger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "logging/DDConsoleLog.h"
#include "logging/DDLog.h"
#include "platform/foundation/Format.h"

namespace ww {

std::shared_ptr<DDFileLogger> DDFileLogger::create(DDLogFileManagerPtr logFileManager,
                                                   DDLogClockPtr clock,
                                                   DDLogFileSystemPtr fileSystem) {
    if (!clock) clock = DDLogClock::system();
    if (!fileSystem) fileSystem = DDLogFileSystem::standard();
    if (!logFileManager)
        logFileManager = DDLogFileManagerDefault::create(std::nullopt, clock, fileSystem);
    return std::shared_ptr<DDFileLogger>(
        new DDFileLogger(std::move(logFileManager), std::move(clock), std::move(fileSystem)));
}

DDFileLogger::DDFileLogger(DDLogFileManagerPtr logFileManager, DDLogClockPtr clock,
                           DDLogFileSystemPtr fileSystem)
    : DDAbstractLogger("wirewatch.logging.fileLogger",
                       std::make_shared<DDLogFileFormatterDefault>()),
      m_logFileManager(std::move(logFileManager)),
      m_clock(std::move(clock)),
      m_fileSystem(std::move(fileSystem)) {
    m_buffer.reserve(kWriteBufferSize + 4096);
}

DDFileLogger::~DDFileLogger() {
    if (m_rollingTimer) m_rollingTimer->cancel();
    if (m_currentLogFileHandle >= 0) {
        writeBuffer();
        if (m_currentLogFileHandle >= 0) {
            ::fsync(m_currentLogFileHandle);
            closeFile();
        }
    }
}

// ---- settings ------------------------------------------------------------------------------

std::uint64_t DDFileLogger::maximumFileSize() {
    std::uint64_t result = 0;
    auto queue = loggerQueue();
    DDLog::loggingQueue()->sync([&] { queue->sync([&] { result = m_maximumFileSize; }); });
    return result;
}

double DDFileLogger::rollingFrequency() {
    double result = 0;
    auto queue = loggerQueue();
    DDLog::loggingQueue()->sync([&] { queue->sync([&] { result = m_rollingFrequency; }); });
    return result;
}

void DDFileLogger::setMaximumFileSize(std::uint64_t bytes) {
    std::weak_ptr<DDAbstractLogger> weak = weak_from_this();
    auto queue = loggerQueue();
    DDLog::loggingQueue()->async([weak, queue, bytes] {
        queue->async([weak, bytes] {
            auto self = std::static_pointer_cast<DDFileLogger>(weak.lock());
            if (!self) return;
            self->m_maximumFileSize = bytes;
            self->maybeRollLogFileDueToSize();
        });
    });
}

void DDFileLogger::setRollingFrequency(double seconds) {
    std::weak_ptr<DDAbstractLogger> weak = weak_from_this();
    auto queue = loggerQueue();
    DDLog::loggingQueue()->async([weak, queue, seconds] {
        queue->async([weak, seconds] {
            auto self = std::static_pointer_cast<DDFileLogger>(weak.lock());
            if (!self) return;
            self->m_rollingFrequency = seconds;
            self->maybeRollLogFileDueToAge();
        });
    });
}

void DDFileLogger::rollLogFile() {
    if (isOnInternalLoggerQueue()) {
        rollLogFileNow();
        return;
    }
    std::weak_ptr<DDAbstractLogger> weak = weak_from_this();
    auto queue = loggerQueue();
    DDLog::loggingQueue()->async([weak, queue] {
        queue->async([weak] {
            if (auto self = std::static_pointer_cast<DDFileLogger>(weak.lock())) {
                self->rollLogFileNow();
            }
        });
    });
}

// ---- writing -------------------------------------------------------------------------------

void DDFileLogger::logMessage(const DDLogMessage& message) {
    const auto& formatter = formatterOnQueue();
    // The line is formatted straight into the write buffer.
    const std::size_t mark = m_buffer.size();
    if (formatter) {
        if (!formatter->appendFormatted(message, m_buffer)) return;
    } else {
        m_buffer += message.logMsg();
    }
    if (currentLogFileHandle() < 0) {  // lost; the next message tries again
        m_buffer.resize(mark);
        return;
    }
    if (m_buffer.size() == mark || m_buffer.back() != '\n') m_buffer += '\n';
    if (m_buffer.size() >= kWriteBufferSize) writeBuffer();
    maybeRollLogFileDueToSize();
}

void DDFileLogger::logBatchDidEnd() { writeBuffer(); }

void DDFileLogger::flush() {
    writeBuffer();
    // Every rolled file is on disk and closed.
    if (m_closer) m_closer->sync([] {});
}

void DDFileLogger::willRemoveLogger() { rollLogFileNow(); }

void DDFileLogger::writeBuffer() {
    if (m_buffer.empty()) return;
    if (m_currentLogFileHandle < 0) {
        m_buffer.clear();
        return;
    }
    std::size_t done = 0;
    int err = 0;
    while (done < m_buffer.size()) {
        ssize_t n = m_fileSystem->write(m_currentLogFileHandle, m_buffer.data() + done,
                                        m_buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (err == 0) {
        m_filePosition += done;
        m_buffer.clear();
        if (m_appendFailing) {
            m_appendFailing = false;
            DDConsoleLog(
                ww::format("DDFileLogger: Appending to log file (%@) again; %lu lines lost",
                           m_currentLogFileInfo ? m_currentLogFileInfo->fileName() : "",
                           static_cast<unsigned long>(m_linesLost)));
            m_linesLost = 0;
        }
        return;
    }

    // Keep the file ending in a whole line: cut a partly written line off, so
    // that the lines written after the failure start on a line of their own.
    std::string_view written(m_buffer.data(), done);
    std::size_t keep = written.rfind('\n');
    keep = keep == std::string_view::npos ? 0 : keep + 1;
    if (keep < done &&
        ::ftruncate(m_currentLogFileHandle, static_cast<off_t>(m_filePosition + keep)) != 0) {
        keep = done;  // could not cut; the line stays partial rather than lost track of
    }
    m_filePosition += keep;
    m_linesLost += static_cast<std::uint64_t>(
        std::count(m_buffer.begin() + static_cast<std::ptrdiff_t>(keep), m_buffer.end(), '\n'));
    m_buffer.clear();
    if (!m_appendFailing) {
        m_appendFailing = true;
        DDConsoleLog(ww::format("DDFileLogger: Error appending to log file (%@): %s",
                                m_currentLogFileInfo ? m_currentLogFileInfo->fileName() : "",
                                std::strerror(err)));
    }
    // Out of space: the same file takes lines again once there is room.
    // Anything else may be wrong with this file: start a new one.
    if (err != ENOSPC && err != EDQUOT) rollLogFileNow();
}

void DDFileLogger::closeFile() {
    ::close(m_currentLogFileHandle);
    m_currentLogFileHandle = -1;
    m_filePosition = 0;
}

// ---- the current file ----------------------------------------------------------------------

DDLogFileInfoPtr DDFileLogger::currentLogFileInfo() {
    if (m_currentLogFileInfo) return m_currentLogFileInfo;
    auto sorted = m_logFileManager->sortedLogFileInfos();
    if (!sorted.empty()) {
        const DDLogFileInfoPtr& newest = sorted.front();
        if (!newest->isArchived()) {
            bool tooBig = m_maximumFileSize > 0 && newest->fileSize() >= m_maximumFileSize;
            bool tooOld = m_rollingFrequency > 0 && newest->age() >= m_rollingFrequency;
            if (tooBig || tooOld) {
                newest->setIsArchived(true);
                m_logFileManager->didArchiveLogFile(newest->filePath());
            } else {
                m_currentLogFileInfo = newest;
            }
        }
    }
    if (!m_currentLogFileInfo) {
        m_currentLogFileInfo = DDLogFileInfo::logFileWithPath(m_logFileManager->createNewLogFile(),
                                                              m_clock, m_fileSystem);
    }
    return m_currentLogFileInfo;
}

int DDFileLogger::currentLogFileHandle() {
    if (m_currentLogFileHandle >= 0) return m_currentLogFileHandle;
    for (int attempt = 0; attempt < 2; ++attempt) {
        DDLogFileInfoPtr info;
        if (attempt == 0) {
            info = currentLogFileInfo();
        } else {
            // The chosen file could not be opened (removed behind our back, or
            // not writable): a fresh file, rather than failing on it forever.
            info = DDLogFileInfo::logFileWithPath(m_logFileManager->createNewLogFile(), m_clock,
                                                  m_fileSystem);
            m_currentLogFileInfo = info;
        }
        int fd = ::open(info->filePath().c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st {};
            m_filePosition = ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
            m_currentLogFileHandle = fd;
            scheduleTimerToRollLogFileDueToAge();
            return fd;
        }
        m_currentLogFileInfo.reset();
    }
    return -1;
}

void DDFileLogger::rollLogFileNow() {
    if (m_currentLogFileHandle < 0) return;
    writeBuffer();
    if (m_currentLogFileHandle < 0) return;  // a failed write rolled already
    // Its lines are all written; to disk and closed in the background.
    if (!m_closer) m_closer = dispatch::SerialQueue::create("wirewatch.logging.fileCloser");
    m_closer->async([fd = m_currentLogFileHandle] {
        ::fsync(fd);
        ::close(fd);
    });
    m_currentLogFileHandle = -1;
    m_filePosition = 0;
    if (m_currentLogFileInfo) {
        std::string path = m_currentLogFileInfo->filePath();
        m_currentLogFileInfo->setIsArchived(true);
        m_logFileManager->didRollAndArchiveLogFile(path);
    }
    m_currentLogFileInfo.reset();
    if (m_rollingTimer) {
        m_rollingTimer->cancel();
        m_rollingTimer.reset();
    }
}

void DDFileLogger::maybeRollLogFileDueToSize() {
    if (m_maximumFileSize > 0 && m_currentLogFileHandle >= 0 &&
        writePosition() >= m_maximumFileSize) {
        rollLogFileNow();
    }
}

void DDFileLogger::maybeRollLogFileDueToAge() {
    if (m_rollingFrequency > 0 && m_currentLogFileInfo &&
        m_currentLogFileInfo->age() >= m_rollingFrequency) {
        rollLogFileNow();
    } else {
        scheduleTimerToRollLogFileDueToAge();
    }
}

void DDFileLogger::scheduleTimerToRollLogFileDueToAge() {
    if (m_rollingTimer) {
        m_rollingTimer->cancel();
        m_rollingTimer.reset();
    }
    if (!m_currentLogFileInfo || m_rollingFrequency <= 0) return;
    auto due = m_currentLogFileInfo->creationDate() +
               std::chrono::duration_cast<DDLogClock::TimePoint::duration>(
                   std::chrono::duration<double>(m_rollingFrequency));
    auto delay =
        std::chrono::duration_cast<dispatch::OneShotTimer::Clock::duration>(due - m_clock->now());
    std::weak_ptr<DDAbstractLogger> weak = weak_from_this();
    m_rollingTimer = dispatch::OneShotTimer::schedule(loggerQueue(), delay, [weak] {
        if (auto self = std::static_pointer_cast<DDFileLogger>(weak.lock())) {
            self->maybeRollLogFileDueToAge();
        }
    });
}

}  // namespace ww
