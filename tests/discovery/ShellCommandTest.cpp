#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "DiscoveryTestSupport.h"
#include "discovery/ShellCommand.h"

namespace ww {
namespace {

using namespace std::chrono_literals;
using test::LogCapture;

// Processes of the process group `pgid` that have not ended (zombies excluded).
std::vector<int> liveProcessesInGroup(int pgid) {
    std::vector<int> found;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        int pid = std::atoi(e.path().filename().c_str());
        std::ifstream stat(e.path() / "stat");
        std::string line;
        if (pid <= 0 || !std::getline(stat, line)) continue;
        // Fields after the command name in parentheses: state ppid pgrp ...
        auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        int ppid = 0, pgrp = 0;
        rest >> state >> ppid >> pgrp;
        if (pgrp == pgid && state != 'Z' && state != 'X') found.push_back(pid);
    }
    return found;
}

// Whether this process has no child at all: none running, none waiting to be reaped.
bool noChildLeft() {
    errno = 0;
    return ::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

int openDescriptorCount() {
    auto all = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    return static_cast<int>(all) - 1;  // the listing's own descriptor
}

TEST(RunShellCommand, OutputsAndTheErrorLine) {
    struct Case {
        std::string command;
        std::optional<std::string> output;
        std::optional<std::string> error;  // "*": any text
        std::vector<std::string> logged;   // beginnings of the log lines
    };
    const Case cases[] = {
        {"printf 'out\\n'; printf 'err' >&2", "out\n", "err", {"error is err"}},
        {"true", "", "", {}},
        {"/nonexistent/ww-tool -I", "", "*", {"error is "}},
        {"echo partial; exit 3", "partial\n", "", {}},  // the exit status does not matter
        // Text that is no UTF-8 is absent, per stream; only valid text is logged.
        {"printf 'a\\377b'; printf 'fine' >&2", std::nullopt, "fine", {"error is fine"}},
        {"printf 'ok'; printf '\\300\\200' >&2", "ok", std::nullopt, {}},
        // The command line is one argument of the shell.
        {"set -- a 'b c'; echo $#; echo \"$2\"", "2\nb c\n", "", {}},
        {"cat; echo after", "after\n", "", {}},  // standard input reads as end of file
        {std::string("true\0", 5) + "; echo ran", std::nullopt, std::nullopt, {"NUL"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        LogCapture log;
        auto r = runShellCommand(c.command, "testCaller", 20s);
        EXPECT_EQ(r.output, c.output);
        if (c.error == "*") {
            EXPECT_NE(r.error.value_or(""), "");
        } else {
            EXPECT_EQ(r.error, c.error);
        }
        EXPECT_FALSE(r.timedOut);
        auto lines = log.lines();
        ASSERT_EQ(lines.size(), c.logged.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_TRUE(lines[i].text.find(c.logged[i]) != std::string::npos) << lines[i].text;
            EXPECT_EQ(lines[i].function, "testCaller");
        }
    }
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

// The child runs in a process group of its own, which goes whole at the limit:
// a background child too, and a child that closed its outputs.
TEST(RunShellCommand, HungCommandIsKilledWithItsWholeGroup) {
    const auto limit = 300ms;
    for (const char* rest : {"sleep 30 & sleep 30", "exec >&- 2>&-; sleep 30"}) {
        SCOPED_TRACE(rest);
        LogCapture log;
        auto started = std::chrono::steady_clock::now();
        auto r = runShellCommand(std::string("echo $$ $(ps -o pgid= -p $$); ") + rest, "testCaller",
                                 limit);
        auto took = std::chrono::steady_clock::now() - started;
        EXPECT_TRUE(r.timedOut);
        ASSERT_TRUE(r.output.has_value()) << "what was read before the limit is returned";
        std::istringstream in(*r.output);
        int pid = 0, pgid = 0;
        in >> pid >> pgid;
        ASSERT_GT(pid, 1);
        EXPECT_EQ(pid, pgid);
        EXPECT_NE(pgid, ::getpgrp());
        EXPECT_GE(took, limit);
        EXPECT_LT(took, 10s) << "the limit must end the wait";
        EXPECT_TRUE(test::waitUntil([&] { return liveProcessesInGroup(pgid).empty(); }));
        EXPECT_TRUE(noChildLeft()) << "the killed shell is reaped";
        auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].text.find("was stopped"), std::string::npos);
        EXPECT_EQ(lines[0].function, "testCaller");
    }
}

TEST(RunShellCommand, AThousandRunsFromEightThreadsLeaveNoZombies) {
    constexpr int kThreads = 8;
    constexpr int kRuns = 125;
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
    EXPECT_TRUE(noChildLeft());
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

}  // namespace
}  // namespace ww
