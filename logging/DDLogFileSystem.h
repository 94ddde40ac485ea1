#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ww {

// What the file system tells about one file.
struct DDLogFileStat {
    using TimePoint = std::chrono::system_clock::time_point;
    std::uint64_t size = 0;
    TimePoint modificationDate;
    TimePoint changeDate;
    // Absent where the file system does not report a birth time.
    std::optional<TimePoint> birthDate;
};

// The file-system calls of the file logger that tests need to steer: extended
// attributes (refused on some file systems), file times (birth time is not
// reported everywhere) and the append itself (a full disk). The default
// bodies are the real system calls.
class DDLogFileSystem {
  public:
    virtual ~DDLogFileSystem() = default;

    // Each returns 0 on success, else an errno value.
    virtual int stat(const std::string& path, DDLogFileStat* out);
    virtual int setExtendedAttribute(const std::string& path, const std::string& name,
                                     std::string_view value);
    // ENODATA when the file has no such attribute.
    virtual int getExtendedAttribute(const std::string& path, const std::string& name,
                                     std::string* value);
    virtual int removeExtendedAttribute(const std::string& path, const std::string& name);

    // One write(2): the bytes written, or -1 with errno set.
    virtual ssize_t write(int fd, const void* data, std::size_t size);

    static std::shared_ptr<DDLogFileSystem> standard();
};

using DDLogFileSystemPtr = std::shared_ptr<DDLogFileSystem>;

}  // namespace ww
