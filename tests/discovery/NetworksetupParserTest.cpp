#include <gtest/gtest.h>

#include "DiscoveryTestSupport.h"
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

// Which interfaces the ports admit, and what the ports and services fill in.
// Every port gets its own address line or none: a port without one must not
// show the address of the port before it, and the last port is finished too.
TEST(HardwarePortMerge, AdmissionAndFilledFields) {
    using Records =
        std::vector<std::tuple<std::string, std::string, std::string>>;  // name, MAC, status
    using Services = std::vector<std::tuple<std::string, std::string, std::string, int>>;
    const std::string twoWithOneAddress =
        "Hardware Port: Ethernet\nDevice: en0\nEthernet Address: 00:11:22:33:44:55\n\n"
        "Hardware Port: iPhone USB\nDevice: en7\n\n";
    struct Case {
        const char* what;
        std::optional<std::string> ports;
        Records records;
        Services services;  // BSD name, service name, type, order
        std::vector<std::string> connected;
    };
    const Case cases[] = {
        {"ports give names and missing addresses",
         kTwoPorts,
         {{"en0", "a4:83:e7:00:00:01", "active"}, {"en5", "", "inactive"}},
         {{"en0", "Wi-Fi", "AirPort", 1}, {"en5", "Thunderbolt Ethernet", "Ethernet", 0}},
         {"en0,Wi-Fi,a4:83:e7:00:00:01,10.0.0.3,active,AirPort,1,Wi-Fi",
          "en5,Thunderbolt Ethernet,00:1c:42:00:00:05,10.0.0.3,inactive,Ethernet,0,Thunderbolt "
          "Ethernet"}},
        {"the last port's address",
         kTwoPorts,
         {{"en5", "", "active"}},
         {},
         {"en5,Thunderbolt Ethernet,00:1c:42:00:00:05,10.0.0.3,active,(null),0,(null)"}},
        {"a port without an address line, no services",
         twoWithOneAddress,
         {{"en0", "", "inactive"}, {"en7", "", "active"}},
         {},
         {"en0,Ethernet,00:11:22:33:44:55,10.0.0.3,inactive,(null),0,(null)",
          "en7,iPhone USB,,10.0.0.3,active,(null),0,(null)"}},
        {"no port and no port service",
         kTwoPorts,
         {{"utun3", "", "active"}},
         {{"utun3", "Work VPN", "VPN", 4}},
         {}},
        {"a service named like a port",
         kTwoPorts,
         {{"en9", "bb", "inactive"}},
         {{"en9", "Thunderbolt Ethernet", "Ethernet", 7}},
         {"en9,Thunderbolt Ethernet,bb,10.0.0.3,active,Ethernet,7,Thunderbolt Ethernet"}},
        {"a BSD name that is a port name, a service name that is a device",
         kTwoPorts,
         {{"Wi-Fi", "", "active"}, {"ppp0", "", "active"}},
         {{"ppp0", "en5", "PPP", 3}},
         {"Wi-Fi,(null),,10.0.0.5,active,(null),0,(null)", "ppp0,en5,,10.0.0.4,active,PPP,3,en5"}},
        {"no port line",
         "Device: en0\n",
         {{"en0", "", "active"}},
         {{"en0", "Wi-Fi", "AirPort", 0}},
         {}},
        {"no output", std::nullopt, {{"en0", "", "active"}}, {{"en0", "Wi-Fi", "AirPort", 0}}, {}},
    };
    for (const Case& c : cases) {
        InterfaceTable ifconfig;
        for (const auto& [name, mac, status] : c.records)
            ifconfig[name] = record(name, mac, status);
        SystemProfilerTable profiler;
        for (const auto& [bsd, name, type, order] : c.services) {
            profiler.emplace(bsd, service(name, type, order));
        }
        std::vector<std::string> lines;
        for (const auto& [name, info] :
             mergeHardwarePorts(parseHardwarePorts(c.ports), ifconfig, profiler)) {
            lines.push_back(info->toString());
        }
        EXPECT_EQ(lines, c.connected) << c.what;
    }
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

}  // namespace
}  // namespace ww
