#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "DiscoveryTestSupport.h"
#include "discovery/InterfaceInspector.h"
#include "discovery/NetworkInventory.h"
#include "platform/foundation/Text.h"

namespace ww {
namespace {

using plist::Value;

// The captured tools of a Linux desk: a docked USB Ethernet adapter
// (enx00e04c680001), built-in Ethernet without a cable (enp0s31f6), Wi-Fi
// (wlp2s0), a tethering iPhone (usb0), a Docker bridge in use (docker0) and a
// VPN tunnel (tun0).
std::string deskFixture(const std::string& name) { return test::readFixture("linux-desk/" + name); }

// The desk's ifconfig output cut down to the named interfaces; those in
// `down` have lost their link (no cable, left the network) and kept their
// addresses.
std::string ifconfigOf(const std::vector<std::string>& keep,
                       const std::vector<std::string>& down = {}) {
    std::string out;
    bool keeping = false, isDown = false;
    const std::string all = deskFixture("ifconfig.txt");
    for (std::string_view line : text::splitLines(all)) {
        if (text::contains(line, "flags=")) {
            std::string name(line.substr(0, line.find(':')));
            keeping = std::find(keep.begin(), keep.end(), name) != keep.end();
            isDown = std::find(down.begin(), down.end(), name) != down.end();
        }
        if (isDown && text::contains(line, "status: ")) line = "\tstatus: inactive";
        if (keeping) out += std::string(line) + "\n";
    }
    return out;
}

CommandTable deskTools(const std::vector<std::string>& keep,
                       const std::vector<std::string>& down = {}) {
    return {test::printing(ifconfigOf(keep, down)),
            test::printing(deskFixture("system_profiler.xml")),
            test::printing(deskFixture("networksetup.txt")), "true"};
}

const InterfaceReport* reportFor(const InterfaceReports& reports, const std::string& name) {
    for (const auto& r : reports) {
        if (r.name == name) return &r;
    }
    return nullptr;
}

struct OverrideCase {
    const char* what;
    std::vector<std::string> interfaces;  // kept from the fixture
    std::string target;
    InterfaceOverride override;
    InterfaceClass expected;
    const char* reason;  // the report's reason starts so
    bool wired, wifi;
    bool logged;  // the override changed the result
    std::vector<std::string> down = {};  // links down, addresses kept
};

TEST(InterfaceOverrides, FixtureInterfacesWithAndWithoutTheirOverride) {
    using C = InterfaceClass;
    using O = InterfaceOverride;
    const OverrideCase cases[] = {
        {"docker bridge",
         {"lo", "wlp2s0", "docker0"},
         "docker0",
         O::Automatic,
         C::NotCounted,
         "virtual: not a hardware port",
         false,
         true,
         false},
        {"docker bridge counted as wired",
         {"lo", "wlp2s0", "docker0"},
         "docker0",
         O::Wired,
         C::Wired,
         "overridden; automatically not counted, virtual",
         true,
         true,
         true},
        {"VPN tunnel",
         {"wlp2s0", "tun0"},
         "tun0",
         O::Automatic,
         C::NotCounted,
         "virtual",
         false,
         true,
         false},
        {"VPN tunnel counted as wired",
         {"wlp2s0", "tun0"},
         "tun0",
         O::Wired,
         C::Wired,
         "overridden",
         true,
         true,
         true},
        {"USB tether",
         {"wlp2s0", "usb0"},
         "usb0",
         O::Automatic,
         C::USBHotspot,
         "USB personal hotspot",
         true,
         true,
         false},
        {"USB tether ignored",
         {"wlp2s0", "usb0"},
         "usb0",
         O::Ignore,
         C::NotCounted,
         "overridden; automatically USB hotspot",
         false,
         true,
         true},
        {"dock",
         {"wlp2s0", "enx00e04c680001"},
         "enx00e04c680001",
         O::Automatic,
         C::Wired,
         "hardware port, type Ethernet",
         true,
         true,
         false},
        {"dock ignored",
         {"wlp2s0", "enx00e04c680001"},
         "enx00e04c680001",
         O::Ignore,
         C::NotCounted,
         "overridden; automatically wired",
         false,
         true,
         true},
        {"Wi-Fi counted as wired",
         {"wlp2s0"},
         "wlp2s0",
         O::Wired,
         C::Wired,
         "overridden; automatically Wi-Fi",
         true,
         false,
         true},
        {"no address: a wired override cannot connect it",
         {"enp0s31f6", "wlp2s0"},
         "enp0s31f6",
         O::Wired,
         C::NotCounted,
         "no address, inactive",
         false,
         true,
         false},
        {"ignoring what does not count changes nothing",
         {"wlp2s0", "docker0"},
         "docker0",
         O::Ignore,
         C::NotCounted,
         "virtual",
         false,
         true,
         false},
        {"loopback", {"lo"}, "lo", O::Wired, C::NotCounted, "loopback", false, false, false},
        {"a Wi-Fi that left its network keeps its address but is not connected",
         {"wlp2s0", "enx00e04c680001"},
         "wlp2s0",
         O::Automatic,
         C::NotCounted,
         "inactive",
         true,
         false,
         false,
         {"wlp2s0"}},
        {"a port without a cable keeps its address; no override counts it",
         {"enx00e04c680001", "wlp2s0"},
         "enx00e04c680001",
         O::Wired,
         C::NotCounted,
         "inactive",
         false,
         true,
         false,
         {"enx00e04c680001"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::LogCapture log;
        NetworkState state;
        NetworkInventory::Hooks hooks;
        hooks.hotspotShutOffEnabled = [] { return true; };
        NetworkInventory inventory(deskTools(c.interfaces, c.down), state, hooks);
        if (c.override != O::Automatic) inventory.setInterfaceOverrides({{c.target, c.override}});
        inventory.getAllNetworksDetails();
        EXPECT_EQ(state.viaEthernet, c.wired);
        EXPECT_EQ(state.viaWifi, c.wifi);
        InterfaceReports reports = state.interfaceReports();
        ASSERT_EQ(reports.size(), c.interfaces.size())
            << "every interface seen is reported: "
            << testing::PrintToString(inspectorLines(reports));
        const InterfaceReport* r = reportFor(reports, c.target);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->classification, c.expected) << interfaceClassName(r->classification);
        EXPECT_TRUE(r->reason.starts_with(c.reason)) << r->reason;
        EXPECT_EQ(r->override, c.override);
        EXPECT_EQ(log.linesContaining("interface override: " + c.target).size(),
                  c.logged ? 1u : 0u);
        // An ignored hotspot is not handed to the hotspot guard either.
        bool hotspot = c.expected == C::USBHotspot;
        EXPECT_EQ(state.hotspotInterfacesToDelete().size(), hotspot ? 1u : 0u);
    }
}

TEST(InterfaceOverrides, AnOverrideIsLoggedOnceAndTheWiredOneBecomesThePreferredInterface) {
    test::LogCapture log;
    NetworkState state;
    for (int pass = 0; pass < 3; ++pass) {
        NetworkInventory inventory(deskTools({"tun0"}), state, {});
        inventory.setInterfaceOverrides({{"tun0", InterfaceOverride::Wired}});
        inventory.getAllNetworksDetails();
    }
    auto lines = log.linesContaining("interface override: ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text,
              "AppDelegate: interface override: tun0 is wired (wired), not not counted "
              "(virtual: not a hardware port)");
    EXPECT_EQ(state.ethernetInterfaceName.get(), "tun0");
    EXPECT_EQ(state.unknownInterfaceIP.get(), "IP address: 10.8.0.6");
}

TEST(InterfaceOverrides, PreferenceValues) {
    Value d = Value::dictionary();
    d.set("docker0", Value::string("wired"));
    d.set("tun0", Value::string(" Ignore "));
    d.set("eth0", Value::string("automatic"));
    d.set("usb0", Value::integer(1));
    auto parsed = parseInterfaceOverrides(d);
    EXPECT_EQ(parsed,
              (std::map<std::string, InterfaceOverride>{{"docker0", InterfaceOverride::Wired},
                                                        {"tun0", InterfaceOverride::Ignore}}));
    EXPECT_TRUE(parseInterfaceOverrides(Value::string("docker0=wired")).empty());
    EXPECT_TRUE(parseInterfaceOverrides(std::nullopt).empty());
}

TEST(InterfaceInspector, LinesForTheWholeDesk) {
    NetworkState state;
    NetworkInventory(CommandTable{test::printing(deskFixture("ifconfig.txt")),
                                  test::printing(deskFixture("system_profiler.xml")),
                                  test::printing(deskFixture("networksetup.txt")), "true"},
                     state, {})
        .getAllNetworksDetails();
    EXPECT_EQ(inspectorLines(state.interfaceReports()),
              (std::vector<std::string>{
                  "lo: not counted (loopback)",
                  "enp0s31f6 \"Ethernet\": not counted (no address, inactive)",
                  "wlp2s0 \"Wi-Fi\": Wi-Fi (Wi-Fi port)",
                  "enx00e04c680001 \"USB 10/100/1000 LAN\": wired (hardware port, type Ethernet)",
                  "usb0 \"iPhone USB\": USB hotspot (USB personal hotspot)",
                  "docker0: not counted (virtual: not a hardware port)",
                  "tun0: not counted (virtual: not a hardware port)",
              }));
}

TEST(InterfaceInspector, HostileNamesStayOnOneLineAndInValidJson) {
    InterfaceReports reports = {
        {"ev\x1b[2Jil\xff", std::string("Port\nTwo"), std::nullopt, InterfaceClass::Wired,
         "overridden", InterfaceOverride::Wired},
        {"en0", std::nullopt, std::string("198.51.100.2"), InterfaceClass::NotCounted,
         "virtual: not a hardware port", InterfaceOverride::Automatic},
    };
    auto lines = inspectorLines(reports);
    EXPECT_EQ(lines[0], "ev?[2Jil? \"Port?Two\": wired (overridden)");
    std::string json = inspectorJson(reports);
    ASSERT_TRUE(nlohmann::json::accept(json)) << json;
    auto doc = nlohmann::json::parse(json);
    ASSERT_EQ(doc["interfaces"].size(), 2u);
    EXPECT_EQ(doc["interfaces"][0]["name"], "ev\x1b[2Jil\xEF\xBF\xBD");
    EXPECT_EQ(doc["interfaces"][0]["override"], "wired");
    EXPECT_EQ(doc["interfaces"][0]["address"], nullptr);
    EXPECT_EQ(doc["interfaces"][1]["port"], nullptr);
    EXPECT_EQ(doc["interfaces"][1]["classification"], "not counted");
    EXPECT_EQ(doc["interfaces"][1]["address"], "198.51.100.2");
    EXPECT_EQ(inspectorJson({}), "{\n  \"interfaces\": []\n}\n");
}

}  // namespace
}  // namespace ww
