#include "logging/DDLogFileInfo.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>

#include "logging/DDConsoleLog.h"
#include "platform/foundation/Format.h"

namespace ww {

namespace {

bool refusesAttributes(int err) { return err == ENOTSUP || err == EOPNOTSUPP; }

std::int64_t toNanos(DDLogFileInfo::TimePoint t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

std::string describeDate(std::chrono::system_clock::time_point when) {
    std::time_t secs =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(when));
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S +0000", &tm);
    return buf;
}

DDLogFileInfo::DDLogFileInfo(std::string filePath, DDLogClockPtr clock,
                             DDLogFileSystemPtr fileSystem)
    : m_filePath(std::move(filePath)),
      m_clock(clock ? std::move(clock) : DDLogClock::system()),
      m_fileSystem(fileSystem ? std::move(fileSystem) : DDLogFileSystem::standard()) {}

std::shared_ptr<DDLogFileInfo> DDLogFileInfo::logFileWithPath(std::string filePath,
                                                              DDLogClockPtr clock,
                                                              DDLogFileSystemPtr fileSystem) {
    return std::make_shared<DDLogFileInfo>(std::move(filePath), std::move(clock),
                                           std::move(fileSystem));
}

const std::string& DDLogFileInfo::fileName() {
    if (!m_fileName) {
        size_t slash = m_filePath.rfind('/');
        m_fileName = slash == std::string::npos ? m_filePath : m_filePath.substr(slash + 1);
    }
    return *m_fileName;
}

const std::optional<DDLogFileStat>& DDLogFileInfo::fileAttributes() {
    if (!m_attributesRead) {
        DDLogFileStat st;
        if (m_fileSystem->stat(m_filePath, &st) == 0) m_fileAttributes = st;
        m_attributesRead = true;
    }
    return m_fileAttributes;
}

DDLogFileInfo::TimePoint DDLogFileInfo::creationDate() {
    if (!m_creationDate) {
        const auto& attrs = fileAttributes();
        if (attrs && attrs->birthDate) {
            m_creationDate = *attrs->birthDate;
        } else if (auto stamp = readMark(kCreatedAttributeName, "created")) {
            m_creationDate = TimePoint(std::chrono::duration_cast<TimePoint::duration>(
                std::chrono::nanoseconds(std::strtoll(stamp->c_str(), nullptr, 10))));
        } else if (attrs) {
            // Neither time moves backwards, and a log file is only appended to,
            // so the earlier of the two is the closest to its creation we know.
            m_creationDate = std::min(attrs->modificationDate, attrs->changeDate);
        } else {
            m_creationDate = TimePoint{};
        }
    }
    return *m_creationDate;
}

DDLogFileInfo::TimePoint DDLogFileInfo::modificationDate() {
    if (!m_modificationDate) {
        const auto& attrs = fileAttributes();
        m_modificationDate = attrs ? attrs->modificationDate : TimePoint{};
    }
    return *m_modificationDate;
}

std::uint64_t DDLogFileInfo::fileSize() {
    if (m_fileSize == 0) {
        DDLogFileStat st;
        if (m_fileSystem->stat(m_filePath, &st) == 0) m_fileSize = st.size;
    }
    return m_fileSize;
}

double DDLogFileInfo::age() {
    return std::chrono::duration<double>(m_clock->now() - creationDate()).count();
}

std::string DDLogFileInfo::sidecarPath(const std::string& filePath, const char* suffix) {
    size_t slash = filePath.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : filePath.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? filePath : filePath.substr(slash + 1);
    return dir + "." + name + "." + suffix;
}

int DDLogFileInfo::setMark(const char* attribute, const char* suffix, std::string_view value) {
    int err = m_fileSystem->setExtendedAttribute(m_filePath, attribute, value);
    if (err == 0 || !refusesAttributes(err)) return err;
    std::string sidecar = sidecarPath(m_filePath, suffix);
    int fd = ::open(sidecar.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    bool ok = value.empty() ||
              ::write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
    int writeErr = errno;
    ::close(fd);
    return ok ? 0 : writeErr;
}

std::optional<std::string> DDLogFileInfo::readMark(const char* attribute, const char* suffix) {
    std::string value;
    if (m_fileSystem->getExtendedAttribute(m_filePath, attribute, &value) == 0) return value;
    // A file may carry the sidecar even where attributes work, e.g. after a
    // move from a file system that refused them; both count.
    int fd = ::open(sidecarPath(m_filePath, suffix).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char buf[64];
    ssize_t n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

bool DDLogFileInfo::isArchived() {
    return readMark(kArchivedAttributeName, "archived").has_value();
}

void DDLogFileInfo::setIsArchived(bool flag) {
    if (flag) {
        int err = setMark(kArchivedAttributeName, "archived", "");
        if (err != 0) {
            DDConsoleLog(ww::format("DDLogFileInfo: setxattr(%@, %@): error = %i",
                                    kArchivedAttributeName, fileName(), err));
        }
        return;
    }
    int err = m_fileSystem->removeExtendedAttribute(m_filePath, kArchivedAttributeName);
    if (err != 0 && err != ENODATA && !refusesAttributes(err)) {
        DDConsoleLog(ww::format("DDLogFileInfo: removexattr(%@, %@): error = %i",
                                kArchivedAttributeName, fileName(), err));
    }
    if (::unlink(sidecarPath(m_filePath, "archived").c_str()) != 0 && errno != ENOENT) {
        DDConsoleLog(ww::format("DDLogFileInfo: removexattr(%@, %@): error = %i",
                                kArchivedAttributeName, fileName(), errno));
    }
}

void DDLogFileInfo::recordCreationDate(TimePoint when) {
    int err = setMark(kCreatedAttributeName, "created", std::to_string(toNanos(when)));
    if (err != 0) {
        DDConsoleLog(ww::format("DDLogFileInfo: setxattr(%@, %@): error = %i",
                                kCreatedAttributeName, fileName(), err));
    }
    m_creationDate.reset();
}

void DDLogFileInfo::removeLogFile(const std::string& filePath) {
    ::unlink(filePath.c_str());
    ::unlink(sidecarPath(filePath, "archived").c_str());
    ::unlink(sidecarPath(filePath, "created").c_str());
}

void DDLogFileInfo::reset() {
    m_fileName.reset();
    m_attributesRead = false;
    m_fileAttributes.reset();
    m_creationDate.reset();
    m_modificationDate.reset();
}

void DDLogFileInfo::renameFile(const std::string& newFileName) {
    size_t slash = m_filePath.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : m_filePath.substr(0, slash + 1);
    std::string newPath = dir + newFileName;
    if (::rename(m_filePath.c_str(), newPath.c_str()) != 0) {
        DDConsoleLog(ww::format("DDLogFileInfo: Error renaming file (%@): %@", fileName(),
                                std::strerror(errno)));
    } else {
        // The sidecar marks travel with the file.
        for (const char* suffix : {"archived", "created"}) {
            ::rename(sidecarPath(m_filePath, suffix).c_str(), sidecarPath(newPath, suffix).c_str());
        }
    }
    m_filePath = newPath;
    reset();
}

int DDLogFileInfo::reverseCompareByCreationDate(DDLogFileInfo& other) {
    TimePoint mine = creationDate();
    TimePoint theirs = other.creationDate();
    if (mine > theirs) return -1;
    if (mine < theirs) return 1;
    return 0;
}

int DDLogFileInfo::reverseCompareByModificationDate(DDLogFileInfo& other) {
    TimePoint mine = modificationDate();
    TimePoint theirs = other.modificationDate();
    if (mine > theirs) return -1;
    if (mine < theirs) return 1;
    return 0;
}

std::string DDLogFileInfo::description() {
    std::vector<std::pair<std::string, std::string>> attrs;
    if (const auto& a = fileAttributes()) {
        attrs.emplace_back("NSFileSize", std::to_string(a->size));
        attrs.emplace_back("NSFileModificationDate", describeDate(a->modificationDate));
        if (a->birthDate) attrs.emplace_back("NSFileCreationDate", describeDate(*a->birthDate));
    }
    std::vector<std::pair<std::string, std::string>> entries;
    entries.emplace_back("filePath", filePath());
    entries.emplace_back("fileName", fileName());
    entries.emplace_back("fileAttributes", describeTable(attrs));
    entries.emplace_back("creationDate", describeDate(creationDate()));
    entries.emplace_back("modificationDate", describeDate(modificationDate()));
    entries.emplace_back("fileSize", std::to_string(fileSize()));
    entries.emplace_back("age", ww::format("%f", age()));
    entries.emplace_back("isArchived", isArchived() ? "1" : "0");
    return describeTable(entries);
}

}  // namespace ww
