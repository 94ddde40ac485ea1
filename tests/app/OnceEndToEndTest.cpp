// The built program, end to end: `wirewatch --once` with a fixture tools
// directory (scripts printing captured macOS output) and a simulated Wi-Fi.

#include <gtest/gtest.h>
#include <sodium.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/FileUtil.h"
#include "tests/support/app_TestSupport.h"
#include "tests/support/common_Children.h"

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

class OnceEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tools = writeCapturedTools(dir, kFixtures, dir.file("ifconfig.txt"));
        ASSERT_FALSE(tools.empty());
    }

    void writePrefs(const plist::Value::Dictionary& keys) {
        writePlist(dir.file("prefs.plist"), keys, 0600);
    }
    // The tools, preferences and logs options, quoted.
    std::string paths(const std::string& prefs, const std::string& logs) {
        return " --tools-dir '" + tools + "' --prefs '" + prefs + "' --logs-dir '" + logs + "' ";
    }
    // The options of a resident agent on this Wi-Fi.
    std::vector<std::string> resident(const std::string& wifi) {
        return {"--headless", "--tools-dir",           tools,        "--wifi",        wifi,
                "--prefs",    dir.file("prefs.plist"), "--logs-dir", dir.file("logs")};
    }

    // One run of `wirewatch --once` with these preferences, logging into `logsDir`.
    ProgramRun runOnce(const std::string& rule, const std::string& enableWireless,
                       const std::string& logsDir, const std::string& extra = "") {
        writePrefs({{"selectedInterfaceOption", plist::Value::string(rule)},
                    {"enableWireless", plist::Value::string(enableWireless)}});
        return runAgent(dir, "--once --wifi 'sim:" + simPath + "'" +
                                 paths(dir.file("prefs.plist"), logsDir) + extra);
    }

    TempDir dir;
    std::string tools, simPath = dir.file("wifi.plist");
};

// The rows that prove the program wires the check to the real parts: the
// captured tools, the simulated Wi-Fi, the log, the text and JSON reports and a
// dry run. Every row of the rules is in the decision table test; the lab runs
// rule 0 and a refused step against real Wi-Fi stacks.
TEST_F(OnceEndToEndTest, RulesThroughTheProgram) {
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
    };
    const std::vector<std::string> wiredDetails = {"IP address: 10.0.0.5",
                                                   "MAC address: A8:20:66:31:95:57",
                                                   "Interface name: en5/Thunderbolt Ethernet"};
    // clang-format off
    const Case cases[] = {
        {"wired only", false, true, true, "0", "1", "ww-menubar", wiredDetails, {"disassociate"},
         kWiredOnly, "", {"wifi-disconnected"}},
        {"nothing, leave wireless off", false, false, false, "0", "0", "ww-warning-menubar",
         kWifiOffDetails, {}, kNoWirelessWanted},
        {"dry run", true, true, true, "1", "1", "ww-menubar", kWifiDetails, {},
         "Dry run: would switch Wi-Fi power off", "--dry-run", {"wifi-switched-off"}},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.file("ifconfig.txt"), ifconfigWith(c.wifi, c.wired));
        const plist::Value sim = simWifi(c.radioOn, c.radioOn);
        writeFile(simPath, plist::toXml(sim));
        std::string logsDir = dir.file(std::string("logs ") + c.name);
        ProgramRun r = runOnce(c.rule, c.enableWireless, logsDir, c.extra);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, menuText(c.icon, c.details));
        EXPECT_EQ(simOperations(simPath), c.ops);
        std::string log = logFilesText(logsDir);
        EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
        // The log file starts with the banner; the terminal gets the same lines.
        EXPECT_LT(log.find(std::string(87, '-')), log.find("Starting Wirewatch Version 1.0.1"));
        EXPECT_NE(r.err.find("Starting Wirewatch Version 1.0.1"), std::string::npos);

        // The same check again, as JSON: one line that tells the same story.
        writeFile(simPath, plist::toXml(sim));
        r = runOnce(c.rule, c.enableWireless, logsDir, std::string("--json ") + c.extra);
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line";
        nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
        ASSERT_FALSE(j.is_discarded()) << r.out;
        EXPECT_EQ(j["icon"], c.icon);
        EXPECT_EQ(j["menu"].get<std::vector<std::string>>(), c.details);
        EXPECT_EQ(j["dryRun"], std::string(c.extra) == "--dry-run");
        std::vector<std::string> actions;
        for (const auto& a : j["actions"]) {
            actions.push_back(a["action"]);
            EXPECT_EQ(a["ok"], true);
        }
        EXPECT_EQ(actions, c.actions);
    }
}

// Without --wifi the agent chooses its backend at the first check and logs
// the choice; with no system bus and no wireless device (as on a build
// machine) that is none, and the JSON report names it beside the one asked for.
TEST_F(OnceEndToEndTest, WithoutAWifiOptionTheAgentChoosesNoneHere) {
    std::string sysfs = dir.file("empty-sys");
    // Wired and Wi-Fi both up, rule 0, and no backend to act through.
    writeFile(dir.file("ifconfig.txt"), ifconfigWith(true, true));
    ProgramRun r = runAgent(dir, "--once --json" + paths(dir.file("prefs.plist"), dir.file("logs")),
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
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << r.out;
    EXPECT_EQ(j["backend"], "none");
    EXPECT_EQ(j["backendRequested"], "auto");
    // The rule could not act: a refusal, not silence.
    ASSERT_EQ(j["actions"].size(), 1u) << r.out;
    EXPECT_EQ(j["actions"][0]["action"], "wifi-disconnected");
    EXPECT_EQ(j["actions"][0]["ok"], false);
    EXPECT_NE(j["actions"][0]["error"].get<std::string>().find("no Wi-Fi backend"),
              std::string::npos);
}

// Bad options, and preferences that are no regular file (a FIFO, a device or
// /dev/zero behind a link would be read for ever), end the program at start
// with status 2 and a reason, before anything is started.
TEST_F(OnceEndToEndTest, BadOptionsAndPreferencesExitWithStatusTwo) {
    const std::string fifo = dir.file("fifo.plist"), zeroLink = dir.file("zero.plist");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", zeroLink.c_str()), 0);
    std::vector<std::pair<std::string, std::string>> cases = {
        {"--bogus", "wirewatch: "},
        {"--wifi nonsense", "wirewatch: "},
        {"--tools-dir /nonexistent-dir", "wirewatch: "},
        {"--usb-root /nonexistent-usb-root", "wirewatch: "},
        {"--wifi sim:" + dir.file("missing.plist") +
             paths(dir.file("prefs.plist"), dir.file("logs")),
         "wirewatch: "}};
    for (const std::string& prefs : {fifo, zeroLink, std::string("/dev/null"), dir.path()}) {
        cases.emplace_back(paths(prefs, dir.file("logs")),
                           "wirewatch: preferences '" + prefs + "' is not a regular file");
    }
    for (const auto& [options, reason] : cases) {
        ProgramRun r = runAgent(dir, "--once " + options);
        EXPECT_EQ(r.status, 2) << options;
        EXPECT_NE(r.err.find(reason), std::string::npos) << options << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << options;
    }
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

// The built agent started in the background with the test's environment
// (sanitizer options included), but none of the agent's own variables, no
// XDG_RUNTIME_DIR and none of those in `env`; its output goes to agent.out and
// agent.err in `dir`.
std::unique_ptr<Child> startAgent(const TempDir& dir, std::vector<std::string> args,
                                  std::vector<std::string> env) {
    for (char** e = environ; *e; ++e) {
        std::string_view v = *e;
        bool overridden = v.starts_with("WIREWATCH_") || v.starts_with("XDG_RUNTIME_DIR=");
        for (const auto& mine : env) {
            overridden |= v.substr(0, v.find('=') + 1) == mine.substr(0, mine.find('=') + 1);
        }
        if (!overridden) env.emplace_back(v);
    }
    return std::make_unique<Child>(buildDir() + "/bin/wirewatch", std::move(args), std::move(env),
                                   dir.file("agent.out"), dir.file("agent.err"));
}

// One resident agent per session: a second one names the first and exits
// with status 1; --once, --status and --interfaces run beside it. The lock
// is in XDG_RUNTIME_DIR, else in the logs folder.
TEST_F(OnceEndToEndTest, OneResidentAgentPerSession) {
    writeFile(simPath, plist::toXml(simWifi(true, true)));
    writeFile(dir.file("ifconfig.txt"), ifconfigWith(true, false));
    // The resident agent's arguments; the others run with all but the first.
    const std::vector<std::string> args = resident("sim:" + simPath);
    std::string common;
    for (size_t i = 1; i < args.size(); ++i) common += " '" + args[i] + "'";
    ASSERT_EQ(::mkdir(dir.file("runtime").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.file("logs").c_str(), 0700), 0);
    for (const bool runtime : {true, false}) {
        SCOPED_TRACE(runtime ? "the runtime folder" : "the logs folder");
        const std::string lockDir = runtime ? dir.file("runtime") : dir.file("logs");
        const std::string lockFile = lockDir + "/wirewatch-agent.lock";
        const std::string environment =
            runtime ? "XDG_RUNTIME_DIR='" + dir.file("runtime") + "'" : "";
        std::vector<std::string> env = {"HOME=" + dir.path(), "WIREWATCH_REACHABILITY_HOST="};
        if (runtime) env.push_back("XDG_RUNTIME_DIR=" + dir.file("runtime"));
        auto first = startAgent(dir, args, env);
        ASSERT_GT(first->pid(), 0);
        const std::string pid = std::to_string(first->pid());
        ASSERT_TRUE(first->waitFor(lockDir, [&] { return readFile(lockFile) == pid + "\n"; }))
            << readFile(dir.file("agent.err"));

        // (Were it to run, timeout would end it with status 124.)
        ProgramRun second = runAgent(dir, "--headless" + common, environment + " timeout 20");
        EXPECT_EQ(second.status, 1);
        EXPECT_EQ(second.err, "wirewatch: an agent already runs in this session (process " + pid +
                                  "); this one exits\n");
        for (const char* beside : {"--once", "--status", "--interfaces"}) {
            ProgramRun r = runAgent(dir, beside + common, environment);
            EXPECT_EQ(r.status, 0) << beside << ": " << r.err;
            EXPECT_FALSE(r.out.empty()) << beside;
        }
        std::optional<int> status = first->signalAndWait(SIGTERM);
        ASSERT_TRUE(status) << "the first agent ended before SIGTERM or not at all";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
    }
}

// Start-up reads the autostart folder. A FIFO there would block the open for
// ever and a link to /dev/zero never ends: both are skipped, the agent starts
// (its own entry appears), and SIGTERM ends it.
TEST_F(OnceEndToEndTest, HostileAutostartEntriesHoldUpNeitherStartNorStop) {
    const std::string autostart = dir.file("config/autostart");
    ASSERT_TRUE(file::makeDirectories(autostart));
    ASSERT_EQ(::mkfifo((autostart + "/zz-other.desktop").c_str(), 0644), 0);
    // After the FIFO in name order, so an agent stuck on the FIFO never reads it.
    ASSERT_EQ(::symlink("/dev/zero", (autostart + "/zzz-zero.desktop").c_str()), 0);
    writePrefs({{"loadOnStartUp", plist::Value::string("1")}});
    auto agent = startAgent(dir, resident("none"),
                            {"HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.file("config")});
    ASSERT_GT(agent->pid(), 0);
    // Start-up is over once the agent has written its own entry.
    EXPECT_TRUE(agent->waitFor(autostart, [&] {
        return ::access((autostart + "/wirewatch.desktop").c_str(), F_OK) == 0;
    })) << readFile(dir.file("agent.err"));
    std::optional<int> status = agent->signalAndWait(SIGTERM);
    ASSERT_TRUE(status) << "SIGTERM did not end the agent";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
        << *status << readFile(dir.file("agent.err"));
}

// A fatal signal leaves a crash note in the logs folder, and the agent still
// dies of that signal (so that a service manager sees a crash).
TEST_F(OnceEndToEndTest, AFatalSignalLeavesACrashNoteAndEndsTheAgentWithIt) {
    const std::string logs = dir.file("logs");
    ASSERT_TRUE(file::makeDirectories(logs));
    auto agent = startAgent(dir, resident("none"),
                            {"HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.file("config")});
    ASSERT_GT(agent->pid(), 0);
    const pid_t pid = agent->pid();
    // The log file exists once start-up is well under way (after the handler).
    ASSERT_TRUE(agent->waitFor(logs, [&] { return !logFilesText(logs).empty(); }))
        << readFile(dir.file("agent.err"));
    std::optional<int> status = agent->signalAndWait(SIGSEGV);
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
        writePrefs({{"loadOnStartUp", plist::Value::string(loadOnStartUp)}});
        return runAgent(
            dir, "--once --dry-run --wifi none" + paths(dir.file("prefs.plist"), dir.file("logs")),
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
