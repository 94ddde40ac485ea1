#include "discovery/ShellCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "logging/DDLog.h"
#include "platform/foundation/Text.h"

extern char** environ;

namespace ww {

namespace {

using Clock = std::chrono::steady_clock;

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    void reset(int fd = -1) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

  private:
    int m_fd = -1;
};

// A close-on-exec pipe whose ends are never 0, 1 or 2: dup2 onto the same
// number would keep the close-on-exec flag, and the child would lose that stream.
bool makePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    for (int& fd : fds) {
        if (fd < 3) {
            int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
            ::close(fd);
            fd = moved;
        }
    }
    readEnd.reset(fds[0]);
    writeEnd.reset(fds[1]);
    return fds[0] >= 0 && fds[1] >= 0;
}

class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&m_actions);
        posix_spawnattr_init(&m_attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&m_actions);
        posix_spawnattr_destroy(&m_attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    bool prepare(int stdinFd, int stdoutFd, int stderrFd) {
        sigset_t noSignals;
        sigset_t allSignals;
        sigemptyset(&noSignals);
        sigfillset(&allSignals);
        // Its own process group, so that a hung command can be killed with all
        // of its children; signals as a fresh program expects them (a parent
        // that ignores SIGPIPE must not pass that on).
        return posix_spawn_file_actions_adddup2(&m_actions, stdinFd, 0) == 0 &&
               posix_spawn_file_actions_adddup2(&m_actions, stdoutFd, 1) == 0 &&
               posix_spawn_file_actions_adddup2(&m_actions, stderrFd, 2) == 0 &&
               posix_spawn_file_actions_addclosefrom_np(&m_actions, 3) == 0 &&
               posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETPGROUP |
                                                           POSIX_SPAWN_SETSIGMASK |
                                                           POSIX_SPAWN_SETSIGDEF) == 0 &&
               posix_spawnattr_setpgroup(&m_attributes, 0) == 0 &&
               posix_spawnattr_setsigmask(&m_attributes, &noSignals) == 0 &&
               posix_spawnattr_setsigdefault(&m_attributes, &allSignals) == 0;
    }

    const posix_spawn_file_actions_t* actions() const { return &m_actions; }
    const posix_spawnattr_t* attributes() const { return &m_attributes; }

  private:
    posix_spawn_file_actions_t m_actions;
    posix_spawnattr_t m_attributes;
};

int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > 1'000'000 ? 1'000'000 : static_cast<int>(left);
}

void reap(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// Waits for the child to end, at most until the deadline. True when reaped.
bool reapBefore(pid_t pid, int pidFd, Clock::time_point deadline) {
    for (;;) {
        pid_t r = ::waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) return true;
        if (r < 0) continue;
        int wait = millisecondsUntil(deadline);
        if (wait == 0) return false;
        if (pidFd >= 0) {
            pollfd p{pidFd, POLLIN, 0};
            ::poll(&p, 1, wait);
        } else {
            // Without a process descriptor, look again shortly.
            ::poll(nullptr, 0, wait < 10 ? wait : 10);
        }
    }
}

// Reads whatever the descriptor has; false at end of file or on an error.
bool readSome(int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return true;
        return false;
    }
}

// Decodes what a command printed and logs its error text.
ShellCommandResult finish(std::string outBytes, std::string errBytes, const char* callerName,
                          ShellCommandResult result) {
    result.output = text::decodeUtf8(std::move(outBytes));
    result.error = text::decodeUtf8(std::move(errBytes));
    if (result.error && !result.error->empty()) {
        WWLogInfoIn(callerName, "error is %@", *result.error);
    }
    return result;
}

}  // namespace

ShellCommandResult runShellCommand(std::string_view commandLine, const char* callerName,
                                   std::chrono::milliseconds timeLimit) {
    ShellCommandResult result;
    // The shell gets a C string: a NUL would silently cut the line short and run
    // something other than what was asked.
    if (commandLine.find('\0') != std::string_view::npos) {
        WWLogInfoIn(callerName, "refusing to run a command line that contains a NUL byte");
        return result;
    }

    UniqueFd inRead, inWrite, outRead, outWrite, errRead, errWrite;
    SpawnSetup setup;
    if (!makePipe(inRead, inWrite) || !makePipe(outRead, outWrite) ||
        !makePipe(errRead, errWrite) ||
        !setup.prepare(inRead.get(), outWrite.get(), errWrite.get())) {
        WWLogInfoIn(callerName, "could not prepare to run %@: %@", std::string(commandLine),
                    std::strerror(errno));
        return result;
    }

    std::string line(commandLine);
    char shell[] = "/bin/sh";
    char dashC[] = "-c";
    char* argv[] = {shell, dashC, line.data(), nullptr};
    pid_t pid = -1;
    int spawnError = ::posix_spawn(&pid, shell, setup.actions(), setup.attributes(), argv, environ);
    if (spawnError != 0) {
        WWLogInfoIn(callerName, "could not run %@: %@", line, std::strerror(spawnError));
        return result;
    }
    const auto deadline = Clock::now() + timeLimit;
    // Taken before anything can reap the child, so it names this very process.
    // (Through syscall: glibc 2.36's header declares pidfd_open without C linkage.)
    UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));

    // Only the child keeps these: end of file comes when the child's side closes.
    // Nothing is ever written to standard input; closing it at once gives a
    // reading child end of file instead of a wait that never ends.
    inRead.reset();
    inWrite.reset();
    outWrite.reset();
    errWrite.reset();
    ::fcntl(outRead.get(), F_SETFL, O_NONBLOCK);
    ::fcntl(errRead.get(), F_SETFL, O_NONBLOCK);

    std::string outBytes, errBytes;
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        int wait = millisecondsUntil(deadline);
        if (wait == 0) {
            result.timedOut = true;
            break;
        }
        pollfd fds[2];
        nfds_t count = 0;
        if (outOpen) fds[count++] = {outRead.get(), POLLIN, 0};
        if (errOpen) fds[count++] = {errRead.get(), POLLIN, 0};
        int ready = ::poll(fds, count, wait);
        if (ready < 0 && errno != EINTR) break;
        for (nfds_t i = 0; ready > 0 && i < count; ++i) {
            if (fds[i].revents == 0) continue;
            bool isOut = fds[i].fd == outRead.get();
            if (!readSome(fds[i].fd, isOut ? outBytes : errBytes))
                (isOut ? outOpen : errOpen) = false;
        }
    }

    if (!result.timedOut && !reapBefore(pid, pidFd.get(), deadline)) result.timedOut = true;
    if (result.timedOut) {
        // The group id is the child's pid, which stays reserved until the reap below.
        ::kill(-pid, SIGKILL);
        reap(pid);
        WWLogInfoIn(callerName, "command did not finish within %lld ms and was stopped: %@",
                    static_cast<long long>(timeLimit.count()), line);
    }

    return finish(std::move(outBytes), std::move(errBytes), callerName, std::move(result));
}

ShellCommandResult runShellCommand(std::string_view commandLine, const char* callerName,
                                   const BuiltInCommands* builtIns,
                                   std::chrono::milliseconds timeLimit) {
    if (builtIns) {
        if (const BuiltInCommands::Command* command = builtIns->find(commandLine)) {
            BuiltInOutput out = (*command)();
            return finish(std::move(out.output), std::move(out.error), callerName, {});
        }
    }
    return runShellCommand(commandLine, callerName, timeLimit);
}

}  // namespace ww
