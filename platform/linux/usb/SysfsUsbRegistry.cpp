#include "platform/linux/usb/SysfsUsbRegistry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "platform/linux/usb/UsbDescriptors.h"

namespace ww::sysfs {

namespace {

// Attribute files are small; `descriptors` holds at most a few configurations
// of at most 64 KiB each.
constexpr std::size_t kMaxAttributeBytes = 4096;
constexpr std::size_t kMaxDescriptorBytes = 1 << 20;

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

  private:
    int m_fd;
};

UniqueFd openDirectoryAt(int dirfd, const char* name) {
    return UniqueFd(::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The file `name` below `dirfd`, at most `limit` bytes; nothing (errno set) when
// it cannot be opened or read. A symbolic link is not followed.
std::optional<std::string> readAt(int dirfd, const char* name, std::size_t limit) {
    UniqueFd fd(::openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    std::string bytes;
    char buffer[4096];
    while (bytes.size() < limit) {
        const ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, limit - bytes.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            const int saved = errno;
            fd.reset();
            errno = saved;
            return std::nullopt;
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

bool isRegularFileAt(int dirfd, const char* name) {
    struct stat st {};
    return ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

bool isDirectoryAt(int dirfd, const char* name) {
    struct stat st {};
    return ::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

// A directory's entry names, without "." and "..", in byte order.
std::vector<std::string> sortedEntries(int dirfd) {
    std::vector<std::string> names;
    // fdopendir takes over its descriptor, so it gets one of its own.
    const int own = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) return names;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        ::close(own);
        return names;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// "05ac\n" -> 0x05ac: one to four hexadecimal digits, then at most white space.
std::optional<std::uint16_t> parseHexNumber(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::size_t end = text->size();
    while (end > 0 && ((*text)[end - 1] == '\n' || (*text)[end - 1] == ' ')) --end;
    if (end == 0 || end > 4) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = 0; i < end; ++i) {
        const char c = (*text)[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = unsigned(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = unsigned(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = unsigned(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return static_cast<std::uint16_t>(value);
}

std::optional<UsbNumbers> readNumbers(int dirfd) {
    const auto vendor = parseHexNumber(readAt(dirfd, "idVendor", kMaxAttributeBytes));
    const auto product = parseHexNumber(readAt(dirfd, "idProduct", kMaxAttributeBytes));
    if (!vendor || !product) return std::nullopt;
    return UsbNumbers{*vendor, *product};
}

std::string readProductName(int dirfd) {
    std::optional<std::string> text = readAt(dirfd, "product", kMaxAttributeBytes);
    if (!text) return {};
    if (!text->empty() && text->back() == '\n') text->pop_back();
    return *text;
}

bool isUsbDevice(int dirfd) { return isRegularFileAt(dirfd, "idVendor"); }

// The first BSD-style name in the subtree of `dirfd`; see SysfsUsbRegistry.
class BsdNameSearch {
  public:
    explicit BsdNameSearch(int maxDirectories) : m_maxDirectories(maxDirectories) {}
    std::optional<std::string> run(int dirfd) { return search(dirfd, 0); }

  private:
    std::optional<std::string> search(int dirfd, int depth) {
        if (depth > SysfsUsbRegistry::kMaxSearchDepth) return std::nullopt;
        if (++m_visited > m_maxDirectories) return std::nullopt;
        for (const std::string& name : sortedEntries(dirfd)) {
            // Links (driver, subsystem, port, device, ...) lead out of the subtree.
            if (!isDirectoryAt(dirfd, name.c_str())) continue;
            UniqueFd child = openDirectoryAt(dirfd, name.c_str());
            if (!child.valid()) continue;
            if (name == "net" || name == "block") {
                for (const std::string& inner : sortedEntries(child.get())) {
                    if (isDirectoryAt(child.get(), inner.c_str())) return inner;
                }
                continue;
            }
            // A device hanging below (a hub's children) has names of its own.
            if (isUsbDevice(child.get())) continue;
            if (auto found = search(child.get(), depth + 1)) return found;
            if (m_visited > m_maxDirectories) return std::nullopt;
        }
        return std::nullopt;
    }

    int m_maxDirectories;
    int m_visited = 0;
};

std::optional<std::string> realPath(const std::string& path) {
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved)) return std::nullopt;
    return std::string(resolved);
}

bool isInside(const std::string& path, const std::string& root) {
    if (root == "/") return true;
    return path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
           path[root.size()] == '/';
}

// The real directory of the bus entry `id` below the (resolved) root, when it
// is a USB device and the entry's link stays inside the root.
std::optional<std::string> resolveDevice(const std::string& root, const std::string& id) {
    if (id.empty() || id.find('/') != std::string::npos || id == "." || id == "..") {
        return std::nullopt;
    }
    const std::optional<std::string> dir = realPath(root + "/bus/usb/devices/" + id);
    if (!dir || !isInside(*dir, root)) return std::nullopt;
    UniqueFd fd(::open(dir->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid() || !isUsbDevice(fd.get())) return std::nullopt;
    return dir;
}

class RealAttributeWriter final : public AttributeWriter {
  public:
    int writeAttribute(const std::string& path, std::string_view bytes) override {
        UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.valid()) return errno;
        ssize_t n;
        do {
            n = ::write(fd.get(), bytes.data(), bytes.size());
        } while (n < 0 && errno == EINTR);
        if (n < 0) return errno;
        // sysfs takes a value in one piece; a part of one is no value.
        if (static_cast<std::size_t>(n) != bytes.size()) return EIO;
        return 0;
    }
};

class SysfsUsbDevice final : public UsbDeviceInterface {
  public:
    SysfsUsbDevice(std::string directory, AttributeWriter& writer)
        : m_directory(std::move(directory)), m_writer(writer) {}

    std::optional<std::uint8_t> firstConfigurationValue(int* error) override {
        int ignored = 0;
        int& err = error ? *error : ignored;
        UniqueFd dir(::open(m_directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dir.valid()) {
            err = errno;
            return std::nullopt;
        }
        const std::optional<std::string> bytes =
            readAt(dir.get(), "descriptors", kMaxDescriptorBytes);
        if (!bytes) {
            err = errno;
            return std::nullopt;
        }
        const std::optional<std::uint8_t> value = configurationValueAt(*bytes, 0);
        if (!value) err = EIO;
        return value;
    }

    UsbResult setConfiguration(std::uint8_t value) override {
        const int rc =
            m_writer.writeAttribute(configurationTarget(), std::to_string(unsigned{value}) + "\n");
        if (rc == 0) return UsbResult::success();
        if (rc == EBUSY) return UsbResult::exclusiveAccess();
        return UsbResult::failed(rc);
    }

    std::string configurationTarget() const override {
        return m_directory + "/bConfigurationValue";
    }

  private:
    std::string m_directory;
    AttributeWriter& m_writer;
};

}  // namespace

AttributeWriter& AttributeWriter::real() {
    static RealAttributeWriter writer;
    return writer;
}

SysfsUsbRegistry::SysfsUsbRegistry(std::string root, AttributeWriter& writer,
                                   int maxSearchDirectories)
    : m_root(std::move(root)), m_writer(writer), m_maxSearchDirectories(maxSearchDirectories) {}

std::optional<std::string> SysfsUsbRegistry::deviceDirectory(const std::string& registryID) const {
    const std::optional<std::string> root = realPath(m_root);
    if (!root) return std::nullopt;
    return resolveDevice(*root, registryID);
}

std::vector<UsbDeviceEntry> SysfsUsbRegistry::devices() {
    std::vector<UsbDeviceEntry> result;
    const std::optional<std::string> root = realPath(m_root);
    if (!root) return result;
    UniqueFd bus(::open((*root + "/bus/usb/devices").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!bus.valid()) return result;

    for (const std::string& id : sortedEntries(bus.get())) {
        const std::optional<std::string> dir = resolveDevice(*root, id);
        if (!dir) continue;
        UniqueFd fd(::open(dir->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd.valid()) continue;
        UsbDeviceEntry entry;
        entry.registryID = id;
        entry.name = readProductName(fd.get());
        entry.numbers = readNumbers(fd.get());
        entry.bsdName = BsdNameSearch(m_maxSearchDirectories).run(fd.get());
        result.push_back(std::move(entry));
    }
    return result;
}

std::unique_ptr<UsbDeviceInterface> SysfsUsbRegistry::openDevice(const UsbDeviceEntry& device,
                                                                 UsbResult* result) {
    UsbResult ignored;
    UsbResult& out = result ? *result : ignored;
    const std::optional<std::string> dir = deviceDirectory(device.registryID);
    if (!dir) {
        out = UsbResult::failed(ENODEV);
        return nullptr;
    }
    UniqueFd fd(::open(dir->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Another device may have taken the bus position since it was listed.
    if (!fd.valid() || !device.numbers || readNumbers(fd.get()) != device.numbers) {
        out = UsbResult::failed(ENODEV);
        return nullptr;
    }
    if (!isRegularFileAt(fd.get(), "bConfigurationValue")) {
        out = UsbResult::failed(ENODEV);
        return nullptr;
    }
    out = UsbResult::success();
    return std::make_unique<SysfsUsbDevice>(*dir, m_writer);
}

}  // namespace ww::sysfs
