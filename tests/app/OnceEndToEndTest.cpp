// The built program, end to end: `wirewatch --once` with a fixture tools
// directory (scripts printing captured macOS output) and a simulated Wi-Fi.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "tests/support/app_TestSupport.h"

namespace ww::test {
namespace {

const char* kIfconfigBoth = R"(lo0: flags=8049<UP,LOOPBACK,RUNNING,MULTICAST> mtu 16384
	options=1203<RXCSUM,TXCSUM,TXSTATUS,SW_TIMESTAMP>
	inet 127.0.0.1 netmask 0xff000000 
	inet6 ::1 prefixlen 128 
en0: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500
	ether 8c:2d:aa:33:03:e9 
	inet6 fe80::1c8b:5f3a:8f2e:11d2%en0 prefixlen 64 secured scopeid 0x4 
	inet 192.168.1.20 netmask 0xffffff00 broadcast 192.168.1.255
	nd6 options=201<PERFORMNUD,DAD>
	media: autoselect
	status: active
en5: flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500
	ether a8:20:66:31:95:57 
	inet 10.0.0.5 netmask 0xffffff00 broadcast 10.0.0.255
	media: autoselect (1000baseT <full-duplex>)
	status: active
)";

const char* kNetworksetup = R"(
Hardware Port: Wi-Fi
Device: en0
Ethernet Address: 8c:2d:aa:33:03:e9

Hardware Port: Thunderbolt Ethernet
Device: en5
Ethernet Address: a8:20:66:31:95:57

VLAN Configurations
===================
)";

const char* kSystemProfiler = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<array>
	<dict>
		<key>_dataType</key><string>SPNetworkDataType</string>
		<key>_items</key>
		<array>
			<dict>
				<key>_name</key><string>Thunderbolt Ethernet</string>
				<key>interface</key><string>en5</string>
				<key>type</key><string>Ethernet</string>
				<key>spnetwork_service_order</key><integer>0</integer>
			</dict>
			<dict>
				<key>_name</key><string>Wi-Fi</string>
				<key>interface</key><string>en0</string>
				<key>type</key><string>AirPort</string>
				<key>spnetwork_service_order</key><integer>1</integer>
			</dict>
		</array>
	</dict>
</array>
</plist>
)";

// Keeps only the blocks of the named interfaces (plus lo0).
std::string ifconfigWith(bool wifi, bool wired) {
    std::string all = kIfconfigBoth;
    std::string out;
    size_t en0 = all.find("en0:"), en5 = all.find("en5:");
    out += all.substr(0, en0);
    if (wifi) out += all.substr(en0, en5 - en0);
    if (wired) out += all.substr(en5);
    return out;
}

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

class OnceEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        tools = dir.path() + "/tools";
        file::makeDirectories(tools);
        file::makeDirectories(dir.path() + "/fixture");
        setConnected(true, true);
        writeFile(dir.file("fixture/networksetup.txt"), kNetworksetup);
        writeFile(dir.file("fixture/system_profiler.txt"), kSystemProfiler);
        for (const char* tool : {"ifconfig", "networksetup", "system_profiler"}) {
            writeFile(tools + "/" + tool,
                      "#!/bin/sh\ncat '" + dir.path() + "/fixture/" + tool + ".txt'\n", 0755);
        }
        std::string airport = buildDir() + "/libexec/wirewatch/airport";
        ASSERT_EQ(::symlink(airport.c_str(), (tools + "/airport").c_str()), 0);
        simPath = dir.file("wifi.plist");
        writeFile(simPath, plist::toXml(simWifi(true, true)));
        prefsPath = dir.file("prefs.plist");
        logsDir = dir.file("logs");
    }

    void setConnected(bool wifi, bool wired) {
        writeFile(dir.file("fixture/ifconfig.txt"), ifconfigWith(wifi, wired));
    }

    void setPrefs(const std::string& rule, const std::string& enableWireless) {
        plist::Value p = plist::Value::dictionary();
        p.set("selectedInterfaceOption", plist::Value::string(rule));
        p.set("enableWireless", plist::Value::string(enableWireless));
        writeFile(prefsPath, plist::toXml(p), 0600);
    }

    ProgramRun runWirewatch(const std::string& extra = "") {
        ProgramRun r;
        std::string cmd = "env -u WIREWATCH_TOOLS_DIR -u WIREWATCH_WIFI -u WIREWATCH_PREFS "
                          "-u WIREWATCH_LOGS_DIR -u WIREWATCH_USB_ROOT HOME='" + dir.path() + "' '" +
                          buildDir() + "/bin/wirewatch' --once --tools-dir '" + tools +
                          "' --wifi 'sim:" + simPath + "' --prefs '" + prefsPath +
                          "' --logs-dir '" + logsDir + "' " + extra + " >'" + dir.file("out") +
                          "' 2>'" + dir.file("err") + "'";
        int status = std::system(cmd.c_str());
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readFile(dir.file("out"));
        r.err = readFile(dir.file("err"));
        return r;
    }

    std::string logFileText() {
        std::string text;
        DIR* d = ::opendir(logsDir.c_str());
        if (!d) return text;
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind("log-", 0) == 0) text += readFile(logsDir + "/" + name);
        }
        ::closedir(d);
        return text;
    }

    TempDir dir;
    std::string tools, simPath, prefsPath, logsDir;
};

const char* kWifiValues =
    "SSID: Flowers By Irene\nBSSID: 4C:43:41:04:1C:BC\nRSSI: -55 dBm\nNoise: -90 dBm\n"
    "Channel: 36/5 GHz (80 MHz)\nMCS Index: 9\nSecurity: WPA2 Personal\nOp Mode: Infrastructure\n"
    "PHY Mode: 802.11ac\nTransmit Rate: 866 Mbps\n";

TEST_F(OnceEndToEndTest, WiredAndWiFiUnderEachRule) {
    struct Case {
        const char* rule;
        const char* icon;
        std::vector<std::string> ops;
        const char* menu;
        const char* logLine;
    };
    const Case cases[] = {
        {"0", "ww-menubar", {"disassociate"},
         "SSID:\nBSSID: \nRSSI: -55 dBm\nNoise: -90 dBm\nChannel: 36/5 GHz (80 MHz)\nMCS Index: 9\n"
         "Security: WPA2 Personal\nOp Mode: Infrastructure\nPHY Mode: 802.11ac\nTransmit Rate: 866 Mbps\n",
         "AppDelegate: disconnecting wireless as wired is connected, rule is configured to do so.. "},
        {"1", "ww-menubar", {"setPower:0"},
         "SSID:\nBSSID:\nRSSI:\nNoise:\nChannel:\nMCS Index: N/A\nSecurity:\nOp Mode:\nPHY Mode:\n"
         "Transmit Rate:\n",
         "AppDelegate: disabling wireless as wired is connected, rule is configured to do so.. "},
        {"-1", "ww-warning-menubar", {}, kWifiValues,
         "AppDelegate: both wired & wireless are connected, and no rule is configured..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        writeFile(simPath, plist::toXml(simWifi(true, true)));
        setPrefs(c.rule, "1");
        ProgramRun r = runWirewatch();
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, std::string("icon: ") + c.icon + "\n" + c.menu);
        EXPECT_EQ(simOperations(simPath), c.ops);
        std::string log = logFileText();
        EXPECT_NE(log.find("AppDelegate: getAllNetworksDetails - connected networks are"), std::string::npos);
        EXPECT_NE(log.find(c.logLine), std::string::npos) << log;
    }
}

TEST_F(OnceEndToEndTest, WiredOnlyShowsThePreferredWiredInterface) {
    setConnected(false, true);
    setPrefs("0", "1");
    ProgramRun r = runWirewatch();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "icon: ww-menubar\nIP address: 10.0.0.5\nMAC address: A8:20:66:31:95:57\n"
              "Interface name: en5/Thunderbolt Ethernet\n");
    EXPECT_EQ(simOperations(simPath), (std::vector<std::string>{"disassociate"}));
}

TEST_F(OnceEndToEndTest, WiFiOnlyAppliesNoRule) {
    setConnected(true, false);
    setPrefs("1", "1");
    ProgramRun r = runWirewatch();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string("icon: ww-menubar\n") + kWifiValues);
    EXPECT_TRUE(simOperations(simPath).empty());
    EXPECT_NE(logFileText().find("AppDelegate: system is connected via wifi only so no rule will be executed......"),
              std::string::npos);
}

TEST_F(OnceEndToEndTest, NothingConnected) {
    setConnected(false, false);
    writeFile(simPath, plist::toXml(simWifi(false, false)));

    setPrefs("0", "1");
    ProgramRun on = runWirewatch();
    ASSERT_EQ(on.status, 0) << on.err;
    EXPECT_EQ(on.out.substr(0, on.out.find('\n')), "icon: ww-menubar");
    EXPECT_EQ(simOperations(simPath), (std::vector<std::string>{"setPower:1"}));
    EXPECT_NE(logFileText().find("AppDelegate: enabling wireless as enable wireless is true..."),
              std::string::npos);

    writeFile(simPath, plist::toXml(simWifi(false, false)));
    setPrefs("0", "0");
    ProgramRun off = runWirewatch();
    ASSERT_EQ(off.status, 0) << off.err;
    EXPECT_EQ(off.out.substr(0, off.out.find('\n')), "icon: ww-warning-menubar");
    EXPECT_TRUE(simOperations(simPath).empty());
    EXPECT_NE(logFileText().find("user havent' selected to enable wireless so nothing to do.."),
              std::string::npos);
}

TEST_F(OnceEndToEndTest, DryRunChangesNothingAndSaysWhatItWouldDo) {
    setPrefs("1", "1");
    ProgramRun r = runWirewatch("--dry-run");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(simOperations(simPath).empty());
    EXPECT_NE(logFileText().find("Dry run: would switch Wi-Fi power off"), std::string::npos);
}

TEST_F(OnceEndToEndTest, TheLogFileStartsWithTheBannerAndTheTerminalGetsTheSameLines) {
    setPrefs("0", "1");
    ProgramRun r = runWirewatch();
    ASSERT_EQ(r.status, 0);
    std::string log = logFileText();
    size_t rule = log.find(std::string(87, '-'));
    size_t banner = log.find("Starting Wirewatch Version 1.0.1");
    size_t os = log.find("OS Version ");
    ASSERT_NE(rule, std::string::npos);
    EXPECT_LT(rule, banner);
    EXPECT_LT(banner, os);
    EXPECT_NE(r.err.find("Starting Wirewatch Version 1.0.1"), std::string::npos);
    EXPECT_EQ(r.out.find("Starting"), std::string::npos);  // logs never reach standard output
}

TEST_F(OnceEndToEndTest, BadOptionsExitWithStatusTwo) {
    for (const char* extra : {"--bogus", "--wifi nonsense", "--tools-dir /nonexistent-dir"}) {
        std::string cmd = "'" + buildDir() + "/bin/wirewatch' --once " + extra + " >/dev/null 2>'" +
                          dir.file("err") + "'";
        int status = std::system(cmd.c_str());
        EXPECT_EQ(WEXITSTATUS(status), 2) << extra;
        EXPECT_NE(readFile(dir.file("err")).find("wirewatch: "), std::string::npos) << extra;
    }
    ProgramRun sim = runWirewatch("--wifi sim:" + dir.file("missing.plist"));
    EXPECT_EQ(sim.status, 2);
}

}  // namespace
}  // namespace ww::test
