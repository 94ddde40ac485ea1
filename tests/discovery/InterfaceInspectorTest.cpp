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

// Each kept interface of the desk (the target last), its override, and what
// the target comes out as. Whether the override changed anything shows in
// the reason, and only then is it logged; Wi-Fi counts unless it is the target.
TEST(InterfaceOverrides, FixtureInterfacesWithAndWithoutTheirOverride) {
    using C = InterfaceClass;
    using O = InterfaceOverride;
    const std::tuple<const char*, O, C, const char*> cases[] = {
        {"lo wlp2s0 docker0", O::Automatic, C::NotCounted, "virtual: not a hardware port"},
        {"lo wlp2s0 docker0", O::Wired, C::Wired, "overridden; automatically not counted, virtual"},
        {"wlp2s0 docker0", O::Ignore, C::NotCounted, "virtual"},  // changes nothing
        {"wlp2s0 tun0", O::Automatic, C::NotCounted, "virtual"},
        {"wlp2s0 tun0", O::Wired, C::Wired, "overridden"},
        {"wlp2s0 usb0", O::Automatic, C::USBHotspot, "USB personal hotspot"},
        {"wlp2s0 usb0", O::Ignore, C::NotCounted, "overridden; automatically USB hotspot"},
        {"wlp2s0 enx00e04c680001", O::Automatic, C::Wired, "hardware port, type Ethernet"},
        {"wlp2s0 enx00e04c680001", O::Ignore, C::NotCounted, "overridden; automatically wired"},
        {"wlp2s0", O::Wired, C::Wired, "overridden; automatically Wi-Fi"},
        // No address: a wired override cannot connect it.
        {"wlp2s0 enp0s31f6", O::Wired, C::NotCounted, "no address, inactive"},
        {"lo", O::Wired, C::NotCounted, "loopback"},
        // A link that is down ("!") keeps its address but is not connected: a
        // Wi-Fi that left its network, a port without a cable whatever the override.
        {"wlp2s0!", O::Automatic, C::NotCounted, "inactive"},
        {"wlp2s0 enx00e04c680001!", O::Wired, C::NotCounted, "inactive"},
    };
    for (const auto& [kept, override, expected, reason] : cases) {
        std::vector<std::string> interfaces, down;
        for (auto name : text::split(kept, ' ')) interfaces.emplace_back(name);
        if (interfaces.back().ends_with('!')) {
            interfaces.back().pop_back();
            down.push_back(interfaces.back());
        }
        const std::string target = interfaces.back();
        SCOPED_TRACE(target + " " + interfaceOverrideName(override));
        test::LogCapture log;
        NetworkState state;
        NetworkInventory::Hooks hooks;
        hooks.hotspotShutOffEnabled = [] { return true; };
        NetworkInventory inventory(deskTools(interfaces, down), state, hooks);
        if (override != O::Automatic) inventory.setInterfaceOverrides({{target, override}});
        inventory.getAllNetworksDetails();
        const bool countsAsWired = expected == C::Wired || expected == C::USBHotspot;
        EXPECT_EQ(state.viaEthernet, countsAsWired);
        EXPECT_EQ(state.viaWifi, kept != std::string("lo") && target != "wlp2s0");
        InterfaceReports reports = state.interfaceReports();
        ASSERT_EQ(reports.size(), interfaces.size())
            << "every interface seen is reported: "
            << testing::PrintToString(inspectorLines(reports));
        const InterfaceReport* r = reportFor(reports, target);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->classification, expected) << interfaceClassName(r->classification);
        EXPECT_TRUE(r->reason.starts_with(reason)) << r->reason;
        EXPECT_EQ(r->override, override);
        EXPECT_EQ(log.linesContaining("interface override: " + target).size(),
                  std::string_view(reason).starts_with("overridden") ? 1u : 0u);
        // An ignored hotspot is not handed to the hotspot guard either.
        EXPECT_EQ(state.hotspotInterfacesToDelete().size(), expected == C::USBHotspot ? 1u : 0u);
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
    EXPECT_EQ(log.linesContaining("interface override: tun0").size(), 1u);
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
    EXPECT_EQ(doc["interfaces"][0]["address"], nullptr);
    EXPECT_EQ(doc["interfaces"][1]["port"], nullptr);
    EXPECT_EQ(inspectorJson({}), "{\n  \"interfaces\": []\n}\n");
}

}  // namespace
}  // namespace ww
