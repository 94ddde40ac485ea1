// The stand-in tools end to end, inside network namespaces of their own: the
// agent's inventory must see exactly what the namespace holds.
#include <gtest/gtest.h>

#include "DiscoveryTestSupport.h"
#include "discovery/IfconfigParser.h"
#include "discovery/NetworkInventory.h"
#include "discovery/NetworksetupParser.h"
#include "discovery/SystemProfilerParser.h"
#include "discovery/WWUtils.h"
#include "platform/foundation/Text.h"
#include "tests/support/reachability_Netns.h"

namespace ww {
namespace {

class StandInToolsInNamespace : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ns.available()) GTEST_SKIP() << "needs a network namespace: " << ns.whyUnavailable();
        for (const char* end : {"wa0", "wc0", "we0"}) {
            ASSERT_TRUE(ns.addVethPair(end, std::string(end) + "-peer"));
        }
        ASSERT_EQ(ns.ip("addr add 198.51.100.1/24 dev wa0"), 0);
        ASSERT_EQ(ns.ip("addr add 203.0.113.1/24 dev wc0"), 0);
        ASSERT_EQ(ns.ip("addr add 192.0.2.1/24 dev we0"), 0);
    }

    // The stand-ins run inside the namespace (ip netns exec also gives them the
    // namespace's own sysfs), with the declared ports in `ports`.
    CommandTable toolsWith(const std::string& ports) {
        auto tools = CommandTable::forToolsDirectory(WW_TOOLS_BUILD_DIR);
        std::string file = dir.file("ports" + std::to_string(++m_portFiles));
        test::writeFile(file, ports);
        std::string prefix =
            "ip netns exec " + ns.name() + " env WIREWATCH_HWPORTS_FILE=" + shellQuote(file) + " ";
        return {prefix + tools.ifconfig, prefix + tools.systemProfiler, prefix + tools.networksetup,
                prefix + tools.airport};
    }
    std::string hardwareAddress(const std::string& device) {
        return std::string(text::trim(test::shellOutput(
            "ip netns exec " + ns.name() + " cat /sys/class/net/" + device + "/address")));
    }
    static InterfaceTable connectedThrough(const CommandTable& commands) {
        auto ifconfig = executeAndParseIfconfigCommand(commands);
        auto profiler = executeAndParseSystemProfilerCommand(commands);
        return executeAndParseNetworksetupCommand(commands, ifconfig, profiler);
    }
    static std::unique_ptr<NetworkState> inventory(const CommandTable& commands) {
        auto state = std::make_unique<NetworkState>();
        NetworkInventory(commands, *state, {}).getAllNetworksDetails();
        return state;
    }

    test::Netns ns{"wwdisc"};
    test::TempDir dir;
    int m_portFiles = 0;
};

// wa0 is declared wired, wc0 declared Wi-Fi, we0 not declared at all.
TEST_F(StandInToolsInNamespace, DeclaredVethEndsAreConnectedAndOthersIgnored) {
    auto commands = toolsWith("# bench\nwa0\tLab LAN\tEthernet\nwc0\tWi-Fi\tAirPort\n");
    EXPECT_EQ(executeAndParseIfconfigCommand(commands).size(), 3u) << "ifconfig lists all three";
    auto connected = connectedThrough(commands);
    ASSERT_EQ(connected.size(), 2u) << "the undeclared veth we0 is no hardware port";
    const auto& wa0 = connected.at("wa0");
    EXPECT_EQ(wa0->IPAdress.get(), "198.51.100.1");
    EXPECT_EQ(wa0->displayName.get(), "Lab LAN");
    EXPECT_EQ(wa0->MacAdress.get(), hardwareAddress("wa0"));
    EXPECT_EQ(connected.at("wc0")->type.get(), "AirPort");

    auto state = inventory(commands);
    EXPECT_TRUE(state->viaEthernet);
    EXPECT_TRUE(state->viaWifi);
    EXPECT_EQ(state->ethernetInterfaceName.get(), "wa0");
    EXPECT_EQ(state->ethernetMacAddress.get(),
              "MAC address: " + WWUtils::normalizeMAC(hardwareAddress("wa0")));

    // The status follows the carrier. A link that is down keeps its address
    // on Linux, but is not connected: a wired port without a cable ...
    commands = toolsWith("wa0\tLAN\tEthernet\nwc0\tWi-Fi\tAirPort\n");
    ASSERT_EQ(ns.ip("link set wa0-peer down"), 0);
    auto seen = executeAndParseIfconfigCommand(commands);
    EXPECT_EQ(seen.at("wa0")->status.get(), "inactive");
    EXPECT_EQ(seen.at("wa0")->IPAdress.get(), "198.51.100.1");
    state = inventory(commands);
    EXPECT_FALSE(state->viaEthernet) << "no carrier: not wired, whatever its address";
    EXPECT_TRUE(state->viaWifi);
    // ... and a Wi-Fi that has left its network.
    ASSERT_EQ(ns.ip("link set wc0-peer down"), 0);
    ASSERT_EQ(ns.ip("link set wa0-peer up"), 0);
    state = inventory(commands);
    EXPECT_TRUE(state->viaEthernet);
    EXPECT_FALSE(state->viaWifi) << "no carrier: not on Wi-Fi, whatever its address";
    EXPECT_EQ(executeAndParseIfconfigCommand(commands).at("wc0")->IPAdress.get(), "203.0.113.1");
}

TEST_F(StandInToolsInNamespace, DefaultRouteMetricOrdersTwoWiredPorts) {
    auto commands = toolsWith("wa0\tLAN A\nwc0\tLAN C\tEthernet\n");
    auto preferred = [&] {
        return inventory(commands)->ethernetInterfaceName.get().value_or("(none)");
    };
    // No default route at all: link order.
    EXPECT_EQ(preferred(), "wa0");

    ASSERT_EQ(ns.ip("route add default via 198.51.100.254 dev wa0 metric 200"), 0);
    ASSERT_EQ(ns.ip("route add default via 203.0.113.254 dev wc0 metric 100"), 0);
    EXPECT_EQ(preferred(), "wc0");
    auto connected = connectedThrough(commands);
    EXPECT_EQ(connected.at("wc0")->serviceOrder, 0);
    EXPECT_EQ(connected.at("wa0")->serviceOrder, 1);

    ASSERT_EQ(ns.ip("route del default via 203.0.113.254 dev wc0 metric 100"), 0);
    ASSERT_EQ(ns.ip("route add default via 203.0.113.254 dev wc0 metric 300"), 0);
    EXPECT_EQ(preferred(), "wa0");
}

}  // namespace
}  // namespace ww
