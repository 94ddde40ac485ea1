#include <gtest/gtest.h>

#include "DiscoveryTestSupport.h"
#include "discovery/IfconfigParser.h"
#include "discovery/NetworksetupParser.h"

namespace ww {
namespace {

using plist::Value;

InterfaceInfoPtr record(const std::string& name, const std::string& mac,
                        const std::string& status = "active") {
    auto info = std::make_shared<InterfaceInfo>();
    info->BSDName.set(name);
    info->IPAdress.set("10.0.0." + std::to_string(name.size()));
    info->MacAdress.set(mac);
    info->status.set(status);
    info->type.set("");
    return info;
}

Value service(const std::string& name, const std::string& type, std::int64_t order) {
    Value s = Value::dictionary();
    s.set("_name", Value::string(name));
    s.set("type", Value::string(type));
    s.set("spnetwork_service_order", Value::integer(order));
    return s;
}

const std::string kTwoPorts =
    "\nHardware Port: Wi-Fi\nDevice: en0\nEthernet Address: a4:83:e7:00:00:01\n\n"
    "Hardware Port: Thunderbolt Ethernet\nDevice: en5\nEthernet Address: 00:1c:42:00:00:05\n";

TEST(HardwarePortListing, LineGrammar) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::tuple<std::string, std::optional<std::string>, std::string>> ports;
    };
    const std::vector<Case> cases = {
        {"empty output", "", {}},
        {"no port line", "Device: en0\nEthernet Address: aa\n", {}},
        {"first port without a device line",
         "Hardware Port: Bluetooth PAN\n",
         {{"Bluetooth PAN", std::nullopt, ""}}},
        {"device line before the first port counts for it",
         "Device: en7\nHardware Port: X\n",
         {{"X", "en7", ""}}},
        {"later port without device has an empty one",
         "Hardware Port: A\nDevice: en1\n"
         "Hardware Port: B\n",
         {{"A", "en1", ""}, {"B", "", ""}}},
        {"value starts two characters after the first colon",
         "Hardware Port:X\nDevice:  en2 \n",
         {{"", " en2 ", ""}}},
        {"line ending at its colon has an empty value", "Hardware Port:\nDevice:", {{"", "", ""}}},
        {"address is trimmed, names are not",
         "Hardware Port: Wi-Fi \r\nDevice: en0\r\nEthernet Address:  aa:bb \r\n",
         {{"Wi-Fi ", "en0", "aa:bb"}}},
        {"pattern order: a port line naming a device stays a port line",
         "Hardware Port: Device: en9\n",
         {{"Device: en9", std::nullopt, ""}}},
        {"VLAN trailer is ignored",
         kTwoPorts + "\nVLAN Configurations\n===================\n",
         {{"Wi-Fi", "en0", "a4:83:e7:00:00:01"},
          {"Thunderbolt Ethernet", "en5", "00:1c:42:00:00:05"}}},
    };
    for (const auto& c : cases) {
        auto ports = parseHardwarePorts(c.text);
        std::vector<std::tuple<std::string, std::optional<std::string>, std::string>> got;
        for (const auto& p : ports) got.emplace_back(p.name, p.device, p.ethernetAddress);
        EXPECT_EQ(got, c.ports) << c.what;
    }
}

TEST(HardwarePortMerge, PortsGiveNamesAndMissingAddresses) {
    InterfaceTable ifconfig{{"en0", record("en0", "a4:83:e7:00:00:01")},
                            {"en5", record("en5", "", "inactive")}};
    SystemProfilerTable profiler{{"en0", service("Wi-Fi", "AirPort", 1)},
                                 {"en5", service("Thunderbolt Ethernet", "Ethernet", 0)}};
    auto connected = mergeHardwarePorts(parseHardwarePorts(kTwoPorts), ifconfig, profiler);
    ASSERT_EQ(connected.size(), 2u);
    EXPECT_EQ(connected.at("en0").get(), ifconfig.at("en0").get()) << "the very same record";
    EXPECT_EQ(connected.at("en0")->toString(),
              "en0,Wi-Fi,a4:83:e7:00:00:01,10.0.0.3,active,AirPort,1,Wi-Fi");
    EXPECT_EQ(connected.at("en5")->toString(),
              "en5,Thunderbolt Ethernet,00:1c:42:00:00:05,10.0.0.3,inactive,Ethernet,0,"
              "Thunderbolt Ethernet");
}

// Every port gets its own address line or none: a port without one must not
// show the address of the port before it, and the last port is finished too.
TEST(HardwarePortMerge, EachPortKeepsItsOwnAddressLine) {
    InterfaceTable ifconfig{{"en5", record("en5", "")}};
    auto connected = mergeHardwarePorts(parseHardwarePorts(kTwoPorts), ifconfig, {});
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected.at("en5")->displayName.get(), "Thunderbolt Ethernet");
    EXPECT_EQ(connected.at("en5")->MacAdress.get(), "00:1c:42:00:00:05");

    const std::string text =
        "Hardware Port: Ethernet\nDevice: en0\nEthernet Address: 00:11:22:33:44:55\n\n"
        "Hardware Port: iPhone USB\nDevice: en7\n\n";
    ifconfig = {{"en0", record("en0", "")}, {"en7", record("en7", "")}};
    connected = mergeHardwarePorts(parseHardwarePorts(text), ifconfig, {});
    EXPECT_EQ(connected.at("en0")->MacAdress.get(), "00:11:22:33:44:55");
    EXPECT_EQ(connected.at("en7")->MacAdress.get(), "");

    // Without a service the profiler's three fields stay absent.
    ifconfig = {{"en0", record("en0", "aa", "inactive")}};
    connected = mergeHardwarePorts(parseHardwarePorts("Hardware Port: Ethernet\nDevice: en0\n"),
                                   ifconfig, {});
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected.at("en0")->toString(), "en0,Ethernet,aa,10.0.0.3,inactive,(null),0,(null)");
}

TEST(HardwarePortMerge, InterfaceThatIsNoPortAndNoPortServiceIsLeftOut) {
    InterfaceTable ifconfig{{"utun3", record("utun3", "")}};
    SystemProfilerTable profiler{{"utun3", service("Work VPN", "VPN", 4)}};
    auto connected = mergeHardwarePorts(parseHardwarePorts(kTwoPorts), ifconfig, profiler);
    EXPECT_TRUE(connected.empty());
    // Its fields were still completed from the profiler.
    EXPECT_EQ(ifconfig.at("utun3")->displayName.get(), "Work VPN");
    EXPECT_EQ(ifconfig.at("utun3")->status.get(), "active");
}

TEST(HardwarePortMerge, OtherAdmissionRules) {
    // A service named like a port admits its interface.
    InterfaceTable ifconfig{{"en9", record("en9", "bb", "inactive")}};
    auto connected = mergeHardwarePorts(parseHardwarePorts(kTwoPorts), ifconfig,
                                        {{"en9", service("Thunderbolt Ethernet", "Ethernet", 7)}});
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected.at("en9")->toString(),
              "en9,Thunderbolt Ethernet,bb,10.0.0.3,active,Ethernet,7,Thunderbolt Ethernet");

    // The BSD name is itself a port name; the service name is a device name.
    ifconfig = {{"Wi-Fi", record("Wi-Fi", "")}, {"ppp0", record("ppp0", "")}};
    connected = mergeHardwarePorts(parseHardwarePorts(kTwoPorts), ifconfig,
                                   {{"ppp0", service("en5", "PPP", 3)}});
    EXPECT_EQ(connected.size(), 2u);
    EXPECT_TRUE(connected.contains("Wi-Fi"));
    EXPECT_TRUE(connected.contains("ppp0"));
    EXPECT_FALSE(connected.at("Wi-Fi")->displayName.get().has_value());

    // Without a port line nothing is admitted.
    ifconfig = {{"en0", record("en0", "")}};
    SystemProfilerTable profiler{{"en0", service("Wi-Fi", "AirPort", 0)}};
    EXPECT_TRUE(
        mergeHardwarePorts(parseHardwarePorts("Device: en0\n"), ifconfig, profiler).empty());
    EXPECT_TRUE(mergeHardwarePorts(parseHardwarePorts(std::nullopt), ifconfig, profiler).empty());
}

TEST(HardwarePortMerge, ServiceOrderReadsNumbersAndNumericTexts) {
    const std::vector<std::pair<Value, std::int64_t>> cases = {
        {Value::integer(3), 3},    {Value::integer(-1), -1},
        {Value::real(2.9), 2},     {Value::string(" 12abc"), 12},
        {Value::string("-4"), -4}, {Value::string("x"), 0},
        {Value::boolean(true), 0}, {Value::string("99999999999999999999"), INT64_MAX},
    };
    for (const auto& [order, expected] : cases) {
        InterfaceTable ifconfig{{"en0", record("en0", "")}};
        Value s = service("Ethernet", "Ethernet", 0);
        s.set("spnetwork_service_order", order);
        mergeHardwarePorts(parseHardwarePorts("Hardware Port: Ethernet\nDevice: en0\n"), ifconfig,
                           {{"en0", s}});
        EXPECT_EQ(ifconfig.at("en0")->serviceOrder, expected) << order.description();
    }
}

TEST(HardwarePortMerge, RealisticMacBookOutputs) {
    auto ifconfig = parseIfconfigOutput(test::readFixture("ifconfig-macbook.txt"));
    std::string error;
    auto profiler =
        parseSystemProfilerOutput(test::readFixture("system_profiler-macbook.xml"), &error);
    auto connected = mergeHardwarePorts(
        parseHardwarePorts(test::readFixture("networksetup-macbook.txt")), ifconfig, profiler);
    std::vector<std::string> lines;
    for (const auto& [name, info] : connected) lines.push_back(info->toString());
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "en0,Wi-Fi,3c:22:fb:5a:3c:11,192.168.1.23,active,AirPort,1,Wi-Fi",
                  "en5,USB 10/100/1000 LAN,00:e0:4c:68:01:9f,10.0.1.44,active,Ethernet,0,"
                  "USB 10/100/1000 LAN",
                  "en6,iPhone USB,9a:2c:4e:a1:00:6b,172.20.10.2,active,Ethernet,2,iPhone USB",
              }));
}

}  // namespace
}  // namespace ww
