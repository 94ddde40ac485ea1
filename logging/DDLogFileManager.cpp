#include "logging/DDLogFileManager.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "logging/DDConsoleLog.h"
#include "logging/DDLog.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/ProcessInfo.h"

namespace ww {

namespace {

bool isUpperHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

}  // namespace

std::shared_ptr<DDLogFileManagerDefault> DDLogFileManagerDefault::create(
    std::optional<std::string> logsDirectory, DDLogClockPtr clock, DDLogFileSystemPtr fileSystem) {
    return std::shared_ptr<DDLogFileManagerDefault>(new DDLogFileManagerDefault(
        logsDirectory ? std::move(*logsDirectory) : defaultLogsDirectory(),
        clock ? std::move(clock) : DDLogClock::system(),
        fileSystem ? std::move(fileSystem) : DDLogFileSystem::standard()));
}

DDLogFileManagerDefault::DDLogFileManagerDefault(std::string logsDirectory, DDLogClockPtr clock,
                                                 DDLogFileSystemPtr fileSystem)
    : m_logsDirectory(std::move(logsDirectory)),
      m_clock(std::move(clock)),
      m_fileSystem(std::move(fileSystem)),
      m_random(std::random_device{}()) {}

std::string DDLogFileManagerDefault::defaultLogsDirectory() {
    std::string base;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome == '/') {
        base = dataHome;
    } else if (home && *home) {
        base = std::string(home) + "/.local/share";
    } else {
        const char* tmp = std::getenv("TMPDIR");
        base = tmp && *tmp ? tmp : "/tmp";
    }
    return base + "/Logs/" + process::processName();
}

bool DDLogFileManagerDefault::isLogFile(const std::string& fileName) {
    if (fileName.size() < 10 || fileName.compare(0, 4, "log-") != 0) return false;
    return std::all_of(fileName.begin() + 4, fileName.begin() + 10, isUpperHexDigit);
}

std::string DDLogFileManagerDefault::logsDirectory() {
    struct stat st {};
    if (::lstat(m_logsDirectory.c_str(), &st) != 0) {
        // The default permissions: what the umask leaves of 0777.
        std::string why;
        if (!file::makeDirectories(m_logsDirectory, &why, 0777)) {
            DDConsoleLog(ww::format("DDFileLogManagerDefault: Error creating logsDirectory: %@", why));
        }
    }
    return m_logsDirectory;
}

std::vector<std::string> DDLogFileManagerDefault::unsortedLogFileNames() {
    std::vector<std::string> names;
    DIR* dir = ::opendir(logsDirectory().c_str());
    if (!dir) return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (isLogFile(name)) names.push_back(std::move(name));
    }
    ::closedir(dir);
    return names;
}

std::vector<std::string> DDLogFileManagerDefault::unsortedLogFilePaths() {
    std::vector<std::string> paths;
    for (const auto& name : unsortedLogFileNames()) paths.push_back(m_logsDirectory + "/" + name);
    return paths;
}

std::vector<DDLogFileInfoPtr> DDLogFileManagerDefault::unsortedLogFileInfos() {
    std::vector<DDLogFileInfoPtr> infos;
    for (auto& path : unsortedLogFilePaths()) {
        infos.push_back(DDLogFileInfo::logFileWithPath(std::move(path), m_clock, m_fileSystem));
    }
    return infos;
}

std::vector<DDLogFileInfoPtr> DDLogFileManagerDefault::sortedLogFileInfos() {
    auto infos = unsortedLogFileInfos();
    // Birth times come from a coarse kernel clock, so files made within a few
    // milliseconds of each other can share one: the later-written file is
    // then taken as the newer.
    std::stable_sort(infos.begin(), infos.end(), [](const auto& a, const auto& b) {
        int order = a->reverseCompareByCreationDate(*b);
        if (order == 0) order = a->reverseCompareByModificationDate(*b);
        return order < 0;
    });
    return infos;
}

std::vector<std::string> DDLogFileManagerDefault::sortedLogFilePaths() {
    std::vector<std::string> paths;
    for (const auto& info : sortedLogFileInfos()) paths.push_back(info->filePath());
    return paths;
}

std::vector<std::string> DDLogFileManagerDefault::sortedLogFileNames() {
    std::vector<std::string> names;
    for (const auto& info : sortedLogFileInfos()) names.push_back(info->fileName());
    return names;
}

std::string DDLogFileManagerDefault::generateShortUUID() {
    // The first six digits of a random UUID are random bits.
    std::uint64_t bits;
    {
        std::lock_guard lock(m_randomMutex);
        bits = m_random();
    }
    return ww::format("%06lX", static_cast<unsigned long>(bits & 0xFFFFFF));
}

std::string DDLogFileManagerDefault::createNewLogFile() {
    std::string dir = logsDirectory();
    for (;;) {
        std::string path = dir + "/" + ww::format("log-%@.txt", generateShortUUID());
        // O_EXCL makes "exists, try another name" free of races.
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd >= 0) {
            ::close(fd);
            DDLogFileStat st;
            if (m_fileSystem->stat(path, &st) == 0 && !st.birthDate) {
                DDLogFileInfo(path, m_clock, m_fileSystem).recordCreationDate(m_clock->now());
            }
        }
        deleteOldLogFiles();
        return path;
    }
}

void DDLogFileManagerDefault::deleteOldLogFiles() {
    std::uint64_t maxFiles = maximumNumberOfLogFiles();
    if (maxFiles == 0) return;
    auto infos = sortedLogFileInfos();
    // The newest file, while unarchived, is the one being written.
    if (!infos.empty() && !infos.front()->isArchived()) infos.erase(infos.begin());
    for (size_t k = static_cast<size_t>(std::min<std::uint64_t>(maxFiles, infos.size()));
         k < infos.size(); ++k) {
        DDLogFileInfo::removeLogFile(infos[k]->filePath());
    }
}

void DDLogFileManagerDefault::setMaximumNumberOfLogFiles(std::uint64_t count) {
    std::uint64_t old = m_maximumNumberOfLogFiles.exchange(count);
    if (old == count) return;
    std::weak_ptr<DDLogFileManagerDefault> weak = weak_from_this();
    DDLog::loggingQueue()->async([weak] {
        if (auto self = weak.lock()) self->deleteOldLogFiles();
    });
}

}  // namespace ww
