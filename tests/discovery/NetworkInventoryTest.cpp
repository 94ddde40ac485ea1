#include <gtest/gtest.h>

#include "DiscoveryTestSupport.h"
#include "discovery/NetworkInventory.h"
#include "platform/foundation/Plist.h"

namespace ww {
namespace {

using plist::Value;

// One interface as the three tools would show it.
struct Interface {
    std::string name;
    std::string address;
    std::string hardwareAddress;      // ifconfig's ether line; empty: none
    std::string portName;             // empty: no hardware port
    std::optional<std::string> type;  // absent: the profiler does not list it
    std::int64_t order = 0;
};

// Writes the tools' outputs for `interfaces` and returns commands that print them.
CommandTable toolOutputs(const test::TempDir& dir, const std::vector<Interface>& interfaces) {
    std::string ifconfig, ports = "\n";
    Value::Array services;
    for (const auto& i : interfaces) {
        ifconfig +=
            i.name + ": flags=8863<UP,BROADCAST,SMART,RUNNING,SIMPLEX,MULTICAST> mtu 1500\n";
        if (!i.hardwareAddress.empty()) ifconfig += "\tether " + i.hardwareAddress + " \n";
        ifconfig += "\tinet " + i.address + " netmask 0xffffff00 broadcast 10.255.255.255\n";
        ifconfig += "\tstatus: active\n";
        if (!i.portName.empty()) {
            ports += "Hardware Port: " + i.portName + "\nDevice: " + i.name + "\n\n";
        }
        if (i.type) {
            Value s = Value::dictionary();
            s.set("_name", Value::string(i.portName.empty() ? i.name : i.portName));
            s.set("interface", Value::string(i.name));
            s.set("type", Value::string(*i.type));
            s.set("spnetwork_service_order", Value::integer(i.order));
            services.push_back(s);
        }
    }
    Value section = Value::dictionary();
    section.set("_items", Value::array(services));
    CommandTable c;
    c.ifconfig = "cat '" + dir.write("ifconfig.txt", ifconfig) + "'";
    c.networksetup = "cat '" + dir.write("ports.txt", ports) + "'";
    c.systemProfiler =
        "cat '" + dir.write("profiler.xml", plist::toXml(Value::array({section}))) + "'";
    c.airport = "true";
    return c;
}

struct Pass {
    NetworkState state;
    int detectCalls = 0;
};

void runInventory(Pass& run, const CommandTable& commands, bool shutOffHotspots) {
    NetworkInventory inventory(
        commands, run.state,
        {[shutOffHotspots] { return shutOffHotspots; }, [&run] { ++run.detectCalls; }});
    inventory.getAllNetworksDetails();
}

void presetTexts(NetworkState& state) {
    state.unknownInterfaceIP.set("old ip");
    state.ethernetMacAddress.set("old mac");
    state.unknonInterfaceName.set("old name");
    state.ethernetInterfaceName.set("old bsd");
}

void expectTextsUntouched(const NetworkState& state) {
    EXPECT_EQ(state.unknownInterfaceIP.get(), "old ip");
    EXPECT_EQ(state.ethernetMacAddress.get(), "old mac");
    EXPECT_EQ(state.unknonInterfaceName.get(), "old name");
    EXPECT_EQ(state.ethernetInterfaceName.get(), "old bsd");
}

TEST(NetworkInventory, WiredFirstInOrderBecomesThePreferredInterface) {
    test::TempDir dir;
    test::LogCapture log;
    Pass run;
    runInventory(run,
                 toolOutputs(dir, {{"en0", "192.168.1.20", "a4:83:e7:0:0:1", "Wi-Fi", "AirPort", 1},
                                   {"en5", "10.0.0.5", "0:1c:42:a:b:c", "Thunderbolt Ethernet",
                                    std::nullopt, 0}}),
                 false);
    EXPECT_TRUE(run.state.viaWifi);
    EXPECT_TRUE(run.state.viaEthernet);
    EXPECT_EQ(run.state.unknownInterfaceIP.get(), "IP address: 10.0.0.5");
    EXPECT_EQ(run.state.ethernetMacAddress.get(), "MAC address: 00:1C:42:0A:0B:0C");
    EXPECT_EQ(run.state.unknonInterfaceName.get(), "Thunderbolt Ethernet");
    EXPECT_EQ(run.state.ethernetInterfaceName.get(), "en5");

    auto lines =
        log.linesContaining("AppDelegate: getAllNetworksDetails - connected networks are ");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].text.find(
                  "en5,Thunderbolt Ethernet,0:1c:42:a:b:c,10.0.0.5,active,(null),0,(null)"),
              std::string::npos)
        << lines[0].text;
    EXPECT_NE(lines[0].text.find("en0,Wi-Fi,a4:83:e7:0:0:1,192.168.1.20,active,AirPort,1,Wi-Fi"),
              std::string::npos);
    EXPECT_EQ(lines[0].function, "getAllNetworksDetails");
    EXPECT_EQ(lines[0].flag, DDLogFlagInfo);
}

TEST(NetworkInventory, WirelessFirstInOrderLeavesTheTextsAlone) {
    test::TempDir dir;
    Pass run;
    presetTexts(run.state);
    runInventory(
        run,
        toolOutputs(dir, {{"en0", "192.168.1.20", "aa", "Wi-Fi", "AirPort", 0},
                          {"en5", "10.0.0.5", "bb", "Thunderbolt Ethernet", "Ethernet", 1}}),
        false);
    EXPECT_TRUE(run.state.viaWifi);
    EXPECT_TRUE(run.state.viaEthernet);
    expectTextsUntouched(run.state);
}

TEST(NetworkInventory, WirelessTypesAreExact) {
    const std::vector<std::pair<std::string, bool>> types = {
        {"IEEE80211", true}, {"AirPort", true},  {"airPort", true}, {"Wi-Fi", true},
        {"wi-fi", false},    {"AIRPORT", false}, {"", false},       {"Ethernet", false}};
    for (const auto& [type, wireless] : types) {
        test::TempDir dir;
        Pass run;
        runInventory(run, toolOutputs(dir, {{"en0", "10.0.0.1", "aa", "Port", type, 0}}), false);
        EXPECT_EQ(run.state.viaWifi, wireless) << type;
        EXPECT_EQ(run.state.viaEthernet, !wireless) << type;
    }
}

TEST(NetworkInventory, HotspotIsWiredAndHandedOverOnlyWhenAsked) {
    test::TempDir dir;
    auto commands =
        toolOutputs(dir, {{"en6", "172.20.10.2", "9a:2c:4e:a1:0:6b", "iPhone USB", "Ethernet", 0}});
    {
        test::LogCapture log;
        Pass run;
        InterfaceList previous{std::make_shared<InterfaceInfo>()};
        run.state.setHotspotInterfacesToDelete(previous);
        runInventory(run, commands, false);
        EXPECT_TRUE(run.state.viaEthernet);
        EXPECT_FALSE(run.state.viaWifi);
        EXPECT_EQ(run.state.hotspotInterfacesToDelete(), previous);
        EXPECT_EQ(run.detectCalls, 0);
        EXPECT_TRUE(log.linesContaining("personal hotspot").empty());
        EXPECT_EQ(run.state.ethernetInterfaceName.get(), "en6") << "still the preferred interface";
    }
    {
        test::LogCapture log;
        Pass run;
        runInventory(run, commands, true);
        auto list = run.state.hotspotInterfacesToDelete();
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0]->BSDName.get(), "en6");
        EXPECT_EQ(run.detectCalls, 1);
        EXPECT_EQ(run.state.ethernetInterfaceName.get(), "en6");
        EXPECT_EQ(run.state.unknonInterfaceName.get(), "iPhone USB");
        auto lines = log.lines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[1].text,
                  "AppDelegate: user has enabled to disable personal hotspot and system is "
                  "connected to personal hotspot so it will be terminated...");
        EXPECT_NE(lines[2].text.find(
                      "en6,iPhone USB,9a:2c:4e:a1:0:6b,172.20.10.2,active,Ethernet,0,iPhone USB"),
                  std::string::npos)
            << lines[2].text;
    }
}

TEST(NetworkInventory, HotspotNames) {
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"My iPad", "Ethernet", true},        {"IPHONE", "Ethernet", true},
        {"iphone usb", "Ethernet", true},     {"Wi-Fi", "Ethernet", false},
        {"Bluetooth PAN", "Ethernet", false}, {"iPhone Wi-Fi", "AirPort", false},
    };
    for (const auto& [name, type, hotspot] : cases) {
        test::TempDir dir;
        Pass run;
        runInventory(run, toolOutputs(dir, {{"en6", "10.0.0.2", "aa", name, type, 0}}), true);
        EXPECT_EQ(run.detectCalls, hotspot ? 1 : 0) << name;
        EXPECT_EQ(run.state.hotspotInterfacesToDelete().size(), hotspot ? 1u : 0u) << name;
    }
}

TEST(NetworkInventory, MissingAddressesShowNotAvailable) {
    test::TempDir dir;
    Pass run;
    runInventory(run, toolOutputs(dir, {{"en5", "10.0.0.5", "", "Ethernet", "Ethernet", 0}}),
                 false);
    EXPECT_EQ(run.state.ethernetMacAddress.get(), "MAC address: Not Available");
    EXPECT_EQ(run.state.unknownInterfaceIP.get(), "IP address: 10.0.0.5");
}

TEST(NetworkInventory, SharedOrderKeepsOneRecordButBothCount) {
    test::TempDir dir;
    Pass run;
    runInventory(run,
                 toolOutputs(dir, {{"en5", "10.0.0.5", "aa", "LAN A", "Ethernet", 2},
                                   {"en6", "10.0.0.6", "bb", "LAN B", "Ethernet", 2},
                                   {"en0", "10.0.0.7", "cc", "Wi-Fi", "AirPort", 3}}),
                 false);
    EXPECT_TRUE(run.state.viaEthernet);
    EXPECT_TRUE(run.state.viaWifi);
    // Either record sharing the smallest order may win; the choice is fixed.
    auto name = run.state.ethernetInterfaceName.get();
    EXPECT_TRUE(name == "en5" || name == "en6") << name.value_or("(absent)");
}

TEST(NetworkInventory, ProfilerFailureMakesEverythingWired) {
    test::TempDir dir;
    auto commands = toolOutputs(dir, {{"en0", "192.168.1.20", "aa", "Wi-Fi", "AirPort", 0}});
    commands.systemProfiler = "echo broken";
    Pass run;
    runInventory(run, commands, false);
    EXPECT_FALSE(run.state.viaWifi);
    EXPECT_TRUE(run.state.viaEthernet);
    EXPECT_EQ(run.state.unknonInterfaceName.get(), "Wi-Fi");
}

TEST(NetworkInventory, NothingConnectedChangesNothing) {
    test::TempDir dir;
    for (const char* broken : {"ifconfig", "networksetup"}) {
        auto commands = toolOutputs(dir, {{"en5", "10.0.0.5", "aa", "Ethernet", "Ethernet", 0}});
        (std::string(broken) == "ifconfig" ? commands.ifconfig : commands.networksetup) =
            "/nonexistent/tool";
        test::LogCapture log;
        Pass run;
        presetTexts(run.state);
        run.state.viaEthernet = false;
        runInventory(run, commands, true);
        EXPECT_FALSE(run.state.viaEthernet) << broken;
        EXPECT_FALSE(run.state.viaWifi) << broken;
        expectTextsUntouched(run.state);
        EXPECT_EQ(run.detectCalls, 0);
        EXPECT_EQ(log.linesContaining("connected networks are").size(), 1u);
    }
}

TEST(NetworkInventory, FlagsAreNeverClearedHere) {
    test::TempDir dir;
    Pass run;
    run.state.viaWifi = true;
    run.state.viaEthernet = true;
    runInventory(run, toolOutputs(dir, {}), false);
    EXPECT_TRUE(run.state.viaWifi);
    EXPECT_TRUE(run.state.viaEthernet);
}

TEST(NetworkInventory, EmptyHooksAreAllowed) {
    test::TempDir dir;
    NetworkState state;
    NetworkInventory inventory(
        toolOutputs(dir, {{"en6", "10.0.0.2", "aa", "iPhone USB", "Ethernet", 0}}), state, {});
    inventory.getAllNetworksDetails();
    EXPECT_TRUE(state.viaEthernet);
    EXPECT_TRUE(state.hotspotInterfacesToDelete().empty());
}

TEST(NetworkInventory, RealisticMacBook) {
    CommandTable commands;
    commands.ifconfig = "cat '" + test::fixturePath("ifconfig-macbook.txt") + "'";
    commands.systemProfiler = "cat '" + test::fixturePath("system_profiler-macbook.xml") + "'";
    commands.networksetup = "cat '" + test::fixturePath("networksetup-macbook.txt") + "'";
    Pass run;
    runInventory(run, commands, true);
    EXPECT_TRUE(run.state.viaWifi);
    EXPECT_TRUE(run.state.viaEthernet);
    EXPECT_EQ(run.state.unknownInterfaceIP.get(), "IP address: 10.0.1.44");
    EXPECT_EQ(run.state.ethernetMacAddress.get(), "MAC address: 00:E0:4C:68:01:9F");
    EXPECT_EQ(run.state.unknonInterfaceName.get(), "USB 10/100/1000 LAN");
    EXPECT_EQ(run.state.ethernetInterfaceName.get(), "en5");
    auto hotspots = run.state.hotspotInterfacesToDelete();
    ASSERT_EQ(hotspots.size(), 1u);
    EXPECT_EQ(hotspots[0]->BSDName.get(), "en6");
    EXPECT_EQ(run.detectCalls, 1);
}

}  // namespace
}  // namespace ww
