#pragma once

// Child processes for tests: a program started in the background with its own
// arguments, environment and output files, and a body run in several forked
// processes at once (for locks between processes).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ww::test {

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

    // Waits, on changes in `folder`, until `done` holds; false when the child
    // ended or `limit` passed first.
    bool waitFor(const std::string& folder, const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (watch < 0 || m_exited < 0) return false;
        ::inotify_add_watch(watch, folder.c_str(),
                            IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        bool held = false;
        while (!(held = done())) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fds[2] = {{watch, POLLIN, 0}, {m_exited, POLLIN, 0}};
            if (left.count() <= 0 || ::poll(fds, 2, static_cast<int>(left.count())) <= 0) break;
            if (fds[1].revents) break;
            char events[4096];
            while (::read(watch, events, sizeof events) > 0) {
            }
        }
        ::close(watch);
        return held;
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
