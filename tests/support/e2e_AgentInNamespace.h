#pragma once

// The real agent in a private network namespace, as the end-to-end tests and
// the reaction benchmark run it: `ip netns exec NS wirewatch --headless` with
// the real stand-in tools, a "wired" veth end declared an Ethernet port and a
// "Wi-Fi" veth end declared a Wi-Fi port and mirrored by the simulated Wi-Fi.
// Needs root (the namespace); `available()` says whether it could be made.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>

#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Plist.h"
#include "platform/foundation/Text.h"
#include "platform/linux/netlink/LinkControl.h"
#include "platform/sim/SimWifiFile.h"
#include "tests/support/app_TestSupport.h"
#include "tests/support/common_Children.h"
#include "tests/support/reachability_Netns.h"

namespace ww::test {

using SystemTime = std::chrono::system_clock::time_point;

inline constexpr const char* kWiredDevice = "ww-wired0";
inline constexpr const char* kWiredPeer = "ww-wired0-peer";
inline constexpr const char* kWifiDevice = "ww-wifi0";
inline constexpr const char* kWifiPeer = "ww-wifi0-peer";
inline constexpr const char* kWiredAddress = "198.51.100.2/24";
inline constexpr const char* kWifiAddress = "203.0.113.2/24";
inline constexpr const char* kWifiSsid = "Flowers By Irene";
inline constexpr const char* kWifiBssid = "4c:43:41:4:1c:bc";

// The banner line every start writes first (after the separator).
inline constexpr const char* kBannerText = "Starting Wirewatch Version";
// The rule line that shows a check disconnected Wi-Fi (shared with the agent's tests).
inline constexpr const char* kDisconnectLine = kDisconnect;
// Every check's first line (written synchronously) ends so.
inline constexpr const char* kCheckLineEnd = ", applying rule....";

// One line of the agent's log file: its time stamp ("2024/05/01 12:00:00:123",
// local time) and its text.
struct LogLine {
    SystemTime time;
    std::string text;
};

inline std::vector<LogLine> parseLogLines(const std::string& text) {
    std::vector<LogLine> lines;
    for (std::string_view view : text::splitLines(text)) {
        std::string line(view);
        std::tm tm{};
        int millis = 0;
        int used = 0;
        if (std::sscanf(line.c_str(), "%4d/%2d/%2d %2d:%2d:%2d:%3d  %n", &tm.tm_year, &tm.tm_mon,
                        &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &millis, &used) < 7 ||
            used == 0) {
            continue;  // the rest of a message that spans lines
        }
        tm.tm_year -= 1900;
        tm.tm_mon -= 1;
        tm.tm_isdst = -1;
        lines.push_back(LogLine{std::chrono::system_clock::from_time_t(std::mktime(&tm)) +
                                    std::chrono::milliseconds(millis),
                                line.substr(static_cast<std::size_t>(used))});
    }
    return lines;
}

// Milliseconds from `from` to `to` (negative when `to` is earlier).
inline long long millisBetween(SystemTime from, SystemTime to) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

class AgentInNamespace {
  public:
    struct Settings {
        std::string rule = "0";            // "selectedInterfaceOption"
        std::string enableWireless = "1";  // "enableWireless"
        // WIREWATCH_REACHABILITY_HOST: nothing leaves it unset (the default
        // host); empty turns the monitor off.
        std::optional<std::string> reachabilityHost;
        // With the simulated Wi-Fi (`--wifi sim:FILE`, mirrored onto the Wi-Fi
        // veth end); false: no --wifi at all, the agent picks its backend.
        bool simulatedWifi = true;
        // More environment entries for the agent ("NAME=value"), such as
        // DBUS_SYSTEM_BUS_ADDRESS for a private bus.
        std::vector<std::string> environment = {};
        // The installed default tools (the agent's built-in stand-ins) instead
        // of the stand-in programs named with --tools-dir.
        bool defaultTools = false;
    };

    explicit AgentInNamespace(const std::string& prefix) : m_netns(prefix) {}

    AgentInNamespace(const AgentInNamespace&) = delete;
    AgentInNamespace& operator=(const AgentInNamespace&) = delete;

    bool available() const { return m_netns.available(); }
    const std::string& whyUnavailable() const { return m_netns.whyUnavailable(); }
    Netns& netns() { return m_netns; }
    const std::string& simPath() const { return m_simPath; }
    // The agent's data folder (its logs and the exposure audit).
    const std::string& logsDir() const { return m_logsDir; }

    // Both veth pairs up; Wi-Fi joined (its address on the device, the sim
    // powered and associated, with the same network to re-join); the wired
    // device up without an address; the preferences and the port file.
    bool prepare(const Settings& settings, std::string& error) {
        m_settings = settings;
        if (!m_netns.addVethPair(kWiredDevice, kWiredPeer) ||
            !m_netns.addVethPair(kWifiDevice, kWifiPeer)) {
            error = "cannot make the veth pairs";
            return false;
        }
        if (m_netns.ip(std::string("address add ") + kWifiAddress + " dev " + kWifiDevice) != 0) {
            error = "cannot give the Wi-Fi device its address";
            return false;
        }
        m_portsPath = m_dir.file("hardware-ports.txt");
        writeFile(m_portsPath, std::string(kWiredDevice) + "\tEthernet\tEthernet\n" + kWifiDevice +
                                   "\tWi-Fi\tAirPort\n");

        plist::Value sim = simWifi(true, true);  // associated with kWifiSsid
        sim.set("device", plist::Value::string(kWifiDevice));
        plist::Value join = plist::Value::dictionary();
        join.set("ssid", plist::Value::string(kWifiSsid));
        join.set("bssid", plist::Value::string(kWifiBssid));
        join.set("addresses", plist::Value::array({plist::Value::string(kWifiAddress)}));
        sim.set("joinNetwork", join);
        m_simDir = m_dir.file("sim");
        file::makeDirectories(m_simDir);
        m_simPath = m_simDir + "/wifi.plist";
        writeFile(m_simPath, plist::toXml(sim));

        plist::Value prefs = plist::Value::dictionary();
        prefs.set("selectedInterfaceOption", plist::Value::string(settings.rule));
        prefs.set("enableWireless", plist::Value::string(settings.enableWireless));
        m_prefsPath = m_dir.file("preferences.plist");
        writeFile(m_prefsPath, plist::toXml(prefs), 0600);
        m_logsDir = m_dir.file("logs");
        file::makeDirectories(m_logsDir);
        return true;
    }

    // Starts the agent and returns once it has written its banner and, with
    // the monitor on, its watch thread runs (so no change can slip by before
    // it listens).
    bool start(std::string& error, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::string build = buildDir();
        std::vector<std::string> args = {
            "netns",      "exec",    m_netns.name(), build + "/bin/wirewatch",
            "--headless", "--prefs", m_prefsPath,    "--logs-dir",
            m_logsDir};
        if (!m_settings.defaultTools) {
            args.insert(args.begin() + 5, {"--tools-dir", build + "/libexec/wirewatch"});
        }
        if (m_settings.simulatedWifi) {
            args.push_back("--wifi");
            args.push_back("sim:" + m_simPath);
        }
        // The agent's own environment: nothing of the caller's settings leaks in.
        std::vector<std::string> env = {
            "HOME=" + m_dir.path(), "XDG_CONFIG_HOME=" + m_dir.file("config"),
            "XDG_DATA_HOME=" + m_dir.file("data"), "WIREWATCH_HWPORTS_FILE=" + m_portsPath};
        if (m_settings.reachabilityHost) {
            env.push_back("WIREWATCH_REACHABILITY_HOST=" + *m_settings.reachabilityHost);
        }
        env.insert(env.end(), m_settings.environment.begin(), m_settings.environment.end());
        for (char** e = environ; *e; ++e) {
            std::string_view v = *e;
            if (!v.starts_with("WIREWATCH_") && !v.starts_with("HOME=") && !v.starts_with("XDG_") &&
                !v.starts_with("DBUS_")) {
                env.emplace_back(v);
            }
        }
        m_child =
            std::make_unique<Child>("ip", args, env, m_dir.file("stdout"), m_dir.file("stderr"));
        if (int failed = m_child->spawnError()) {
            m_child.reset();
            error = std::string("cannot start ip netns exec: ") + std::strerror(failed);
            return false;
        }

        auto deadline = after(limit);
        FolderWatch logs(m_logsDir);
        if (!logs.waitFor([&] { return banner().has_value() || exited(); }, deadline) || exited()) {
            error = "the agent wrote no banner; its standard error:\n" + agentStderr();
            return false;
        }
        if (!m_settings.reachabilityHost || !m_settings.reachabilityHost->empty()) {
            if (!pollUntil([&] { return hasThread("ww.reachability") || exited(); }, deadline) ||
                exited()) {
                error = "the agent's reachability monitor never started; its standard error:\n" +
                        agentStderr();
                return false;
            }
        }
        return true;
    }

    // SIGTERM, then waits for the exit; the exit status, or -1 when it did
    // not exit normally within the limit (it is killed then).
    int stop(std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        if (!m_child) return -1;
        auto status = m_child->signalAndWait(SIGTERM, limit);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    // Ends the agent at once, as a crash or a power cut would.
    void killHard() { m_child.reset(); }

    bool exited() const { return !m_child || m_child->ended(); }

    std::string agentStderr() const { return readFile(m_dir.file("stderr")); }

    // The agent's log lines so far (error lines are written synchronously,
    // info lines may lag a little).
    std::vector<LogLine> logLines() const { return parseLogLines(logFilesText(m_logsDir)); }

    std::optional<SystemTime> banner() const { return firstLine(kBannerText); }

    // The first line containing `text` stamped at or after `since`.
    std::optional<SystemTime> firstLine(const std::string& text,
                                        SystemTime since = SystemTime()) const {
        for (const auto& line : logLines()) {
            if (line.time >= since && line.text.find(text) != std::string::npos) return line.time;
        }
        return std::nullopt;
    }

    // How many checks have written their first line so far.
    long checksSoFar() const {
        auto lines = logLines();
        return std::count_if(lines.begin(), lines.end(),
                             [](const LogLine& l) { return l.text.ends_with(kCheckLineEnd); });
    }

    // Whether a thread of the agent has this name (a check runs on
    // "wirewatch-check", the reachability watch on "ww.reachability").
    bool hasThread(const std::string& name) const {
        if (exited()) return false;
        std::error_code ec;
        std::string tasks = "/proc/" + std::to_string(m_child->pid()) + "/task";
        for (const auto& e : std::filesystem::directory_iterator(tasks, ec)) {
            if (text::trim(readFile(e.path() / "comm")) == name) return true;
        }
        return false;
    }

    // Waits until no check has run for `quiet` in a row.
    bool waitUntilIdle(std::chrono::milliseconds quiet, SteadyTime deadline) {
        SteadyTime idleSince = std::chrono::steady_clock::now();
        return pollUntil(
            [&] {
                auto now = std::chrono::steady_clock::now();
                if (hasThread("wirewatch-check")) idleSince = now;
                return now - idleSince >= quiet;
            },
            deadline);
    }

    std::optional<sim::SimWifiState> simState() const {
        return sim::SimWifiFile(m_simPath).readState();
    }
    std::vector<std::string> operations() const { return simOperations(m_simPath); }

    // Waits for the simulated Wi-Fi's file to satisfy `condition`.
    bool waitForSim(const std::function<bool(const sim::SimWifiState&,
                                             const std::vector<std::string>&)>& condition,
                    SteadyTime deadline) {
        FolderWatch watch(m_simDir);
        return watch.waitFor(
            [&] {
                auto state = simState();
                return state && condition(*state, operations());
            },
            deadline);
    }

    // Adds or removes the wired address from inside the namespace, over
    // rtnetlink; `at` receives the moment just before the change.
    bool setWiredAddress(bool present, SystemTime* at = nullptr, SteadyTime* steadyAt = nullptr) {
        bool entered = false;
        bool ok = m_netns.inside(
            [&] {
                std::string error;
                auto control = netlink::LinkControl::open(error);
                if (!control) return false;
                if (at) *at = std::chrono::system_clock::now();
                if (steadyAt) *steadyAt = std::chrono::steady_clock::now();
                if (!present) return control->removeIpv4Addresses(kWiredDevice, error);
                return control->addIpv4Address(kWiredDevice,
                                               *netlink::Ipv4Prefix::parse(kWiredAddress), error);
            },
            entered);
        return entered && ok;
    }

    std::vector<std::string> ipv4Addresses(const std::string& device) const {
        return m_netns.ipv4Addresses(device);
    }
    bool isUp(const std::string& device) const { return m_netns.isUp(device); }

  private:
    Netns m_netns;
    TempDir m_dir;
    Settings m_settings;
    std::string m_portsPath, m_simDir, m_simPath, m_prefsPath, m_logsDir;
    // Last, so that an agent a failed test left running ends before its
    // namespace goes.
    std::unique_ptr<Child> m_child;
};

}  // namespace ww::test
