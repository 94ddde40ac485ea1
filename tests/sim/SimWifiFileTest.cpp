// The simulated Wi-Fi's file side: the keys that mirror it onto a device and
// name the network it re-joins, and what power changes do to the file.

#include <gtest/gtest.h>

#include "platform/sim/SimWifiInterface.h"
#include "tests/support/app_TestSupport.h"

namespace ww::test {
namespace {

using plist::Value;

Value joinNetwork(std::optional<std::string> ssid, std::optional<std::string> bssid,
                  std::vector<Value> addresses) {
    Value d = Value::dictionary();
    if (ssid) d.set("ssid", Value::string(*ssid));
    if (bssid) d.set("bssid", Value::string(*bssid));
    d.set("addresses", Value::array(std::move(addresses)));
    return d;
}

// "device=D join=SSID|BSSID|A,B," with "-" for what is absent.
std::string deviceAndJoin(const sim::SimWifiState& s) {
    std::string out = "device=" + s.device.value_or("-") + " join=";
    if (!s.joinNetwork) return out + "-";
    out += s.joinNetwork->ssid + "|" + s.joinNetwork->bssid.value_or("-") + "|";
    for (const auto& a : s.joinNetwork->addresses) out += a + ",";
    return out;
}

TEST(SimWifiStateTest, DeviceAndJoinNetworkKeys) {
    const Value none;  // key absent
    const std::vector<std::tuple<const char*, Value, Value, std::string>> cases = {
        {"neither", none, none, "device=- join=-"},
        {"both", Value::string("ww-wifi0"),
         joinNetwork("Lab", "4c:43:41:4:1c:bc",
                     {Value::string("198.51.100.2/24"), Value::string("203.0.113.9/25")}),
         "device=ww-wifi0 join=Lab|4c:43:41:4:1c:bc|198.51.100.2/24,203.0.113.9/25,"},
        {"empty device means none", Value::string(""), none, "device=- join=-"},
        {"device of the wrong type", Value::integer(3), none, "device=- join=-"},
        {"join without ssid", none, joinNetwork(std::nullopt, "aa:bb", {}), "device=- join=-"},
        {"join that is no dictionary", none, Value::string("Lab"), "device=- join=-"},
        {"join without bssid, addresses not texts skipped", none,
         joinNetwork("Lab", std::nullopt,
                     {Value::integer(1), Value::string("198.51.100.2/24"), Value::boolean(true)}),
         "device=- join=Lab|-|198.51.100.2/24,"},
    };
    for (const auto& [what, device, join, expected] : cases) {
        Value d = simWifi(true, true);
        if (!device.isNull()) d.set("device", device);
        if (!join.isNull()) d.set("joinNetwork", join);
        EXPECT_EQ(deviceAndJoin(sim::SimWifiState::fromPlist(d)), expected) << what;
    }
}

class SimWifiPowerTest : public ::testing::Test {
  protected:
    void write(const Value& d) { writeFile(path, plist::toXml(d)); }
    sim::SimWifiState state() { return *sim::SimWifiFile(path).readState(); }

    TempDir dir;
    std::string path = dir.file("wifi.plist");
};

// Without a device the file is the whole radio: switching power on while not
// associated joins the configured network; everything else is as before.
TEST_F(SimWifiPowerTest, PowerOnJoinsTheConfiguredNetworkOnlyWhenNotAssociated) {
    struct Case {
        const char* name;
        bool associated, withJoin, joinBssid, on;
        std::optional<std::string> expectSsid, expectBssid;
    };
    const std::string irene = "Flowers By Irene", ireneBssid = "4c:43:41:4:1c:bc";
    // clang-format off
    const Case cases[] = {
        {"joins", false, true, true, true, "Lab", "02:00:00:00:00:01"},
        {"joins without bssid", false, true, false, true, "Lab", std::nullopt},
        {"already associated stays", true, true, true, true, irene, ireneBssid},
        {"nothing to join", false, false, false, true, std::nullopt, std::nullopt},
        {"power off keeps the association", true, true, true, false, irene, ireneBssid},
        {"power off joins nothing", false, true, true, false, std::nullopt, std::nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Value d = simWifi(!c.on, c.associated);
        const auto bssid =
            c.joinBssid ? std::optional<std::string>("02:00:00:00:00:01") : std::nullopt;
        if (c.withJoin) {
            d.set("joinNetwork", joinNetwork("Lab", bssid, {Value::string("198.51.100.2/24")}));
        }
        write(d);
        sim::SimWifiInterface wifi(path);
        std::optional<std::string> error;
        ASSERT_TRUE(wifi.setPower(c.on, &error)) << error.value_or("");
        EXPECT_FALSE(error);
        sim::SimWifiState s = state();
        EXPECT_EQ(std::tuple(s.power, s.ssid, s.bssid),
                  std::tuple(c.on, c.expectSsid, c.expectBssid));
        EXPECT_EQ(simOperations(path),
                  std::vector<std::string>{c.on ? "setPower:1" : "setPower:0"});
    }
}

TEST_F(SimWifiPowerTest, FailPowerWinsBeforeTheDeviceIsTouched) {
    Value d = simWifi(true, true);
    d.set("failPower", Value::string("The operation couldn't be completed."));
    d.set("device", Value::string("ww-absent9"));
    write(d);
    sim::SimWifiInterface wifi(path);
    std::optional<std::string> error;
    EXPECT_FALSE(wifi.setPower(false, &error));
    EXPECT_EQ(error, std::optional<std::string>("The operation couldn't be completed."));
    EXPECT_TRUE(simOperations(path).empty());
    EXPECT_TRUE(state().power);
}

TEST_F(SimWifiPowerTest, AnUnreadableFileIsLoggedOnDisconnect) {
    writeFile(path, "not a property list");
    sim::SimWifiInterface wifi(path);
    ScopedCapture capture;
    std::optional<std::string> error;
    EXPECT_FALSE(wifi.disassociate(&error));
    EXPECT_TRUE(error && error->starts_with(path)) << error.value_or("no error");
    auto lines = capture.logger->texts();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Simulated Wi-Fi: cannot disconnect: " + path, 0), 0u) << lines[0];
    EXPECT_EQ(readFile(path), "not a property list");
}

}  // namespace
}  // namespace ww::test
