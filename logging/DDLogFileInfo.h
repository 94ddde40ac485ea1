#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "logging/DDLogClock.h"
#include "logging/DDLogFileSystem.h"

namespace ww {

// A view of one log file on disk. Name, attributes and dates are read on
// first use and kept; the size is read again while it is still 0. An info is
// used from one queue at a time and takes no locks.
//
// The archived mark is the extended attribute "user.wirewatch.log.archived".
// Where the file system refuses user attributes, a hidden sidecar file
// ".<name>.archived" beside the log file stands in for it: the log file keeps
// its name (so the name rule still accepts it) and the sidecar, whose name does
// not begin with "log-", never counts as a log file itself.
//
// The creation date is the file's birth time where the file system reports
// one. Elsewhere it is the moment recorded by `recordCreationDate` (attribute
// "user.wirewatch.log.created", or the sidecar ".<name>.created"), which the
// file manager writes when it creates a file; a file that has neither falls
// back to the earlier of its modification and status-change times.
class DDLogFileInfo {
  public:
    using TimePoint = std::chrono::system_clock::time_point;

    static constexpr const char* kArchivedAttributeName = "user.wirewatch.log.archived";
    static constexpr const char* kCreatedAttributeName = "user.wirewatch.log.created";

    explicit DDLogFileInfo(std::string filePath, DDLogClockPtr clock = DDLogClock::system(),
                           DDLogFileSystemPtr fileSystem = DDLogFileSystem::standard());
    static std::shared_ptr<DDLogFileInfo> logFileWithPath(
        std::string filePath, DDLogClockPtr clock = DDLogClock::system(),
        DDLogFileSystemPtr fileSystem = DDLogFileSystem::standard());

    const std::string& filePath() const { return m_filePath; }
    const std::string& fileName();
    // What the file system reported at first use; absent when the file could
    // not be examined.
    const std::optional<DDLogFileStat>& fileAttributes();
    TimePoint creationDate();
    TimePoint modificationDate();
    std::uint64_t fileSize();
    // Seconds since the creation date, by the injected clock.
    double age();

    bool isArchived();
    // Failures are reported on standard error; the file then stays as it was.
    void setIsArchived(bool flag);

    // Forgets the kept name, attributes and dates (not the size).
    void reset();
    // Moves the file to a new name in the same folder and takes the new path,
    // even when the move fails (the failure is reported on standard error).
    void renameFile(const std::string& newFileName);

    bool isEqual(const DDLogFileInfo& other) const { return m_filePath == other.m_filePath; }
    // Newest first: -1 when this one is newer, 1 when older, 0 when equal.
    int reverseCompareByCreationDate(DDLogFileInfo& other);
    int reverseCompareByModificationDate(DDLogFileInfo& other);

    std::string description();

    // Writes down the creation moment for file systems that report no birth time.
    void recordCreationDate(TimePoint when);

    // Deletes a log file together with the sidecar marks it may have.
    static void removeLogFile(const std::string& filePath);
    // The sidecar that stands for the attribute `suffix` ("archived", "created").
    static std::string sidecarPath(const std::string& filePath, const char* suffix);

  private:
    // Sets an attribute, falling back to the sidecar where attributes are
    // refused. Returns 0 or the errno value of the attribute call.
    int setMark(const char* attribute, const char* suffix, std::string_view value);
    std::optional<std::string> readMark(const char* attribute, const char* suffix);

    std::string m_filePath;
    DDLogClockPtr m_clock;
    DDLogFileSystemPtr m_fileSystem;
    std::optional<std::string> m_fileName;
    bool m_attributesRead = false;
    std::optional<DDLogFileStat> m_fileAttributes;
    std::optional<TimePoint> m_creationDate;
    std::optional<TimePoint> m_modificationDate;
    std::uint64_t m_fileSize = 0;
};

using DDLogFileInfoPtr = std::shared_ptr<DDLogFileInfo>;

// A date as the platform prints it: "2026-12-05 07:57:53 +0000" (UTC).
std::string describeDate(std::chrono::system_clock::time_point when);

}  // namespace ww
