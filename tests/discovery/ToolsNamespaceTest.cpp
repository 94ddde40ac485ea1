// The stand-in tools end to end, inside network namespaces of their own: the
// agent's inventory must see exactly what the namespace holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>

#include "DiscoveryTestSupport.h"
#include "discovery/IfconfigParser.h"
#include "discovery/NetworkInventory.h"
#include "discovery/NetworksetupParser.h"
#include "discovery/ShellCommand.h"
#include "discovery/SystemProfilerParser.h"
#include "discovery/WWUtils.h"
#include "platform/foundation/Text.h"

namespace ww {
namespace {

// A named network namespace, deleted with everything in it when the test ends,
// whether it passed or not.
class Namespace {
  public:
    Namespace() {
        static std::atomic<int> counter{0};
        m_name = "wwdisc-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    }
    ~Namespace() {
        if (m_created) runShellCommand("ip netns del " + m_name, "test");
    }
    Namespace(const Namespace&) = delete;
    Namespace& operator=(const Namespace&) = delete;

    // Empty when created; else why not.
    std::string create() {
        if (::geteuid() != 0) return "not running as root";
        auto r = runShellCommand("ip netns add " + m_name, "test");
        if (r.error != "") return "ip netns add failed: " + r.error.value_or("(unreadable)");
        m_created = true;
        return {};
    }
    const std::string& name() const { return m_name; }

    // Runs `ip -n NS ARGS`; the error text, empty on success.
    std::string ip(const std::string& args) {
        auto r = runShellCommand("ip -n " + m_name + " " + args, "test");
        return r.error.value_or("(unreadable)");
    }
    void addVethPair(const std::string& end, const std::string& peer) {
        ASSERT_EQ(ip("link add " + end + " type veth peer name " + peer), "");
        ASSERT_EQ(ip("link set " + end + " up"), "");
        ASSERT_EQ(ip("link set " + peer + " up"), "");
    }
    std::string hardwareAddress(const std::string& device) {
        auto r = runShellCommand(
            "ip netns exec " + m_name + " cat /sys/class/net/" + device + "/address", "test");
        return std::string(text::trim(r.output.value_or("")));
    }

    // The stand-ins run inside the namespace (ip netns exec also gives them the
    // namespace's own sysfs), with the declared ports in `portsFile`.
    CommandTable commands(const std::string& portsFile) const {
        auto tools = CommandTable::forToolsDirectory(WW_TOOLS_BUILD_DIR);
        std::string prefix = "ip netns exec " + m_name +
                             " env WIREWATCH_HWPORTS_FILE=" + shellQuote(portsFile) + " ";
        return {prefix + tools.ifconfig, prefix + tools.systemProfiler, prefix + tools.networksetup,
                prefix + tools.airport};
    }

  private:
    std::string m_name;
    bool m_created = false;
};

#define CREATE_OR_SKIP(ns)                                                      \
    do {                                                                        \
        std::string why = (ns).create();                                        \
        if (!why.empty()) GTEST_SKIP() << "needs a network namespace: " << why; \
    } while (0)

InterfaceTable connectedThrough(const CommandTable& commands) {
    auto ifconfig = executeAndParseIfconfigCommand(commands);
    auto profiler = executeAndParseSystemProfilerCommand(commands);
    return executeAndParseNetworksetupCommand(commands, ifconfig, profiler);
}

TEST(StandInToolsInNamespace, DeclaredVethIsAConnectedWiredInterface) {
    Namespace ns;
    CREATE_OR_SKIP(ns);
    test::TempDir dir;
    ASSERT_EQ(ns.ip("link set lo up"), "");
    ns.addVethPair("wa0", "wb0");
    ns.addVethPair("wc0", "wd0");
    ASSERT_EQ(ns.ip("addr add 198.51.100.1/24 dev wa0"), "");
    ASSERT_EQ(ns.ip("addr add 203.0.113.1/24 dev wc0"), "");
    auto commands = ns.commands(dir.write("ports", "# bench\nwa0\tLab LAN\tEthernet\n"));

    auto connected = connectedThrough(commands);
    ASSERT_EQ(connected.size(), 1u) << "the undeclared veth wc0 is no hardware port";
    const auto& wa0 = connected.at("wa0");
    EXPECT_EQ(wa0->IPAdress.get(), "198.51.100.1");
    EXPECT_EQ(wa0->displayName.get(), "Lab LAN");
    EXPECT_EQ(wa0->type.get(), "Ethernet");
    EXPECT_EQ(wa0->status.get(), "active");
    EXPECT_EQ(wa0->MacAdress.get(), ns.hardwareAddress("wa0"));

    NetworkState state;
    NetworkInventory(commands, state, {}).getAllNetworksDetails();
    EXPECT_TRUE(state.viaEthernet);
    EXPECT_FALSE(state.viaWifi);
    EXPECT_EQ(state.ethernetInterfaceName.get(), "wa0");
    EXPECT_EQ(state.unknonInterfaceName.get(), "Lab LAN");
    EXPECT_EQ(state.unknownInterfaceIP.get(), "IP address: 198.51.100.1");
    EXPECT_EQ(state.ethernetMacAddress.get(),
              "MAC address: " + WWUtils::normalizeMAC(ns.hardwareAddress("wa0")));
}

TEST(StandInToolsInNamespace, UndeclaredVethIsIgnored) {
    Namespace ns;
    CREATE_OR_SKIP(ns);
    test::TempDir dir;
    ns.addVethPair("wc0", "wd0");
    ASSERT_EQ(ns.ip("addr add 203.0.113.1/24 dev wc0"), "");
    auto commands = ns.commands(dir.write("ports", ""));
    EXPECT_EQ(executeAndParseIfconfigCommand(commands).size(), 1u) << "ifconfig lists it";
    EXPECT_TRUE(connectedThrough(commands).empty());
    NetworkState state;
    NetworkInventory(commands, state, {}).getAllNetworksDetails();
    EXPECT_FALSE(state.viaEthernet);
    EXPECT_FALSE(state.viaWifi);
    EXPECT_FALSE(state.ethernetInterfaceName.get().has_value());
}

TEST(StandInToolsInNamespace, DeclaredWirelessPortSetsViaWifi) {
    Namespace ns;
    CREATE_OR_SKIP(ns);
    test::TempDir dir;
    ns.addVethPair("wx0", "wy0");
    ASSERT_EQ(ns.ip("addr add 198.51.100.9/24 dev wx0"), "");
    auto commands = ns.commands(dir.write("ports", "wx0\tWi-Fi\tAirPort\n"));
    NetworkState state;
    NetworkInventory(commands, state, {}).getAllNetworksDetails();
    EXPECT_TRUE(state.viaWifi);
    EXPECT_FALSE(state.viaEthernet);
}

TEST(StandInToolsInNamespace, DefaultRouteMetricOrdersTwoWiredPorts) {
    Namespace ns;
    CREATE_OR_SKIP(ns);
    test::TempDir dir;
    ns.addVethPair("wa0", "wb0");
    ns.addVethPair("wc0", "wd0");
    ASSERT_EQ(ns.ip("addr add 198.51.100.1/24 dev wa0"), "");
    ASSERT_EQ(ns.ip("addr add 203.0.113.1/24 dev wc0"), "");
    auto commands = ns.commands(dir.write("ports", "wa0\tLAN A\nwc0\tLAN C\tEthernet\n"));

    auto preferred = [&] {
        NetworkState state;
        NetworkInventory(commands, state, {}).getAllNetworksDetails();
        return state.ethernetInterfaceName.get().value_or("(none)");
    };
    // No default route at all: link order.
    EXPECT_EQ(preferred(), "wa0");

    ASSERT_EQ(ns.ip("route add default via 198.51.100.254 dev wa0 metric 200"), "");
    ASSERT_EQ(ns.ip("route add default via 203.0.113.254 dev wc0 metric 100"), "");
    EXPECT_EQ(preferred(), "wc0");
    auto connected = connectedThrough(commands);
    EXPECT_EQ(connected.at("wc0")->serviceOrder, 0);
    EXPECT_EQ(connected.at("wa0")->serviceOrder, 1);

    ASSERT_EQ(ns.ip("route del default via 203.0.113.254 dev wc0 metric 100"), "");
    ASSERT_EQ(ns.ip("route add default via 203.0.113.254 dev wc0 metric 300"), "");
    EXPECT_EQ(preferred(), "wa0");
}

TEST(StandInToolsInNamespace, StatusFollowsTheCarrier) {
    Namespace ns;
    CREATE_OR_SKIP(ns);
    test::TempDir dir;
    ns.addVethPair("wa0", "wb0");
    ASSERT_EQ(ns.ip("addr add 198.51.100.1/24 dev wa0"), "");
    auto commands = ns.commands(dir.write("ports", "wa0\tLAN\n"));
    EXPECT_EQ(executeAndParseIfconfigCommand(commands).at("wa0")->status.get(), "active");
    ASSERT_EQ(ns.ip("link set wb0 down"), "");
    EXPECT_EQ(executeAndParseIfconfigCommand(commands).at("wa0")->status.get(), "inactive");
    // The link state is not what makes an interface connected.
    EXPECT_EQ(connectedThrough(commands).size(), 1u);
}

}  // namespace
}  // namespace ww
