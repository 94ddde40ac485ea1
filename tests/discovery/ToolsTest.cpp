// The stand-in tools' pieces: what they print must read back through the
// agent's own parsers, and the hardware-port rules must pick the right devices.
#include <net/if.h>
// clang-format off
#include <linux/if.h>
#include <linux/if_arp.h>
// clang-format on
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <set>

#include "DiscoveryTestSupport.h"
#include "discovery/AirPortParser.h"
#include "discovery/IfconfigParser.h"
#include "discovery/NetworkInventory.h"
#include "discovery/NetworksetupParser.h"
#include "discovery/ShellCommand.h"
#include "discovery/SystemProfilerParser.h"
#include "discovery/WWUtils.h"
#include "tests/support/usb_FakeSysfs.h"
#include "tools/HardwarePorts.h"
#include "tools/ToolOutput.h"

namespace ww::tools {
namespace {

Link makeLink(int index, const std::string& name, bool active, std::vector<IPv4Address> v4 = {},
              std::optional<std::string> mac = "02:00:00:00:00:01",
              std::vector<IPv6Address> v6 = {}) {
    Link l;
    l.index = index;
    l.name = name;
    l.flags = IFF_UP | IFF_BROADCAST | IFF_MULTICAST |
              (active ? IFF_RUNNING | unsigned(IFF_LOWER_UP) : 0);
    l.hardwareType = ARPHRD_ETHER;
    l.mtu = 1500;
    l.hardwareAddress = mac;
    l.active = active;
    l.ipv4 = std::move(v4);
    l.ipv6 = std::move(v6);
    return l;
}

NetworkSnapshot sampleSnapshot() {
    Link lo =
        makeLink(1, "lo", true, {{"127.0.0.1", 8, {}, {}}}, std::nullopt, {{"::1", 128, false}});
    lo.flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING | unsigned(IFF_LOWER_UP);
    lo.hardwareType = ARPHRD_LOOPBACK;
    lo.mtu = 65536;
    Link tun = makeLink(4, "tun0", true, {{"10.8.0.6", 32, {}, "10.8.0.5"}}, std::nullopt);
    tun.hardwareType = ARPHRD_NONE;
    tun.flags = IFF_UP | IFF_POINTOPOINT | IFF_RUNNING;
    NetworkSnapshot s;
    s.links = {
        lo,
        makeLink(2, "eth0", true, {{"198.51.100.2", 24, "198.51.100.255", {}}}, "02:fc:00:00:00:01",
                 {{"fe80::fc:ff:fe00:1", 64, true}, {"2001:db8::2", 64, false}}),
        makeLink(3, "eth1", false, {}, "02:fc:00:00:00:02"),
        tun,
        // Two addresses: the one printed last is the one ifconfig's reader keeps.
        makeLink(5, "wlan0", true, {{"203.0.113.9", 24, {}, {}}, {"203.0.113.10", 24, {}, {}}},
                 "3c:22:fb:5a:3c:11"),
        // A name with "ether" in it shows up in its link-local inet6 line.
        makeLink(6, "ether7", true, {{"192.0.2.77", 24, {}, {}}}, "02:00:00:00:00:77",
                 {{"fe80::77", 64, true}}),
    };
    return s;
}

TEST(ToolOutput, IfconfigReadsBackThroughTheAgentsParser) {
    std::string text = formatIfconfig(sampleSnapshot());
    auto table = parseIfconfigOutput(text);
    std::vector<std::string> records;
    for (const auto& [name, info] : table) records.push_back(info->toString());
    EXPECT_EQ(records, (std::vector<std::string>{
                           "eth0,(null),02:fc:00:00:00:01,198.51.100.2,active,,0,(null)",
                           "ether7,(null),02:00:00:00:00:77,192.0.2.77,active,,0,(null)",
                           "tun0,(null),,10.8.0.6,active,,0,(null)",
                           "wlan0,(null),3c:22:fb:5a:3c:11,203.0.113.10,active,,0,(null)",
                       }))
        << text;
}

TEST(HardwarePorts, ServiceOrderFollowsDefaultRouteMetrics) {
    NetworkSnapshot s;
    for (int i = 1; i <= 5; ++i) s.links.push_back(makeLink(i, "e" + std::to_string(i), true));
    // e2: 300 and 50 (its best is 50); e4: 100; e5: 100 (tie keeps link order).
    s.defaultRoutes = {{2, 300}, {4, 100}, {2, 50}, {5, 100}, {99, 1}};
    std::vector<HardwarePortInfo> ports;
    for (const Link& l : s.links) ports.push_back({l.name, l.name, "Ethernet", false});
    std::vector<std::string> order;
    for (const auto& p : inServiceOrder(ports, s)) order.push_back(p.device);
    EXPECT_EQ(order, (std::vector<std::string>{"e2", "e4", "e5", "e1", "e3"}));
}

TEST(HardwarePorts, DeclaredPortsFile) {
    std::vector<std::string> problems;
    auto ports = parseDeclaredPorts(
        "# test bench\n\nveth-a\tLab LAN\tEthernet\r\nveth-b\tLab Wi-Fi\tAirPort\n"
        "veth-c\tPlain\n  \t  \nno-tab-here\nveth-d\t\tEthernet\na\tb\tc\td\n"
        "veth-e\tPhone\tWi-Fi",
        &problems);
    ASSERT_EQ(ports.size(), 4u);
    EXPECT_EQ(ports[0].device, "veth-a");
    EXPECT_EQ(ports[0].portName, "Lab LAN");
    EXPECT_EQ(ports[1].serviceType, "AirPort");
    EXPECT_EQ(ports[2].serviceType, "Ethernet") << "the type defaults to Ethernet";
    EXPECT_EQ(ports[3].portName, "Phone");
    EXPECT_EQ(problems.size(), 3u);
}

// A network device as the kernel shows it in /sys/class/net: a folder whose
// "device" link leads to the bus device, with "driver" and "subsystem" links;
// a virtual device has no bus device.
void addNetDevice(test::FakeSysfs& sys, const std::string& name, const std::string& busDevice = {},
                  const std::string& driver = {}, const std::string& subsystem = {},
                  bool wireless = false) {
    sys.makeDirectory("class/net/" + name + (wireless ? "/phy80211" : ""));
    if (busDevice.empty()) return;
    const std::string bus = "bus/" + subsystem;
    sys.makeDirectory(bus + "/drivers/" + driver);
    sys.link(busDevice + "/driver", bus + "/drivers/" + driver);
    sys.link(busDevice + "/subsystem", bus);
    sys.link("class/net/" + name + "/device", busDevice);
}

TEST(HardwarePorts, ClassifiesDevicesFromSysfs) {
    test::FakeSysfs sys;
    for (const char* name : {"lo", "veth0", "docker0"}) addNetDevice(sys, name);
    addNetDevice(sys, "eth0", "devices/pci0000:00/0000:00:03.0", "e1000e", "pci");
    addNetDevice(sys, "wlan0", "devices/pci0000:00/0000:00:14.3", "iwlwifi", "pci", true);
    addNetDevice(sys, "enx001", "devices/usb1/1-2/1-2:1.0", "cdc_ether", "usb");
    addNetDevice(sys, "usb0", "devices/usb1/1-1/1-1:4.2", "ipheth", "usb");
    sys.writeFile("devices/usb1/1-1/product", "iPhone\n");
    addNetDevice(sys, "usb1", "devices/usb2/2-1/2-1:4.2", "ipheth", "usb");
    sys.writeFile("devices/usb2/2-1/product", "iPad\n");
    addNetDevice(sys, "wwan0", "devices/usb3/3-1/3-1:1.0", "ipheth", "usb");  // no product file

    const std::vector<std::tuple<std::string, std::optional<std::string>, std::string, bool>>
        cases = {
            {"lo", std::nullopt, "", false},
            {"veth0", std::nullopt, "", false},
            {"docker0", std::nullopt, "", false},
            {"missing", std::nullopt, "", false},
            {"eth0", "Ethernet", "Ethernet", false},
            {"wlan0", "Wi-Fi", "AirPort", true},
            {"enx001", "USB 10/100/1000 LAN", "Ethernet", false},
            {"usb0", "iPhone USB", "Ethernet", false},
            {"usb1", "iPad USB", "Ethernet", false},
            {"wwan0", "iPhone USB", "Ethernet", false},
        };
    for (const auto& [name, port, type, wireless] : cases) {
        auto got = classifyNetDevice(sys.path("class/net"), name);
        ASSERT_EQ(got.has_value(), port.has_value()) << name;
        if (!got) continue;
        EXPECT_EQ(got->portName, *port) << name;
        EXPECT_EQ(got->serviceType, type) << name;
        EXPECT_EQ(got->wireless, wireless) << name;
        EXPECT_EQ(got->device, name);
    }
}

TEST(HardwarePorts, ListingCombinesDeclaredAndPhysicalPortsWithUniqueNames) {
    test::FakeSysfs sys;
    addNetDevice(sys, "eth0", "devices/pci0/a", "e1000e", "pci");
    addNetDevice(sys, "eth1", "devices/pci0/b", "e1000e", "pci");
    addNetDevice(sys, "eth2", "devices/pci0/c", "r8169", "pci");
    for (const char* name : {"veth0", "veth1"}) addNetDevice(sys, name);
    NetworkSnapshot s;
    for (auto [i, name] : std::vector<std::pair<int, std::string>>{
             {1, "lo"}, {2, "eth0"}, {3, "veth0"}, {4, "eth1"}, {5, "veth1"}, {6, "eth2"}}) {
        s.links.push_back(makeLink(i, name, true));
    }
    std::vector<DeclaredPort> declared = {{"veth0", "Ethernet 2", "Ethernet"},
                                          {"eth2", "Lab Wi-Fi", "AirPort"},
                                          {"absent0", "Nowhere", "Ethernet"}};
    std::vector<std::tuple<std::string, std::string, bool>> got;
    for (const auto& p : listHardwarePorts(s, sys.path("class/net"), declared)) {
        got.emplace_back(p.device, p.portName, p.wireless);
    }
    EXPECT_EQ(got, (std::vector<std::tuple<std::string, std::string, bool>>{
                       {"eth0", "Ethernet", false},
                       {"veth0", "Ethernet 2", false},
                       {"eth1", "Ethernet 3", false},
                       {"eth2", "Lab Wi-Fi", true},
                   }));
}

// A link read by a Linux backend: the maxRate line, a 320 MHz channel, OWE.
// The MCS line reads back through the agent's parser, and goes with the MCS.
TEST(ToolOutput, AirPortInfo) {
    AirPortInfo info{.present = true,
                     .power = true,
                     .interfaceMode = 1,
                     .security = 14,
                     .ssid = "Six",
                     .bssid = "02:00:00:00:06:01",
                     .channelNumber = 1,
                     .channelWidth = 5,
                     .transmitRate = 2401.9,
                     .maxRate = 2882,
                     .rssiValue = -48,
                     .noiseMeasurement = -95,
                     .mcs = "11"};
    EXPECT_EQ(formatAirPortInfo(info),
              "     agrCtlRSSI: -48\n     agrExtRSSI: 0\n    agrCtlNoise: -95\n    agrExtNoise: 0\n"
              "          state: running\n        op mode: station\n     lastTxRate: 2402\n"
              "        maxRate: 2882\nlastAssocStatus: 0\n    802.11 auth: open\n"
              "      link auth: owe\n          BSSID: 02:00:00:00:06:01\n           SSID: Six\n"
              "            MCS: 11\n        channel: 1,320\n");
    EXPECT_EQ(parseAirPortMCS(formatAirPortInfo(info)), "11");
    info.mcs.reset();
    EXPECT_EQ(parseAirPortMCS(formatAirPortInfo(info)), std::nullopt);
    info.power = false;
    EXPECT_EQ(formatAirPortInfo(info), "AirPort: Off\n");
    info.present = false;
    EXPECT_EQ(formatAirPortInfo(info), "");
}

// ---- the built programs -------------------------------------------------------------

std::string toolsDir() { return WW_TOOLS_BUILD_DIR; }

struct Exit {
    ShellCommandResult result;
    int status;
};

Exit runTool(const std::string& line) {
    // The shell reports the exit status as the last line of standard output.
    auto r = runShellCommand(line + "; echo \"exit=$?\"", "test");
    Exit e{r, -1};
    if (r.output) {
        auto at = r.output->rfind("exit=");
        if (at != std::string::npos) {
            e.status = std::atoi(r.output->c_str() + at + 5);
            e.result.output = r.output->substr(0, at);
        }
    }
    return e;
}

TEST(StandInTools, AirportFollowsTheWifiBackendChoice) {
    test::TempDir dir;
    plist::Value sim = plist::Value::dictionary();
    sim.set("power", plist::Value::boolean(true));
    sim.set("ssid", plist::Value::string("Lab"));
    sim.set("mcs", plist::Value::string("7"));
    std::string simFile = dir.file("wifi.plist");
    test::writeFile(simFile, plist::toXml(sim));
    const std::string airport = shellQuote(toolsDir()) + "/airport -I";

    // The Linux backends find nothing here: no system bus, no wireless device.
    const std::string nothing =
        "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + shellQuote(dir.file("no-bus")) +
        " WIREWATCH_WIFI_SYSFS_ROOT=" + shellQuote(dir.file("no-sys")) + " ";
    for (const char* none : {"unset", "none", "linux", "auto", "nm", "iwd", "kernel"}) {
        std::string env =
            nothing + (std::string(none) == "unset" ? "env -u WIREWATCH_WIFI "
                                                    : std::string("WIREWATCH_WIFI=") + none + " ");
        auto e = runTool(env + airport);
        EXPECT_EQ(e.status, 0) << none;
        EXPECT_EQ(e.result.output, "") << none;
        EXPECT_EQ(e.result.error, "") << none;
    }

    auto e = runTool("WIREWATCH_WIFI=sim:" + shellQuote(simFile) + " " + airport);
    EXPECT_EQ(e.status, 0);
    EXPECT_EQ(parseAirPortMCS(e.result.output), "7");
    EXPECT_NE(e.result.output->find("           SSID: Lab\n"), std::string::npos);
}

TEST(StandInTools, RejectUnknownArguments) {
    const std::string dir = shellQuote(toolsDir());
    for (const std::string& line :
         {dir + "/networksetup -listallnetworkservices", dir + "/networksetup",
          dir + "/networksetup --hardware-ports", dir + "/system_profiler -bogus", dir + "/airport",
          dir + "/ifconfig -z", dir + "/ifconfig no-such-interface0"}) {
        auto e = runTool(line);
        EXPECT_EQ(e.status, 1) << line;
        EXPECT_NE(e.result.error.value_or(""), "") << line;
    }
}

}  // namespace
}  // namespace ww::tools
