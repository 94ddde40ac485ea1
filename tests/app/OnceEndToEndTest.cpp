// The built program, end to end: `wirewatch --once` with a fixture tools
// directory (scripts printing captured macOS output) and a simulated Wi-Fi.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sodium.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/foundation/FileUtil.h"
#include "tests/support/app_TestSupport.h"

namespace ww::test {
namespace {

// Captured macOS output: Wi-Fi on en0, a Thunderbolt Ethernet port on en5.
const std::string kFixtures = std::string(WW_SOURCE_ROOT) + "/tests/app/fixtures/";

// Keeps only the blocks of the named interfaces (plus lo0).
std::string ifconfigWith(bool wifi, bool wired) {
    std::string all = readFile(kFixtures + "ifconfig.txt");
    size_t en0 = all.find("en0:"), en5 = all.find("en5:");
    return all.substr(0, en0) + (wifi ? all.substr(en0, en5 - en0) : "") +
           (wired ? all.substr(en5) : "");
}

// The details once the rule disassociated the simulated Wi-Fi.
std::vector<std::string> unassociated() {
    std::vector<std::string> details = kWifiDetails;
    details[0] = "SSID:";
    details[1] = "BSSID: ";
    return details;
}

class OnceEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tools = writeCapturedTools(dir, kFixtures, dir.file("ifconfig.txt"));
        ASSERT_FALSE(tools.empty());
    }

    // One run of `wirewatch --once` with these preferences, logging into `logsDir`.
    ProgramRun runOnce(const std::string& rule, const std::string& enableWireless,
                       const std::string& logsDir, const std::string& extra = "") {
        plist::Value p = plist::Value::dictionary();
        p.set("selectedInterfaceOption", plist::Value::string(rule));
        p.set("enableWireless", plist::Value::string(enableWireless));
        writeFile(dir.file("prefs.plist"), plist::toXml(p), 0600);
        return runAgent(dir, "--once --tools-dir '" + tools + "' --wifi 'sim:" + simPath +
                                 "' --prefs '" + dir.file("prefs.plist") + "' --logs-dir '" +
                                 logsDir + "' " + extra);
    }

    TempDir dir;
    std::string tools, simPath = dir.file("wifi.plist");
};

TEST_F(OnceEndToEndTest, EachRowOfTheRulesThroughTheProgram) {
    struct Case {
        const char* name;
        bool wifi, wired, radioOn;  // radioOn: powered and associated
        const char* rule;
        const char* enableWireless;
        const char* icon;
        std::vector<std::string> details, ops;
        const char* logLine;
        const char* extra = "";
        std::vector<std::string> actions = {};  // as --json names them
        const char* refusal = nullptr;          // every disconnect is refused with it
    };
    const std::vector<std::string> wiredDetails = {"IP address: 10.0.0.5",
                                                   "MAC address: A8:20:66:31:95:57",
                                                   "Interface name: en5/Thunderbolt Ethernet"};
    // clang-format off
    const Case cases[] = {
        {"both, rule 0", true, true, true, "0", "1", "ww-menubar", unassociated(), {"disassociate"},
         kDisconnect, "", {"wifi-disconnected"}},
        {"both, rule 0, refused", true, true, true, "0", "1", "ww-menubar", kWifiDetails, {},
         "Simulated Wi-Fi: cannot disconnect: Operation not permitted", "", {"wifi-disconnected"},
         "Operation not permitted"},
        {"both, rule 1", true, true, true, "1", "1", "ww-menubar", kWifiOffDetails, {"setPower:0"},
         kDisable, "", {"wifi-switched-off"}},
        {"both, no rule", true, true, true, "-1", "1", "ww-warning-menubar", kWifiDetails, {},
         kBothNoRule},
        {"wired only", false, true, true, "0", "1", "ww-menubar", wiredDetails, {"disassociate"},
         kWiredOnly, "", {"wifi-disconnected"}},
        {"Wi-Fi only", true, false, true, "1", "1", "ww-menubar", kWifiDetails, {}, kWifiOnly},
        {"nothing, enable wireless", false, false, false, "0", "1", "ww-menubar", unassociated(),
         {"setPower:1"}, kEnabling, "", {"wifi-switched-on"}},
        {"nothing, leave wireless off", false, false, false, "0", "0", "ww-warning-menubar",
         kWifiOffDetails, {}, kNoWirelessWanted},
        {"dry run", true, true, true, "1", "1", "ww-menubar", kWifiDetails, {},
         "Dry run: would switch Wi-Fi power off", "--dry-run", {"wifi-switched-off"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.file("ifconfig.txt"), ifconfigWith(c.wifi, c.wired));
        plist::Value sim = simWifi(c.radioOn, c.radioOn);
        if (c.refusal) sim.set("failDisconnect", plist::Value::string(c.refusal));
        writeFile(simPath, plist::toXml(sim));
        std::string logsDir = dir.file(std::string("logs ") + c.name);
        ProgramRun r = runOnce(c.rule, c.enableWireless, logsDir, c.extra);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, menuText(c.icon, c.details));
        EXPECT_EQ(simOperations(simPath), c.ops);
        std::string log = logFilesText(logsDir);
        EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
        EXPECT_NE(log.find("AppDelegate: getAllNetworksDetails - connected networks are"),
                  std::string::npos);
        // The log file starts with the banner; the terminal gets the same lines
        // and standard output none.
        size_t banner = log.find("Starting Wirewatch Version 1.0.1");
        EXPECT_LT(log.find(std::string(87, '-')), banner);
        EXPECT_LT(banner, log.find("OS Version "));
        EXPECT_NE(r.err.find("Starting Wirewatch Version 1.0.1"), std::string::npos);

        // The same check again, as JSON: one object that tells the same story.
        writeFile(simPath, plist::toXml(sim));
        r = runOnce(c.rule, c.enableWireless, logsDir, std::string("--json ") + c.extra);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.out.back(), '\n');
        ASSERT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line";
        nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_FALSE(j.is_discarded()) << r.out;
        EXPECT_EQ(j["schema"], 1);
        EXPECT_EQ(j["version"], "1.0.1");
        EXPECT_EQ(j["icon"], c.icon);
        EXPECT_EQ(j["state"], std::string(c.icon) == "ww-menubar" ? "normal" : "warning");
        EXPECT_EQ(j["connected"]["wired"], c.wired);
        EXPECT_EQ(j["connected"]["wifi"], c.wifi);
        EXPECT_EQ(j["rule"]["value"], std::stoi(c.rule));
        EXPECT_EQ(j["rule"]["source"], "preferences");
        EXPECT_EQ(j["rule"]["meaning"], std::string(c.rule) == "0"   ? "disconnect-wifi"
                                        : std::string(c.rule) == "1" ? "switch-wifi-off"
                                                                     : "none");
        EXPECT_EQ(j["enableWireless"]["value"], std::stoi(c.enableWireless));
        EXPECT_EQ(j["policy"], nullptr);
        EXPECT_EQ(j["backend"], "sim");
        EXPECT_EQ(j["backendRequested"], "sim");
        EXPECT_EQ(j["dryRun"], std::string(c.extra) == "--dry-run");
        EXPECT_EQ(j["menu"].get<std::vector<std::string>>(), c.details);
        std::vector<std::string> actions;
        for (const auto& a : j["actions"]) {
            actions.push_back(a["action"]);
            // A refused step says so, with the platform's reason, and changed nothing.
            EXPECT_EQ(a["ok"], c.refusal == nullptr);
            EXPECT_EQ(a["error"], c.refusal ? nlohmann::json(c.refusal) : nlohmann::json());
            if (c.refusal) {
                EXPECT_FALSE(a["changed"].get<bool>());
            }
            EXPECT_EQ(a["message"].get<std::string>().rfind("Dry run: ", 0) == 0,
                      std::string(c.extra) == "--dry-run");
        }
        EXPECT_EQ(actions, c.actions);
        const bool showsWifi = c.details.size() == kWifiDetails.size();
        EXPECT_EQ(j["shown"], showsWifi ? "wifi" : "wired");
        if (showsWifi) {
            ASSERT_TRUE(j["wifi"].is_object());
            EXPECT_EQ(j["wired"], nullptr);
            EXPECT_EQ(j["wifi"]["ssid"] == "Flowers By Irene", c.details[0] == kWifiDetails[0]);
            // A radio that is off shows no link, as in the menu.
            const bool powered = c.details != kWifiOffDetails;
            EXPECT_EQ(j["wifi"]["power"], powered);
            EXPECT_EQ(j["wifi"]["security"]["name"] == "WPA2 Personal", powered);
            EXPECT_EQ(j["wifi"]["channel"]["number"] == 36, powered);
            EXPECT_EQ(j["wifi"]["rssi"] == -55, powered);
        } else {
            EXPECT_EQ(j["wifi"], nullptr);
            EXPECT_EQ(j["wired"]["interface"], "en5");
            EXPECT_EQ(j["wired"]["name"], "Thunderbolt Ethernet");
            EXPECT_EQ(j["wired"]["ipAddress"], "10.0.0.5");
            EXPECT_EQ(j["wired"]["macAddress"], "A8:20:66:31:95:57");
        }
    }
}

TEST_F(OnceEndToEndTest, HostileNetworkNamesStillGiveValidJson) {
    // Quotes, a new line, a terminal escape, and bytes that are not UTF-8.
    const std::string ssid = "evil\"},\n\x1B[2J\\u0000\xFF\xC3 end";
    plist::Value sim = simWifi(true, true);
    sim.set("ssid", plist::Value::string(ssid));
    writeFile(simPath, plist::toXml(sim));
    writeFile(dir.file("ifconfig.txt"), ifconfigWith(true, false));
    ProgramRun r = runOnce("0", "1", dir.file("logs"), "--json");
    ASSERT_EQ(r.status, 0) << r.err;
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    // Every byte comes back as it was, but each bad one as U+FFFD.
    const std::string expected = "evil\"},\n\x1B[2J\\u0000\xEF\xBF\xBD\xEF\xBF\xBD end";
    EXPECT_EQ(j["wifi"]["ssid"], expected);
    EXPECT_EQ(j["menu"][0], "SSID: " + expected);
    // The text report keeps to one line per item.
    r = runOnce("0", "1", dir.file("logs"));
    EXPECT_EQ(r.out.substr(0, r.out.find('\n', r.out.find('\n') + 1) + 1),
              "icon: ww-menubar\nSSID: evil\"},??[2J\\u0000?? end\n");
}

// Without --wifi the agent chooses its backend at the first check and logs
// the choice; with no system bus and no wireless device (as on a build
// machine) that is none.
TEST_F(OnceEndToEndTest, WithoutAWifiOptionTheAgentChoosesNoneHere) {
    std::string sysfs = dir.file("empty-sys");
    ProgramRun r = runAgent(dir,
                            "--once --tools-dir '" + tools + "' --prefs '" +
                                dir.file("prefs.plist") + "' --logs-dir '" + dir.file("logs") + "'",
                            "DBUS_SYSTEM_BUS_ADDRESS='unix:path=" + dir.file("no-bus") +
                                "' WIREWATCH_WIFI_SYSFS_ROOT='" + sysfs + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    std::string expected =
        "Wi-Fi backend: none (nm: no system bus (No such file or directory); iwd: no system bus "
        "(No such file or directory); kernel: no wireless network device in " +
        sysfs + "/class/net)";
    std::string log = logFilesText(dir.file("logs"));
    EXPECT_NE(log.find(expected), std::string::npos) << log;
    EXPECT_NE(r.err.find(expected), std::string::npos) << "the terminal gets it too";
    EXPECT_EQ(log.find(expected), log.rfind(expected)) << "said once";

    // The JSON report names the backend chosen, not only the one asked for.
    r = runAgent(dir,
                 "--once --json --tools-dir '" + tools + "' --prefs '" + dir.file("prefs.plist") +
                     "' --logs-dir '" + dir.file("logs") + "'",
                 "DBUS_SYSTEM_BUS_ADDRESS='unix:path=" + dir.file("no-bus") +
                     "' WIREWATCH_WIFI_SYSFS_ROOT='" + sysfs + "'");
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    EXPECT_EQ(j["backend"], "none");
    EXPECT_EQ(j["backendRequested"], "auto");
}

TEST_F(OnceEndToEndTest, BadOptionsExitWithStatusTwo) {
    for (const char* extra : {"--bogus", "--wifi nonsense", "--tools-dir /nonexistent-dir",
                              "--usb-root /nonexistent-usb-root"}) {
        ProgramRun r = runAgent(dir, std::string("--once ") + extra);
        EXPECT_EQ(r.status, 2) << extra;
        EXPECT_NE(r.err.find("wirewatch: "), std::string::npos) << extra;
    }
    EXPECT_EQ(runOnce("0", "1", dir.file("logs"), "--wifi sim:" + dir.file("missing.plist")).status,
              2);
}

TEST_F(OnceEndToEndTest, HashPasswordHashesStandardInputForThePolicy) {
    writeFile(dir.file("pw"), "admin secret\nignored second line\n");
    ProgramRun r = runAgent(dir, "--hash-password <'" + dir.file("pw") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.back(), '\n');
    std::string hash = r.out.substr(0, r.out.size() - 1);
    EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
    ASSERT_GE(sodium_init(), 0);
    EXPECT_EQ(crypto_pwhash_str_verify(hash.c_str(), "admin secret", 12), 0);
    EXPECT_NE(crypto_pwhash_str_verify(hash.c_str(), "admin secre", 11), 0);

    // Nothing to hash: status 1 and a reason.
    for (const char* input : {"", "\n"}) {
        writeFile(dir.file("pw"), input);
        r = runAgent(dir, "--hash-password <'" + dir.file("pw") + "'");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("wirewatch: "), std::string::npos);
    }
}

// A FIFO, a device or /dev/zero behind a link would be read for ever: refused
// at start, with a message naming the file, before anything is started.
// One resident agent per session: a second one names the first and exits
// with status 1; --once, --status and --interfaces run beside it. The lock
// is in XDG_RUNTIME_DIR, else in the logs folder.
TEST_F(OnceEndToEndTest, OneResidentAgentPerSession) {
    writeFile(simPath, plist::toXml(simWifi(true, true)));
    writeFile(dir.file("ifconfig.txt"), ifconfigWith(true, false));
    const std::string common = "--tools-dir '" + tools + "' --wifi 'sim:" + simPath +
                               "' --prefs '" + dir.file("prefs.plist") + "' --logs-dir '" +
                               dir.file("logs") + "'";
    struct Case {
        const char* where;
        std::string environment, lockFile;
    };
    const Case cases[] = {
        {"the runtime folder", "XDG_RUNTIME_DIR='" + dir.file("runtime") + "'",
         dir.file("runtime") + "/wirewatch-agent.lock"},
        {"the logs folder", "", dir.file("logs") + "/wirewatch-agent.lock"},
    };
    ASSERT_EQ(::mkdir(dir.file("runtime").c_str(), 0700), 0);
    for (const Case& c : cases) {
        // The first agent, in the background; its process ID is what the
        // shell's exec leaves it.
        pid_t first = ::fork();
        ASSERT_GE(first, 0);
        if (first == 0) {
            std::string cmd = "exec env -u XDG_RUNTIME_DIR HOME='" + dir.path() + "' " +
                              c.environment + " WIREWATCH_REACHABILITY_HOST= '" + buildDir() +
                              "/bin/wirewatch' --headless " + common + " >/dev/null 2>&1";
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const std::string pid = std::to_string(first);
        EXPECT_TRUE(waitUntil([&] { return readFile(c.lockFile) == pid + "\n"; })) << c.where;

        // (Were it to run, timeout would end it with status 124.)
        ProgramRun second = runAgent(dir, "--headless " + common, c.environment + " timeout 20");
        EXPECT_EQ(second.status, 1) << c.where;
        EXPECT_EQ(second.err, "wirewatch: an agent already runs in this session (process " + pid +
                                  "); this one exits\n")
            << c.where;
        for (const char* beside : {"--once", "--status", "--interfaces"}) {
            ProgramRun r = runAgent(dir, std::string(beside) + " " + common, c.environment);
            EXPECT_EQ(r.status, 0) << c.where << " " << beside << ": " << r.err;
            EXPECT_FALSE(r.out.empty()) << c.where << " " << beside;
        }
        EXPECT_EQ(::waitpid(first, nullptr, WNOHANG), 0) << "the first agent still runs";
        ::kill(first, SIGTERM);
        int status = -1;
        ASSERT_EQ(::waitpid(first, &status, 0), first);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.where;
    }
}

TEST_F(OnceEndToEndTest, PreferencesThatAreNoRegularFileAreRefusedAtStart) {
    std::string fifo = dir.file("fifo.plist");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string zeroLink = dir.file("zero.plist");
    ASSERT_EQ(::symlink("/dev/zero", zeroLink.c_str()), 0);
    for (const std::string& prefs : {fifo, zeroLink, std::string("/dev/null"), dir.path()}) {
        ProgramRun r = runAgent(dir, "--once --tools-dir '" + tools + "' --prefs '" + prefs +
                                         "' --logs-dir '" + dir.file("logs") + "'");
        EXPECT_EQ(r.status, 2) << prefs;
        EXPECT_NE(r.err.find("wirewatch: preferences '" + prefs + "' is not a regular file"),
                  std::string::npos)
            << prefs << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << prefs;
    }
}

// The built agent started in the background, so that a test can wait for
// what it does and end it with a signal.
class BackgroundAgent {
  public:
    BackgroundAgent(const TempDir& dir, std::vector<std::string> args,
                    std::vector<std::string> env) {
        const std::string program = buildDir() + "/bin/wirewatch";
        args.insert(args.begin(), program);
        // The test's environment (sanitizer options included), but none of the
        // agent's own variables and none of those the test sets.
        for (char** e = environ; *e; ++e) {
            std::string_view v = *e;
            bool overridden = v.rfind("WIREWATCH_", 0) == 0;
            for (const auto& mine : env) {
                overridden |= v.substr(0, v.find('=') + 1) == mine.substr(0, mine.find('=') + 1);
            }
            if (!overridden) env.emplace_back(v);
        }
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, dir.file("out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, dir.file("err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none, defaults;
        sigemptyset(&none);
        sigemptyset(&defaults);
        for (int sig : {SIGTERM, SIGINT, SIGSEGV}) sigaddset(&defaults, sig);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (::posix_spawn(&m_pid, program.c_str(), &actions, &attributes, argv.data(),
                          envp.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        if (m_pid > 0) m_exited = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    }
    ~BackgroundAgent() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_exited >= 0) ::close(m_exited);
    }
    BackgroundAgent(const BackgroundAgent&) = delete;
    BackgroundAgent& operator=(const BackgroundAgent&) = delete;

    pid_t pid() const { return m_pid; }

    // Waits, on changes in `folder`, until `done` holds; false when the agent
    // ended or 30 s passed first.
    bool waitFor(const std::string& folder, const std::function<bool()>& done) {
        int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (watch < 0 || m_exited < 0) return false;
        ::inotify_add_watch(watch, folder.c_str(),
                            IN_CREATE | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
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

    // Sends `sig` and waits up to 20 s for the end: its wait status, or
    // nothing when it did not end (it is then killed).
    std::optional<int> signalAndWait(int sig) {
        if (m_pid <= 0 || m_exited < 0) return std::nullopt;
        ::kill(m_pid, sig);
        pollfd end{m_exited, POLLIN, 0};
        const bool ended = ::poll(&end, 1, 20000) == 1;
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
};

// Start-up reads the autostart folder. A FIFO there would block the open for
// ever and a link to /dev/zero never ends: both are skipped, the agent starts
// (its own entry appears), and SIGTERM ends it.
TEST_F(OnceEndToEndTest, HostileAutostartEntriesHoldUpNeitherStartNorStop) {
    const std::string autostart = dir.file("config/autostart");
    ASSERT_TRUE(file::makeDirectories(autostart));
    ASSERT_EQ(::mkfifo((autostart + "/zz-other.desktop").c_str(), 0644), 0);
    // After the FIFO in name order, so an agent stuck on the FIFO never reads it.
    ASSERT_EQ(::symlink("/dev/zero", (autostart + "/zzz-zero.desktop").c_str()), 0);
    plist::Value p = plist::Value::dictionary();
    p.set("loadOnStartUp", plist::Value::string("1"));
    writeFile(dir.file("prefs.plist"), plist::toXml(p), 0600);

    BackgroundAgent agent(dir,
                          {"--headless", "--tools-dir", tools, "--wifi", "none", "--prefs",
                           dir.file("prefs.plist"), "--logs-dir", dir.file("logs")},
                          {"HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.file("config")});
    ASSERT_GT(agent.pid(), 0);
    // Start-up is over once the agent has written its own entry.
    EXPECT_TRUE(agent.waitFor(autostart, [&] {
        return ::access((autostart + "/wirewatch.desktop").c_str(), F_OK) == 0;
    })) << readFile(dir.file("err"));
    std::optional<int> status = agent.signalAndWait(SIGTERM);
    ASSERT_TRUE(status) << "SIGTERM did not end the agent";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << *status << readFile(dir.file("err"));
}

// A fatal signal leaves a crash note in the logs folder, and the agent still
// dies of that signal (so that a service manager sees a crash).
TEST_F(OnceEndToEndTest, AFatalSignalLeavesACrashNoteAndEndsTheAgentWithIt) {
    const std::string logs = dir.file("logs");
    ASSERT_TRUE(file::makeDirectories(logs));
    BackgroundAgent agent(dir,
                          {"--headless", "--tools-dir", tools, "--wifi", "none", "--prefs",
                           dir.file("prefs.plist"), "--logs-dir", logs},
                          {"HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.file("config")});
    ASSERT_GT(agent.pid(), 0);
    const pid_t pid = agent.pid();
    // The log file exists once start-up is well under way (after the handler).
    ASSERT_TRUE(agent.waitFor(logs, [&] { return !logFilesText(logs).empty(); }))
        << readFile(dir.file("err"));
    std::optional<int> status = agent.signalAndWait(SIGSEGV);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGSEGV) << *status;
    const std::string note = readFile(logs + "/crash-" + std::to_string(pid) + ".txt");
    EXPECT_NE(note.find("(pid " + std::to_string(pid) + ") crashed: fatal signal 11 at unix time "),
              std::string::npos)
        << note;
    EXPECT_NE(note.find("\nbacktrace:\n"), std::string::npos) << note;
}

// A dry run changes no file outside the logs: the autostart folder stays as it
// is, whether the preference asks for our entry or against it.
TEST_F(OnceEndToEndTest, ADryRunLeavesTheAutostartFolderAlone) {
    const std::string autostart = dir.file("config/autostart");
    ASSERT_TRUE(file::makeDirectories(autostart));
    char real[PATH_MAX];
    ASSERT_TRUE(::realpath((buildDir() + "/bin/wirewatch").c_str(), real));
    const std::string ours = "[Desktop Entry]\nType=Application\nExec=" + std::string(real) + "\n";
    const std::string helper =
        "[Desktop Entry]\nType=Application\nExec=" + std::string(real) + "-helper\n";
    writeFile(autostart + "/wirewatch.desktop", ours);
    writeFile(autostart + "/helper.desktop", helper);
    const std::string env = "XDG_CONFIG_HOME='" + dir.file("config") + "'";
    auto run = [&](const char* loadOnStartUp) {
        plist::Value p = plist::Value::dictionary();
        p.set("loadOnStartUp", plist::Value::string(loadOnStartUp));
        writeFile(dir.file("prefs.plist"), plist::toXml(p), 0600);
        return runAgent(dir,
                        "--once --dry-run --tools-dir '" + tools + "' --wifi none --prefs '" +
                            dir.file("prefs.plist") + "' --logs-dir '" + dir.file("logs") + "'",
                        env);
    };
    ProgramRun r = run("0");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(listDir(autostart),
              (std::vector<std::string>{"helper.desktop", "wirewatch.desktop"}));
    EXPECT_EQ(readFile(autostart + "/wirewatch.desktop"), ours);
    EXPECT_EQ(readFile(autostart + "/helper.desktop"), helper);

    ASSERT_EQ(::unlink((autostart + "/wirewatch.desktop").c_str()), 0);
    r = run("1");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(listDir(autostart), std::vector<std::string>{"helper.desktop"});
}

}  // namespace
}  // namespace ww::test
