#include <gtest/gtest.h>

#include <array>

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

// Commands that print the tools' outputs for `interfaces`.
CommandTable toolOutputs(const std::vector<Interface>& interfaces) {
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
    return {test::printing(ifconfig), test::printing(plist::toXml(Value::array({section}))),
            test::printing(ports), "true"};
}

// One inventory pass from preset texts and flags; counts the watcher starts.
struct Pass {
    explicit Pass(const CommandTable& commands, bool shutOffHotspots = false,
                  bool presetFlags = false) {
        state.viaWifi = presetFlags;
        state.viaEthernet = presetFlags;
        state.unknownInterfaceIP.set("old ip");
        state.ethernetMacAddress.set("old mac");
        state.unknonInterfaceName.set("old name");
        state.ethernetInterfaceName.set("old bsd");
        NetworkInventory(commands, state,
                         {[shutOffHotspots] { return shutOffHotspots; }, [this] { ++detectCalls; }})
            .getAllNetworksDetails();
    }
    std::array<std::optional<std::string>, 4> texts() const {
        return {state.unknownInterfaceIP.get(), state.ethernetMacAddress.get(),
                state.unknonInterfaceName.get(), state.ethernetInterfaceName.get()};
    }
    NetworkState state;
    int detectCalls = 0;
};

const std::array<std::optional<std::string>, 4> kUntouched = {"old ip", "old mac", "old name",
                                                              "old bsd"};

TEST(NetworkInventory, FlagsAndTheTextsOfThePreferredWiredInterface) {
    struct Case {
        const char* what;
        std::vector<Interface> interfaces;
        bool wifi, wired;
        std::array<std::optional<std::string>, 4> texts;  // IP, MAC, port name, BSD name
        bool brokenProfiler = false;
    };
    const Case cases[] = {
        {"wired first in order",
         {{"en0", "192.168.1.20", "a4:83:e7:0:0:1", "Wi-Fi", "AirPort", 1},
          {"en5", "10.0.0.5", "0:1c:42:a:b:c", "Thunderbolt Ethernet", std::nullopt, 0}},
         true,
         true,
         {"IP address: 10.0.0.5", "MAC address: 00:1C:42:0A:0B:0C", "Thunderbolt Ethernet", "en5"}},
        {"wireless first in order leaves the texts",
         {{"en0", "192.168.1.20", "aa", "Wi-Fi", "AirPort", 0},
          {"en5", "10.0.0.5", "bb", "Thunderbolt Ethernet", "Ethernet", 1}},
         true,
         true,
         kUntouched},
        {"no hardware address",
         {{"en5", "10.0.0.5", "", "Ethernet", "Ethernet", 0}},
         false,
         true,
         {"IP address: 10.0.0.5", "MAC address: Not Available", "Ethernet", "en5"}},
        {"no profiler output makes everything wired",
         {{"en0", "192.168.1.20", "aa", "Wi-Fi", "AirPort", 0}},
         false,
         true,
         {"IP address: 192.168.1.20", "MAC address: AA", "Wi-Fi", "en0"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CommandTable commands = toolOutputs(c.interfaces);
        if (c.brokenProfiler) commands.systemProfiler = "echo broken";
        Pass run(commands);
        EXPECT_EQ(run.state.viaWifi, c.wifi);
        EXPECT_EQ(run.state.viaEthernet, c.wired);
        EXPECT_EQ(run.texts(), c.texts);
    }
}

TEST(NetworkInventory, HotspotIsWiredAndHandedOverOnlyWhenAsked) {
    auto commands =
        toolOutputs({{"en6", "172.20.10.2", "9a:2c:4e:a1:0:6b", "iPhone USB", "Ethernet", 0}});
    {
        test::LogCapture log;
        InterfaceList previous{std::make_shared<InterfaceInfo>()};
        NetworkState state;
        state.setHotspotInterfacesToDelete(previous);
        NetworkInventory(commands, state, {[] { return false; }, [] { FAIL(); }})
            .getAllNetworksDetails();
        EXPECT_TRUE(state.viaEthernet);
        EXPECT_FALSE(state.viaWifi);
        EXPECT_EQ(state.hotspotInterfacesToDelete(), previous);
        EXPECT_TRUE(log.linesContaining("personal hotspot").empty());
        EXPECT_EQ(state.ethernetInterfaceName.get(), "en6") << "still the preferred interface";
    }
    test::LogCapture log;
    Pass run(commands, true);
    auto list = run.state.hotspotInterfacesToDelete();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->BSDName.get(), "en6");
    EXPECT_EQ(run.detectCalls, 1);
    EXPECT_EQ(run.state.ethernetInterfaceName.get(), "en6");
    EXPECT_EQ(log.linesContaining("connected to personal hotspot so it will be terminated").size(),
              1u);

    // The watcher hook may be empty.
    NetworkState state;
    NetworkInventory(commands, state, {}).getAllNetworksDetails();
    EXPECT_TRUE(state.viaEthernet);
    EXPECT_TRUE(state.hotspotInterfacesToDelete().empty());
}

// Wireless service types are matched exactly; a wired port whose name holds
// "iphone" or "ipad" in any case is a hotspot.
TEST(NetworkInventory, WirelessTypesAndHotspotNames) {
    const std::tuple<std::string, std::string, bool, bool> cases[] = {
        {"Port", "IEEE80211", true, false},
        {"Port", "AirPort", true, false},
        {"Port", "airPort", true, false},
        {"Port", "Wi-Fi", true, false},
        {"Port", "wi-fi", false, false},
        {"Port", "AIRPORT", false, false},
        {"Port", "", false, false},
        {"My iPad", "Ethernet", false, true},
        {"IPHONE", "Ethernet", false, true},
        {"iphone usb", "Ethernet", false, true},
        {"Bluetooth PAN", "Ethernet", false, false},
        {"iPhone Wi-Fi", "AirPort", true, false},
    };
    for (const auto& [name, type, wireless, hotspot] : cases) {
        SCOPED_TRACE(name + "/" + type);
        Pass run(toolOutputs({{"en6", "10.0.0.2", "aa", name, type, 0}}), true);
        EXPECT_EQ(run.state.viaWifi, wireless);
        EXPECT_EQ(run.state.viaEthernet, !wireless);
        EXPECT_EQ(run.detectCalls, hotspot ? 1 : 0);
        EXPECT_EQ(run.state.hotspotInterfacesToDelete().size(), hotspot ? 1u : 0u);
    }
}

TEST(NetworkInventory, SharedOrderKeepsOneRecordButBothCount) {
    Pass run(toolOutputs({{"en5", "10.0.0.5", "aa", "LAN A", "Ethernet", 2},
                          {"en6", "10.0.0.6", "bb", "LAN B", "Ethernet", 2},
                          {"en0", "10.0.0.7", "cc", "Wi-Fi", "AirPort", 3}}));
    EXPECT_TRUE(run.state.viaEthernet);
    EXPECT_TRUE(run.state.viaWifi);
    // Either record sharing the smallest order may win; the choice is fixed.
    auto name = run.state.ethernetInterfaceName.get();
    EXPECT_TRUE(name == "en5" || name == "en6") << name.value_or("(absent)");
}

// Nothing connected sets nothing, and the flags are never cleared here.
TEST(NetworkInventory, NothingConnectedChangesNothing) {
    for (const char* broken : {"ifconfig", "networksetup", "no interfaces"}) {
        for (bool flags : {false, true}) {
            SCOPED_TRACE(std::string(broken) + (flags ? ", flags set" : ""));
            auto commands = toolOutputs({{"en5", "10.0.0.5", "aa", "Ethernet", "Ethernet", 0}});
            if (broken == std::string("ifconfig")) commands.ifconfig = "/nonexistent/tool";
            if (broken == std::string("networksetup")) commands.networksetup = "/nonexistent/tool";
            if (broken == std::string("no interfaces")) commands = toolOutputs({});
            test::LogCapture log;
            Pass run(commands, true, flags);
            EXPECT_EQ(run.state.viaEthernet, flags);
            EXPECT_EQ(run.state.viaWifi, flags);
            EXPECT_EQ(run.texts(), kUntouched);
            EXPECT_EQ(run.detectCalls, 0);
            EXPECT_EQ(log.linesContaining("connected networks are").size(), 1u);
        }
    }
}

// The captured tools of a MacBook with Wi-Fi, a USB Ethernet adapter and a
// tethering iPhone ("iPhone USB" on en6).
TEST(NetworkInventory, RealisticMacBook) {
    auto cat = [](const char* name) { return "cat " + shellQuote(test::fixturePath(name)); };
    Pass run({cat("ifconfig-macbook.txt"), cat("system_profiler-macbook.xml"),
              cat("networksetup-macbook.txt"), "true"},
             true);
    EXPECT_TRUE(run.state.viaWifi);
    EXPECT_TRUE(run.state.viaEthernet);
    EXPECT_EQ(run.texts(), (std::array<std::optional<std::string>, 4>{
                               "IP address: 10.0.1.44", "MAC address: 00:E0:4C:68:01:9F",
                               "USB 10/100/1000 LAN", "en5"}));
    auto hotspots = run.state.hotspotInterfacesToDelete();
    ASSERT_EQ(hotspots.size(), 1u);
    EXPECT_EQ(hotspots[0]->BSDName.get(), "en6");
    EXPECT_EQ(run.detectCalls, 1);
}

}  // namespace
}  // namespace ww
