#include "logging/DDLogFileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>

#include "logging/DDLogClock.h"

namespace ww {

namespace {

DDLogFileStat::TimePoint toTimePoint(const struct statx_timestamp& ts) {
    using namespace std::chrono;
    return DDLogFileStat::TimePoint(
        duration_cast<system_clock::duration>(seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec)));
}

class SystemClock final : public DDLogClock {
  public:
    TimePoint now() const override { return std::chrono::system_clock::now(); }
};

}  // namespace

std::shared_ptr<DDLogClock> DDLogClock::system() {
    static const auto clock = std::make_shared<SystemClock>();
    return clock;
}

int DDLogFileSystem::stat(const std::string& path, DDLogFileStat* out) {
    struct statx st {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &st) != 0) {
        return errno;
    }
    out->size = st.stx_size;
    out->modificationDate = toTimePoint(st.stx_mtime);
    out->changeDate = toTimePoint(st.stx_ctime);
    if (st.stx_mask & STATX_BTIME) {
        out->birthDate = toTimePoint(st.stx_btime);
    } else {
        out->birthDate.reset();
    }
    return 0;
}

int DDLogFileSystem::setExtendedAttribute(const std::string& path, const std::string& name,
                                          std::string_view value) {
    return ::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0 ? 0 : errno;
}

int DDLogFileSystem::getExtendedAttribute(const std::string& path, const std::string& name,
                                          std::string* value) {
    char buf[256];
    ssize_t n = ::getxattr(path.c_str(), name.c_str(), buf, sizeof buf);
    if (n < 0) return errno;
    if (value) value->assign(buf, static_cast<std::size_t>(n));
    return 0;
}

int DDLogFileSystem::removeExtendedAttribute(const std::string& path, const std::string& name) {
    return ::removexattr(path.c_str(), name.c_str()) == 0 ? 0 : errno;
}

ssize_t DDLogFileSystem::write(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size);
}

std::shared_ptr<DDLogFileSystem> DDLogFileSystem::standard() {
    static const auto fs = std::make_shared<DDLogFileSystem>();
    return fs;
}

}  // namespace ww
