#pragma once

// Child processes for tests: a program started in the background with its own
// arguments, environment and output files, waits on a folder's changes, and a
// body run in several forked processes at once (for locks between processes).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ww::test {

// Waits on changes in one folder (files created, written, renamed into it),
// re-checking a condition after each; also re-checks every `recheck` for
// conditions that no file change announces.
class FolderWatch {
  public:
    explicit FolderWatch(const std::string& folder) {
        m_fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (m_fd >= 0) {
            ::inotify_add_watch(m_fd, folder.c_str(),
                                IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
        }
    }
    ~FolderWatch() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // True as soon as `condition` holds; false when `deadline` passed first.
    bool waitFor(const std::function<bool()>& condition,
                 std::chrono::steady_clock::time_point deadline,
                 std::chrono::milliseconds recheck = std::chrono::milliseconds(20)) {
        for (;;) {
            if (condition()) return true;
            auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return false;
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
            int timeout = static_cast<int>(std::min(left, recheck).count());
            // Without a watch there is no event to wait on: the caller's
            // condition fails and its message says what was missing.
            if (m_fd < 0) return false;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, timeout) > 0) {
                char events[4096];
                while (::read(m_fd, events, sizeof events) > 0) {
                }
            }
        }
    }

  private:
    int m_fd = -1;
};

// A program started with posix_spawnp (looked up in PATH when the name has no
// slash): standard input /dev/null, standard output and error into files, no
// signal blocked and SIGTERM, SIGINT and SIGSEGV at their default action
// whatever the test runner set. Killed and reaped when it goes out of scope.
class Child {
  public:
    Child(const std::string& program, std::vector<std::string> args, std::vector<std::string> env,
          const std::string& outFile, const std::string& errFile) {
        args.insert(args.begin(), program);
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int sig : {SIGTERM, SIGINT, SIGSEGV}) sigaddset(&defaults, sig);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        m_error = ::posix_spawnp(&m_pid, program.c_str(), &actions, &attributes, argv.data(),
                                 envp.data());
        if (m_error != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        if (m_pid > 0) m_exited = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    }
    ~Child() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_exited >= 0) ::close(m_exited);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return m_pid; }
    int spawnError() const { return m_error; }  // posix_spawnp's errno value; 0 when started

    // True once it has ended (it is reaped only by signalAndWait or the end).
    bool ended() const {
        pollfd end{m_exited, POLLIN, 0};
        return m_pid <= 0 || m_exited < 0 || ::poll(&end, 1, 0) == 1;
    }

    // Waits, on changes in `folder`, until `done` holds; false when the child
    // ended or `limit` passed first.
    bool waitFor(const std::string& folder, const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        FolderWatch(folder).waitFor([&] { return done() || ended(); },
                                    std::chrono::steady_clock::now() + limit);
        return done();
    }

    // Sends `sig` and waits up to `limit` for the end: its wait status, or
    // nothing when it did not end (it is then killed).
    std::optional<int> signalAndWait(int sig,
                                     std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        if (m_pid <= 0 || m_exited < 0) return std::nullopt;
        ::kill(m_pid, sig);
        pollfd end{m_exited, POLLIN, 0};
        const bool ended = ::poll(&end, 1, static_cast<int>(limit.count())) == 1;
        if (!ended) ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        if (!ended) return std::nullopt;
        return status;
    }

  private:
    pid_t m_pid = -1;
    int m_exited = -1;
    int m_error = 0;
};

// Runs `body(i)` for i in [0, n) in n forked processes at once and waits for
// them all; each child exits 0 when its body returned true.
inline void runInChildren(int n, const std::function<bool(int)>& body) {
    std::vector<pid_t> children;
    for (int i = 0; i < n; ++i) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) ::_exit(body(i) ? 0 : 1);
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << child;
    }
}

}  // namespace ww::test
