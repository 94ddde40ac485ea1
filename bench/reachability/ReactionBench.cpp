// How fast the agent reacts to a wired link: in a network namespace, the time
// from adding the wired address to the simulated Wi-Fi recording
// "disassociate" (rule 0), with the reachability trigger on and, as the peer,
// off (WIREWATCH_REACHABILITY_HOST="", the five-second timer alone).
//
// Every trial starts from the same state: wired device up without an
// address, Wi-Fi joined (address on its device, sim associated), agent idle.
// With the trigger on the agent restores that state itself (the wired address
// goes, nothing is connected, it switches Wi-Fi on and the radio re-joins);
// with it off the benchmark re-joins Wi-Fi right after the timer's reaction
// and then waits a random part of the timer period, so that changes fall at
// every phase of the timer.
//
// The agent runs with its default tools (the built-in stand-ins, no process);
// --programs names the stand-in programs' folder instead, as the tests do.
//
// --outside measures as a user would from outside the agent: the clock starts
// before an `ip address add` process (which costs some milliseconds itself)
// instead of just before the bench's own rtnetlink request.
//
// Needs root. Usage: bench_reaction [--trials N] [--mode on|off|both] [--programs] [--outside]

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/sim/SimWifiInterface.h"
#include "tests/support/e2e_AgentInNamespace.h"

#ifndef WW_BUILD_TREE
#define WW_BUILD_TREE "."
#endif

namespace ww::test {
namespace {

using namespace std::chrono_literals;
using Millis = std::chrono::duration<double, std::milli>;

// --outside: the change is made by an `ip` process, timed from its start.
bool g_outside = false;

// Runs `ip ARGS` (no shell) and returns its exit status, -1 when it did not run.
int runIp(std::vector<std::string> args) {
    args.insert(args.begin(), "ip");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, "ip", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr auto kTimerPeriod = 5000ms;

struct Trial {
    double total = 0;        // change -> the sim records the action
    double toInventory = 0;  // change -> the check's inventory is done
    double toRule = 0;       // inventory done -> the rule line
    double toRecord = 0;     // rule line -> the sim records the action
};

struct Distribution {
    double min = 0, median = 0, p95 = 0, max = 0;
};

// Nearest-rank percentiles.
Distribution distributionOf(std::vector<double> values) {
    Distribution d;
    if (values.empty()) return d;
    std::sort(values.begin(), values.end());
    auto rank = [&](double p) {
        std::size_t i = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
        return values[std::clamp<std::size_t>(i, 1, values.size()) - 1];
    };
    d.min = values.front();
    d.median = rank(0.5);
    d.p95 = rank(0.95);
    d.max = values.back();
    return d;
}

double median(const std::vector<Trial>& trials, double Trial::*field) {
    std::vector<double> v;
    for (const auto& t : trials) v.push_back(t.*field);
    return distributionOf(v).median;
}

std::size_t countOf(const std::vector<std::string>& ops, const std::string& op, std::size_t from) {
    return static_cast<std::size_t>(
        std::count(ops.begin() + static_cast<long>(std::min(from, ops.size())), ops.end(), op));
}

// Runs the trials of one mode; false (with a message) when the bench broke.
bool runMode(bool trigger, int trials, bool programs, std::vector<Trial>& out, std::string& error) {
    AgentInNamespace agent("wwbench");
    if (!agent.available()) {
        error = "needs a network namespace: " + agent.whyUnavailable();
        return false;
    }
    AgentInNamespace::Settings settings;
    settings.rule = "0";
    settings.enableWireless = "1";
    if (!trigger) settings.reachabilityHost = "";
    settings.defaultTools = !programs;
    if (!agent.prepare(settings, error) || !agent.start(error)) return false;
    if (!agent.waitUntilIdle(300ms, after(10s))) {
        error = "the agent never became idle";
        return false;
    }

    std::mt19937 random(trigger ? 1 : 2);
    std::uniform_int_distribution<int> phase(0, static_cast<int>(kTimerPeriod.count()) - 1);
    const auto reactionLimit = trigger ? 10s : 15s;
    for (int i = 0; i < trials; ++i) {
        if (!trigger) std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));

        std::size_t before = agent.operations().size();
        FolderWatch watch(agent.simPath().substr(0, agent.simPath().rfind('/')));
        SystemTime changedAt;
        std::chrono::steady_clock::time_point changed;
        if (g_outside) {
            // As a user would: the clock starts before the `ip` process that
            // adds the address (which itself takes some milliseconds).
            changedAt = std::chrono::system_clock::now();
            changed = std::chrono::steady_clock::now();
            if (runIp({"-n", agent.netns().name(), "address", "add", kWiredAddress, "dev",
                       kWiredDevice}) != 0) {
                error = "cannot add the wired address with ip";
                return false;
            }
        } else if (!agent.setWiredAddress(true, &changedAt, &changed)) {
            error = "cannot add the wired address";
            return false;
        }
        bool reacted =
            watch.waitFor([&] { return countOf(agent.operations(), "disassociate", before) > 0; },
                          after(reactionLimit), 1000ms);
        auto seen = std::chrono::steady_clock::now();
        SystemTime seenAt = std::chrono::system_clock::now();
        if (!reacted) {
            error = "no reaction within the limit in trial " + std::to_string(i + 1) +
                    "; the agent's standard error:\n" + agent.agentStderr();
            return false;
        }
        Trial t;
        t.total = Millis(seen - changed).count();
        // The check's own stamps, cut to whole milliseconds.
        auto inventory = agent.firstLine(
            "AppDelegate: getAllNetworksDetails - connected networks are", changedAt - 1ms);
        auto rule = agent.firstLine(kDisconnectLine, changedAt - 1ms);
        if (inventory && rule) {
            t.toInventory = Millis(*inventory - changedAt).count();
            t.toRule = Millis(*rule - *inventory).count();
            t.toRecord = Millis(seenAt - *rule).count();
        }
        out.push_back(t);

        // Back to the starting state. A change made while a check runs is
        // dropped (checks are single-flight), so wait for the reacting
        // check to end first.
        if (!agent.waitUntilIdle(50ms, after(10s))) {
            error = "the agent never became idle after trial " + std::to_string(i + 1);
            return false;
        }
        std::size_t afterReaction = agent.operations().size();
        if (!agent.setWiredAddress(false)) {
            error = "cannot remove the wired address";
            return false;
        }
        if (!trigger) {
            // The next tick is most of a period away: re-join as the user would.
            bool entered = false;
            std::string why;
            bool ok = agent.netns().inside(
                [&] {
                    std::optional<std::string> e;
                    bool done = sim::SimWifiInterface(agent.simPath()).setPower(true, &e);
                    why = e.value_or("");
                    return done;
                },
                entered);
            if (!entered || !ok) {
                error = "cannot re-join Wi-Fi: " + why;
                return false;
            }
        }
        bool rejoined = agent.waitForSim(
            [&](const sim::SimWifiState& s, const std::vector<std::string>& ops) {
                return s.ssid.has_value() && countOf(ops, "setPower:1", afterReaction) > 0;
            },
            after(reactionLimit));
        if (!rejoined || agent.ipv4Addresses(kWifiDevice).empty()) {
            error = "Wi-Fi did not re-join after trial " + std::to_string(i + 1);
            return false;
        }
        if (!agent.waitUntilIdle(300ms, after(10s))) {
            error = "the agent never became idle after trial " + std::to_string(i + 1);
            return false;
        }
    }
    int status = agent.stop();
    if (status != 0) {
        error = "the agent exited with status " + std::to_string(status);
        return false;
    }
    return true;
}

void print(const char* name, const std::vector<Trial>& trials) {
    std::vector<double> totals;
    for (const auto& t : trials) totals.push_back(t.total);
    Distribution d = distributionOf(totals);
    std::printf("%-12s n=%zu  min %8.1f ms  median %8.1f ms  p95 %8.1f ms  max %8.1f ms\n", name,
                trials.size(), d.min, d.median, d.p95, d.max);
    std::printf(
        "%-12s where the time goes (medians): change -> inventory done %.1f ms, "
        "-> rule line %.1f ms, -> recorded %.1f ms\n",
        "", median(trials, &Trial::toInventory), median(trials, &Trial::toRule),
        median(trials, &Trial::toRecord));
}

}  // namespace
}  // namespace ww::test

int main(int argc, char** argv) {
    using namespace ww::test;
    int trials = 50;
    std::string mode = "both";
    bool programs = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--programs") {
            programs = true;
        } else if (a == "--outside") {
            g_outside = true;
        } else if (a == "--trials" && i + 1 < argc) {
            trials = std::atoi(argv[++i]);
        } else if (a == "--mode" && i + 1 < argc) {
            mode = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: bench_reaction [--trials N] [--mode on|off|both] [--programs] "
                         "[--outside]\n");
            return 2;
        }
    }
    if (trials < 1 || (mode != "on" && mode != "off" && mode != "both")) {
        std::fprintf(
            stderr,
            "usage: bench_reaction [--trials N] [--mode on|off|both] [--programs] [--outside]\n");
        return 2;
    }
    ::setenv("WW_BUILD_DIR", WW_BUILD_TREE, 0);

    std::printf(
        "Time from adding the wired address to the simulated Wi-Fi recording "
        "\"disassociate\" (rule 0), %d trials per mode, tools: %s, change made %s\n",
        trials, programs ? "the stand-in programs (--tools-dir)" : "the default (built-in)",
        g_outside ? "by an ip process (clock started before it)" : "over rtnetlink by the bench");
    std::vector<Trial> on, off;
    std::string error;
    if (mode != "off") {
        if (!runMode(true, trials, programs, on, error)) {
            std::fprintf(stderr, "bench_reaction: trigger on: %s\n", error.c_str());
            return 1;
        }
        print("trigger on", on);
    }
    if (mode != "on") {
        if (!runMode(false, trials, programs, off, error)) {
            std::fprintf(stderr, "bench_reaction: trigger off: %s\n", error.c_str());
            return 1;
        }
        print("trigger off", off);
    }
    if (!on.empty()) {
        std::vector<double> totals;
        for (const auto& t : on) totals.push_back(t.total);
        Distribution d = distributionOf(totals);
        std::printf("goal with the trigger on: median <= 15 ms %s, p95 <= 30 ms %s\n",
                    d.median <= 15 ? "met" : "MISSED", d.p95 <= 30 ? "met" : "MISSED");
        if (!off.empty()) {
            std::vector<double> offTotals;
            for (const auto& t : off) offTotals.push_back(t.total);
            Distribution o = distributionOf(offTotals);
            std::printf("median ratio, timer only / trigger: %.1f\n", o.median / d.median);
        }
    }
    return 0;
}
