#include "platform/linux/netlink/HostResolver.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/foundation/Text.h"

extern char** environ;

namespace ww::netlink {

namespace {

// glibc 2.36 declares these without C linkage for C++; the system calls are
// the same everywhere.
int openPidFd(pid_t pid) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)); }
int signalPidFd(int pidFd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidFd, signal, nullptr, 0));
}

// A resolver prints a few lines per address; anything past this is not one.
constexpr std::size_t kMaxOutputBytes = 64 * 1024;

bool sameAddress(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family) return false;
    if (a.ss_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    }
    auto& a6 = reinterpret_cast<const sockaddr_in6&>(a);
    auto& b6 = reinterpret_cast<const sockaddr_in6&>(b);
    return std::memcmp(&a6.sin6_addr, &b6.sin6_addr, sizeof(in6_addr)) == 0 &&
           a6.sin6_scope_id == b6.sin6_scope_id;
}

std::optional<sockaddr_storage> parseAddress(std::string_view token) {
    if (token.empty() || token.size() >= INET6_ADDRSTRLEN) return std::nullopt;
    std::string text(token);
    sockaddr_storage storage{};
    auto* sin = reinterpret_cast<sockaddr_in*>(&storage);
    if (::inet_pton(AF_INET, text.c_str(), &sin->sin_addr) == 1) {
        sin->sin_family = AF_INET;
        return storage;
    }
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (::inet_pton(AF_INET6, text.c_str(), &sin6->sin6_addr) == 1) {
        sin6->sin6_family = AF_INET6;
        return storage;
    }
    return std::nullopt;
}

}  // namespace

AddressList parseResolverOutput(std::string_view output) {
    AddressList addresses;
    for (std::string_view line : text::split(output, '\n')) {
        std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos) continue;
        std::size_t end = line.find_first_of(" \t\r", start);
        auto address = parseAddress(line.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (!address) continue;
        bool seen = false;
        for (const auto& known : addresses) seen = seen || sameAddress(known, *address);
        if (seen) continue;
        addresses.push_back(*address);
        if (addresses.size() == kMaxResolvedAddresses) break;
    }
    return addresses;
}

bool sameAddresses(const AddressList& a, const AddressList& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!sameAddress(a[i], b[i])) return false;
    }
    return true;
}

bool isResolvableName(std::string_view name) {
    if (name.empty() || name.size() > 253 || name.front() == '-') return false;
    if (!text::isValidUtf8(name)) return false;
    for (unsigned char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.';
        if (!plain && c < 0x80) return false;  // blanks, controls, shell and path characters
    }
    return true;
}

std::unique_ptr<ResolverProcess> ResolverProcess::start(const std::vector<std::string>& command,
                                                        const std::string& name,
                                                        std::string& error) {
    if (command.empty()) {
        error = "no resolver command";
        return nullptr;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = std::string("pipe2: ") + std::strerror(errno);
        return nullptr;
    }
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);

    std::vector<std::string> arguments = command;
    arguments.push_back(name);
    std::vector<char*> argv;
    for (auto& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // Descriptors that other parts of the program opened without close-on-exec
    // are none of the resolver's business.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        error = "posix_spawnp(" + command.front() + "): " + std::strerror(spawned);
        return nullptr;
    }
    writeEnd.reset();
    int flags = ::fcntl(readEnd.get(), F_GETFL);
    ::fcntl(readEnd.get(), F_SETFL, flags | O_NONBLOCK);

    std::unique_ptr<ResolverProcess> process(new ResolverProcess());
    process->m_pid = pid;
    // A process handle makes the kill at the end safe even if the pid were
    // reaped elsewhere and reused; kernels without pidfds fall back to kill().
    process->m_pidFd.reset(openPidFd(pid));
    process->m_output = std::move(readEnd);
    process->m_startedAt = Clock::now();
    return process;
}

ResolverProcess::~ResolverProcess() { reap(); }

bool ResolverProcess::readAvailable() {
    if (m_ended) return true;
    char chunk[4096];
    for (;;) {
        ssize_t n = ::read(m_output.get(), chunk, sizeof(chunk));
        if (n > 0) {
            m_text.append(chunk, static_cast<std::size_t>(n));
            if (m_text.size() > kMaxOutputBytes) {
                m_ended = true;
                return true;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
        m_ended = true;  // end of output or a read error
        return true;
    }
}

std::optional<AddressList> ResolverProcess::finish() {
    readAvailable();
    // The output is complete (or cut off): the child has nothing more to say,
    // and one that lingers or is still writing must not hold us up.
    reap();
    AddressList addresses = parseResolverOutput(m_text);
    if (addresses.empty()) return std::nullopt;
    return addresses;
}

void ResolverProcess::reap() {
    if (m_pid <= 0) return;
    // Harmless for a child that already exited: it stays a zombie until reaped.
    if (m_pidFd) {
        signalPidFd(m_pidFd.get(), SIGKILL);
    } else {
        ::kill(m_pid, SIGKILL);
    }
    while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    m_pidFd.reset();
    m_output.reset();
}

std::optional<AddressList> ResolverProcess::resolveNow(const std::vector<std::string>& command,
                                                       const std::string& name,
                                                       std::chrono::milliseconds timeLimit) {
    std::string error;
    auto process = start(command, name, error);
    if (!process) return std::nullopt;
    auto deadline = process->startedAt() + timeLimit;
    while (!process->readAvailable()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;  // the destructor kills it
        pollfd p{process->fd(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left.count()) + 1);
    }
    return process->finish();
}

}  // namespace ww::netlink
