// The built program, end to end: `wirewatch --once` with a fixture tools
// directory (scripts printing captured macOS output) and a simulated Wi-Fi.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
        tools = dir.file("tools");
        file::makeDirectories(tools);
        for (std::string output : {dir.file("ifconfig.txt"), kFixtures + "networksetup.txt",
                                   kFixtures + "system_profiler.xml"}) {
            std::string tool = output.substr(output.rfind('/') + 1);
            tool.resize(tool.find('.'));
            writeFile(tools + "/" + tool, "#!/bin/sh\ncat '" + output + "'\n", 0755);
        }
        std::string airport = buildDir() + "/libexec/wirewatch/airport";
        ASSERT_EQ(::symlink(airport.c_str(), (tools + "/airport").c_str()), 0);
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
    };
    const std::vector<std::string> wiredDetails = {"IP address: 10.0.0.5",
                                                   "MAC address: A8:20:66:31:95:57",
                                                   "Interface name: en5/Thunderbolt Ethernet"};
    // clang-format off
    const Case cases[] = {
        {"both, rule 0", true, true, true, "0", "1", "ww-menubar", unassociated(), {"disassociate"},
         kDisconnect},
        {"both, rule 1", true, true, true, "1", "1", "ww-menubar", kWifiOffDetails, {"setPower:0"},
         kDisable},
        {"both, no rule", true, true, true, "-1", "1", "ww-warning-menubar", kWifiDetails, {},
         kBothNoRule},
        {"wired only", false, true, true, "0", "1", "ww-menubar", wiredDetails, {"disassociate"},
         kWiredOnly},
        {"Wi-Fi only", true, false, true, "1", "1", "ww-menubar", kWifiDetails, {}, kWifiOnly},
        {"nothing, enable wireless", false, false, false, "0", "1", "ww-menubar", unassociated(),
         {"setPower:1"}, kEnabling},
        {"nothing, leave wireless off", false, false, false, "0", "0", "ww-warning-menubar",
         kWifiOffDetails, {}, kNoWirelessWanted},
        {"dry run", true, true, true, "1", "1", "ww-menubar", kWifiDetails, {},
         "Dry run: would switch Wi-Fi power off", "--dry-run"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(dir.file("ifconfig.txt"), ifconfigWith(c.wifi, c.wired));
        writeFile(simPath, plist::toXml(simWifi(c.radioOn, c.radioOn)));
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
    }
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

// A FIFO, a device or /dev/zero behind a link would be read for ever: refused
// at start, with a message naming the file, before anything is started.
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

}  // namespace
}  // namespace ww::test
