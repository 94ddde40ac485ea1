#include "platform/foundation/FileUtil.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace ww::file {

namespace {

std::string errnoText(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

bool writeFully(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

std::string dirName(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool writeAtomically(const std::string& path, const std::string& bytes, mode_t mode,
                     std::string* error, bool durable) {
    std::random_device rd;
    std::string tmp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(rd());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        if (error) *error = errnoText(tmp, errno);
        return false;
    }
    bool ok = writeFully(fd, bytes.data(), bytes.size()) && (!durable || ::fsync(fd) == 0);
    int err = errno;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        if (ok) err = errno;
        ::unlink(tmp.c_str());
        if (error) *error = errnoText(path, err);
        return false;
    }
    if (!durable) return true;
    int dfd = ::open(dirName(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

std::optional<std::string> readAll(const std::string& path, std::string* error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = errnoText(path, errno);
        return std::nullopt;
    }
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (error) *error = errnoText(path, errno);
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

bool makeDirectories(const std::string& path, std::string* error, mode_t mode) {
    if (path.empty()) return false;
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (partial.empty()) continue;
        if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
            if (error) *error = errnoText(partial, errno);
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error) *error = errnoText(path, ENOTDIR);
        return false;
    }
    return true;
}

std::unique_ptr<FileLock> FileLock::acquire(const std::string& path, Wait wait, std::string* error,
                                            bool* busy) {
    if (busy) *busy = false;
    // Not O_TRUNC: the holder's content stays readable to those who wait.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        if (error) *error = errnoText(path, errno);
        return nullptr;
    }
    int how = LOCK_EX | (wait == Wait::Try ? LOCK_NB : 0);
    int rc;
    do {
        rc = ::flock(fd, how);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK && busy) *busy = true;
        if (error) *error = errnoText(path, err);
        return nullptr;
    }
    return std::unique_ptr<FileLock>(new FileLock(fd));
}

FileLock::~FileLock() { ::close(m_fd); }

bool FileLock::setContent(const std::string& text) {
    return ::ftruncate(m_fd, 0) == 0 && ::lseek(m_fd, 0, SEEK_SET) == 0 &&
           writeFully(m_fd, text.data(), text.size());
}

}  // namespace ww::file
