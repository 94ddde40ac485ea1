#pragma once

// A private network namespace for tests: made with `ip netns add`, changed
// with `ip -n NAME ...`, entered by a helper thread when something must be
// created inside it (netlink sockets belong to the namespace of the thread
// that opens them). Needs root; `available()` says whether it worked.

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ww::test {

using SteadyTime = std::chrono::steady_clock::time_point;

inline SteadyTime after(std::chrono::milliseconds span) {
    return std::chrono::steady_clock::now() + span;
}

// Runs a command line through /bin/sh and returns its exit status (-1 when it
// could not run or did not exit normally).
inline int runShell(const std::string& commandLine) {
    int status = std::system(commandLine.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a command line through /bin/sh and returns its standard output.
inline std::string shellOutput(const std::string& commandLine) {
    std::string out;
    FILE* pipe = ::popen(commandLine.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

// Polls a condition that nothing announces (a thread, a device's state, a
// process) until it holds or the deadline passes; true when it held.
inline bool pollUntil(const std::function<bool()>& condition, SteadyTime deadline,
                      std::chrono::milliseconds pause = std::chrono::milliseconds(5)) {
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
    }
}

class Netns {
  public:
    explicit Netns(const std::string& prefix) {
        static std::atomic<int> counter{0};
        m_name = prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        if (geteuid() != 0) {
            m_why = "needs root to make a network namespace";
            return;
        }
        runShell("ip netns del " + m_name + " 2>/dev/null");
        if (runShell("ip netns add " + m_name + " 2>/dev/null") != 0) {
            m_why = "`ip netns add` failed (no iproute2 or no namespace support)";
            return;
        }
        m_created = true;
        if (ip("link set dev lo up") != 0) {
            m_why = "cannot configure the namespace's loopback";
            return;
        }
        m_available = true;
    }

    ~Netns() {
        if (m_created) runShell("ip netns del " + m_name + " 2>/dev/null");
    }

    Netns(const Netns&) = delete;
    Netns& operator=(const Netns&) = delete;

    bool available() const { return m_available; }
    const std::string& whyUnavailable() const { return m_why; }
    const std::string& name() const { return m_name; }

    // `ip -n NAME ARGS`, quietly; its exit status.
    int ip(const std::string& arguments) const {
        return runShell("ip -n " + m_name + " " + arguments + " >/dev/null 2>&1");
    }
    // Runs `work` on a thread that has entered the namespace, and returns its
    // result. False in `entered` when the thread could not enter it.
    template <typename Work>
    auto inside(Work&& work, bool& entered) -> decltype(work()) {
        decltype(work()) result{};
        entered = false;
        std::thread helper([&] {
            int fd = ::open(("/var/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) return;
            bool ok = ::setns(fd, CLONE_NEWNET) == 0;
            ::close(fd);
            if (!ok) return;
            entered = true;
            result = work();
        });
        helper.join();
        return result;
    }

    // A veth pair NAME/PEER, both up, without IPv6 link-local addresses (their
    // duplicate-address checks would send messages at unpredictable times);
    // returns once both report carrier, so that no late link message from
    // the set-up can arrive afterwards.
    bool addVethPair(const std::string& name, const std::string& peer) const {
        if (ip("link add " + name + " type veth peer name " + peer) != 0) return false;
        for (const auto& dev : {name, peer}) {
            if (ip("link set dev " + dev + " addrgenmode none") != 0) return false;
            if (ip("link set dev " + dev + " up") != 0) return false;
        }
        auto carrier = [&](const std::string& dev) {
            return runShell("ip -n " + m_name + " link show dev " + dev +
                            " | grep -q 'state UP'") == 0;
        };
        return pollUntil([&] { return carrier(name) && carrier(peer); },
                         after(std::chrono::seconds(10)));
    }

    // What the kernel holds for a device: its IPv4 addresses ("A.B.C.D/N") and
    // whether it is administratively up.
    std::vector<std::string> ipv4Addresses(const std::string& device) const {
        // "NAME STATE ADDRESS...", or nothing without addresses.
        std::istringstream words(
            shellOutput("ip -n " + m_name + " -br -4 address show dev " + device + " 2>/dev/null"));
        std::vector<std::string> addresses(std::istream_iterator<std::string>(words), {});
        addresses.erase(addresses.begin(),
                        addresses.begin() + std::min<size_t>(2, addresses.size()));
        return addresses;
    }
    bool isUp(const std::string& device) const {
        std::string out =
            shellOutput("ip -n " + m_name + " -o link show dev " + device + " 2>/dev/null");
        std::size_t open = out.find('<'), close = out.find('>');
        if (open == std::string::npos || close == std::string::npos) return false;
        return ("," + out.substr(open + 1, close - open - 1) + ",").find(",UP,") !=
               std::string::npos;
    }

  private:
    std::string m_name;
    std::string m_why;
    bool m_created = false;
    bool m_available = false;
};

}  // namespace ww::test
