#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "DiscoveryTestSupport.h"
#include "discovery/ShellCommand.h"

namespace ww {
namespace {

using namespace std::chrono_literals;
using test::LogCapture;
using test::TempDir;

// Processes of the process group `pgid` that have not ended (zombies excluded).
std::vector<int> liveProcessesInGroup(int pgid) {
    std::vector<int> found;
    DIR* proc = ::opendir("/proc");
    if (!proc) return found;
    while (dirent* e = ::readdir(proc)) {
        int pid = std::atoi(e->d_name);
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        // Fields after the command name in parentheses: state ppid pgrp ...
        auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        int ppid = 0, pgrp = 0;
        rest >> state >> ppid >> pgrp;
        if (pgrp == pgid && state != 'Z' && state != 'X') found.push_back(pid);
    }
    ::closedir(proc);
    return found;
}

// The group's processes die from SIGKILL a moment after it is sent; wait for
// that, with a deadline.
bool groupEndsSoon(int pgid) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!liveProcessesInGroup(pgid).empty()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

int openDescriptorCount() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    while (dirent* e = ::readdir(dir)) {
        if (e->d_name[0] != '.') ++count;
    }
    ::closedir(dir);
    return count - 1;  // the listing's own descriptor
}

TEST(RunShellCommand, CollectsBothStreamsAsText) {
    LogCapture log;
    auto r = runShellCommand("printf 'out\\n'; printf 'err' >&2", "testCaller");
    EXPECT_EQ(r.output, "out\n");
    EXPECT_EQ(r.error, "err");
    EXPECT_FALSE(r.timedOut);
    auto lines = log.linesContaining("error is");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "error is err");
    EXPECT_EQ(lines[0].function, "testCaller");
    EXPECT_EQ(lines[0].flag, DDLogFlagInfo);
}

TEST(RunShellCommand, QuietCommandGivesTwoEmptyTextsAndNoLogLine) {
    LogCapture log;
    auto r = runShellCommand("true", "testCaller");
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(log.lines().empty());
}

TEST(RunShellCommand, MissingToolIsLoggedAndLeavesOutputEmpty) {
    LogCapture log;
    auto r = runShellCommand("/nonexistent/ww-tool -I", "executeAirPortCommand");
    EXPECT_EQ(r.output, "");
    ASSERT_TRUE(r.error.has_value());
    EXPECT_NE(r.error->find("ww-tool"), std::string::npos);
    auto lines = log.linesContaining("error is");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].function, "executeAirPortCommand");
}

TEST(RunShellCommand, ExitStatusDoesNotMatter) {
    auto r = runShellCommand("echo partial; exit 3", "testCaller");
    EXPECT_EQ(r.output, "partial\n");
}

TEST(RunShellCommand, InvalidUtf8IsAbsentPerStream) {
    LogCapture log;
    auto r = runShellCommand("printf 'a\\377b'; printf 'fine' >&2", "testCaller");
    EXPECT_FALSE(r.output.has_value());
    EXPECT_EQ(r.error, "fine");
    r = runShellCommand("printf 'ok'; printf '\\300\\200' >&2", "testCaller");
    EXPECT_EQ(r.output, "ok");
    EXPECT_FALSE(r.error.has_value());
    // Only the valid error text was logged.
    EXPECT_EQ(log.linesContaining("error is").size(), 1u);
}

TEST(RunShellCommand, CommandLineIsOneShellArgument) {
    auto r = runShellCommand("set -- a 'b c'; echo $#; echo \"$2\"", "testCaller");
    EXPECT_EQ(r.output, "2\nb c\n");
}

TEST(RunShellCommand, RefusesCommandLineWithNulByte) {
    LogCapture log;
    TempDir dir;
    std::string marker = dir.path() + "/ran";
    std::string line = std::string("true\0", 5) + "; touch " + marker;
    auto r = runShellCommand(line, "testCaller");
    EXPECT_FALSE(r.output.has_value());
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_EQ(log.linesContaining("NUL").size(), 1u);
}

// The child writes much more than a pipe holds to one stream while the other
// stays open: draining one stream at a time would deadlock here.
TEST(RunShellCommand, EightMebibytesOnEitherStreamWhileTheOtherStaysOpen) {
    constexpr size_t kSize = 8u << 20;
    auto r =
        runShellCommand("head -c 8388608 /dev/zero | tr '\\0' e >&2; echo done", "testCaller", 60s);
    ASSERT_TRUE(r.error.has_value());
    EXPECT_EQ(r.error->size(), kSize);
    EXPECT_EQ(r.error->find_first_not_of('e'), std::string::npos);
    EXPECT_EQ(r.output, "done\n");
    EXPECT_FALSE(r.timedOut);

    r = runShellCommand("head -c 8388608 /dev/zero | tr '\\0' o; echo done >&2", "testCaller", 60s);
    ASSERT_TRUE(r.output.has_value());
    EXPECT_EQ(r.output->size(), kSize);
    EXPECT_EQ(r.error, "done\n");
}

TEST(RunShellCommand, StandardInputReadsAsEndOfFile) {
    auto r = runShellCommand("cat; echo after", "testCaller", 20s);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.output, "after\n");
}

TEST(RunShellCommand, HungCommandIsKilledWithItsWholeGroup) {
    LogCapture log;
    const auto limit = 300ms;
    auto started = std::chrono::steady_clock::now();
    // A background child too, so that killing only the shell would not do.
    auto r = runShellCommand("echo $$; sleep 30 & sleep 30", "testCaller", limit);
    auto took = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(r.timedOut);
    ASSERT_TRUE(r.output.has_value());
    int shellPid = std::atoi(r.output->c_str());
    ASSERT_GT(shellPid, 1) << "what was read before the limit is returned";
    EXPECT_GE(took, limit);
    EXPECT_LT(took, 10s) << "the limit must end the wait";
    EXPECT_TRUE(groupEndsSoon(shellPid));
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].text.find("was stopped"), std::string::npos);
    EXPECT_EQ(lines[0].function, "testCaller");
}

TEST(RunShellCommand, ChildThatClosesItsOutputButKeepsRunningIsStoppedAtTheLimit) {
    auto r = runShellCommand("echo $$; exec >&- 2>&-; sleep 30", "testCaller", 300ms);
    EXPECT_TRUE(r.timedOut);
    ASSERT_TRUE(r.output.has_value());
    EXPECT_TRUE(groupEndsSoon(std::atoi(r.output->c_str())));
}

TEST(RunShellCommand, ChildRunsInItsOwnProcessGroup) {
    auto r = runShellCommand("echo $$ $(ps -o pgid= -p $$)", "testCaller");
    ASSERT_TRUE(r.output.has_value());
    std::istringstream in(*r.output);
    int pid = 0, pgid = 0;
    in >> pid >> pgid;
    EXPECT_EQ(pid, pgid);
    EXPECT_NE(pgid, ::getpgrp());
}

TEST(RunShellCommand, LeavesNoZombiesAfterAThousandRuns) {
    for (int i = 0; i < 1000; ++i) {
        auto r = runShellCommand("exit 0", "testCaller");
        ASSERT_EQ(r.output, "") << "run " << i;
    }
    // No child of this process is left: not running, not waiting to be reaped.
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(RunShellCommand, LeaksNoDescriptorsInEitherDirection) {
    // A descriptor opened without close-on-exec, as other code might.
    int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 3);
    int before = openDescriptorCount();
    // The descriptors of a plain child of the shell, read once it runs the
    // program (the shell's own table would show its pipeline pipes, and the
    // child briefly holds its own before the exec).
    auto r = runShellCommand(
        "sleep 5 & p=$!; while [ \"$(cat /proc/$p/comm)\" != sleep ]; do :; done; "
        "ls /proc/$p/fd; kill $p",
        "testCaller", 20s);
    EXPECT_EQ(r.output, "0\n1\n2\n");
    for (int i = 0; i < 50; ++i) runShellCommand("echo x; echo y >&2", "testCaller");
    EXPECT_EQ(openDescriptorCount(), before);
    ::close(stray);
}

TEST(RunShellCommand, ChildGetsDefaultSignalsEvenWhenTheAgentIgnoresSigpipe) {
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    // With SIGPIPE ignored, `yes` would complain about a broken pipe instead of
    // quietly ending when head stops reading.
    auto r = runShellCommand("yes | head -n 1", "testCaller", 20s);
    ::sigaction(SIGPIPE, &old, nullptr);
    EXPECT_EQ(r.output, "y\n");
    EXPECT_EQ(r.error, "");
}

TEST(RunShellCommand, SafeFromSeveralThreadsAtOnce) {
    constexpr int kThreads = 8;
    constexpr int kRuns = 40;
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            for (int i = 0; i < kRuns; ++i) {
                std::string token = std::to_string(t) + "-" + std::to_string(i);
                auto r =
                    runShellCommand("echo " + token + "; echo e" + token + " >&2", "testCaller");
                if (r.output != token + "\n" || r.error != "e" + token + "\n") ++wrong;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace ww
