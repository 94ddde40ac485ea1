// The iwd backend against a small dbusmock object tree with iwd's own names
// (tests/support/dbusmock/iwd.py) on a private bus.

#include <gtest/gtest.h>

#include "platform/linux/wifi/WiFiBackend.h"
#include "tests/support/app_TestSupport.h"
#include "tests/support/dbus_PrivateBus.h"

namespace ww::linuxwifi {
namespace {

const std::string kTemplate = std::string(WW_SOURCE_ROOT) + "/tests/support/dbusmock/iwd.py";
constexpr const char* kService = "net.connman.iwd";

class IwdBackendTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!bus.available()) GTEST_SKIP() << "no private D-Bus: " << bus.whyUnavailable();
        options.systemBusAddress = bus.address();
        options.sysfsRoot = dir.file("empty-sys");
    }

    // Starts iwd's mock with these devices (JSON list).
    void startIwd(const std::string& devices) {
        iwd = std::make_unique<test::DBusMock>(
            bus, test::DBusMock::Options{kTemplate, kService, "{\"devices\": " + devices + "}"});
        if (!iwd->running()) GTEST_SKIP() << iwd->whyNotRunning();
        caller = std::make_unique<test::BusCaller>(bus.address());
        std::string error;
        client = makeLinuxWiFiClient("iwd", options, error);
        ASSERT_TRUE(client) << error;
    }

    std::optional<bool> powered(const std::string& device) {
        auto reply = caller->call(kService, device, "org.freedesktop.DBus.Properties", "Get",
                                  nullptr, "ss", "net.connman.iwd.Device", "Powered");
        int value = 0;
        if (!reply || sd_bus_message_read(reply.get(), "v", "b", &value) < 0) return std::nullopt;
        return value != 0;
    }
    std::string stationState(const std::string& device) {
        auto reply = caller->call(kService, device, "org.freedesktop.DBus.Properties", "Get",
                                  nullptr, "ss", "net.connman.iwd.Station", "State");
        const char* s = nullptr;
        if (!reply || sd_bus_message_read(reply.get(), "v", "s", &s) < 0 || !s) return {};
        return s;
    }
    int calls(const std::string& path, const char* method) {
        auto reply = caller->call(kService, path, "org.freedesktop.DBus.Mock", "GetMethodCalls",
                                  nullptr, "s", method);
        if (!reply || sd_bus_message_enter_container(reply.get(), 'a', "(tav)") < 0) return -1;
        int n = 0;
        while (sd_bus_message_at_end(reply.get(), 0) == 0) {
            if (sd_bus_message_skip(reply.get(), "(tav)") < 0) return -1;
            ++n;
        }
        return n;
    }

    test::TempDir dir;
    test::PrivateBus bus;
    LinuxWiFiOptions options;
    std::unique_ptr<test::DBusMock> iwd;
    std::unique_ptr<test::BusCaller> caller;
    std::unique_ptr<LinuxWiFiClient> client;
};

// Device paths the template gives: /net/connman/iwd/0/4, /5, ...
const std::string kDevice0 = "/net/connman/iwd/0/4";
// "Lab" as hex, with its type.
const std::string kLabNetwork = kDevice0 + "/4c6162_psk";

constexpr const char* kConnectedWithDiagnostics = R"([{"name": "wlan0", "state": "connected",
    "network": {"name": "Lab", "type": "psk"},
    "diagnostics": {"ConnectedBss": "4c:43:41:04:1c:bc", "Frequency": 5955, "RSSI": -52,
                    "TxMode": "802.11ax", "TxBitrate": 24019, "TxMCS": 11,
                    "Security": "WPA3-Personal"}}])";

TEST_F(IwdBackendTest, ReadsWithDiagnostics) {
    ASSERT_NO_FATAL_FAILURE(startIwd(kConnectedWithDiagnostics));
    auto iface = client->interface();
    ASSERT_TRUE(iface);
    EXPECT_TRUE(iface->powerOn());
    EXPECT_EQ(iface->interfaceMode(), 1);
    EXPECT_EQ(iface->security(), 11);
    EXPECT_EQ(iface->activePHYMode(), 6);
    EXPECT_EQ(iface->ssid(), std::optional<std::string>("Lab"));
    EXPECT_EQ(iface->bssid(), std::optional<std::string>("4c:43:41:04:1c:bc"));
    auto channel = iface->wlanChannel();
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->channelNumber, 1);
    EXPECT_EQ(channel->channelBand, 3);
    EXPECT_EQ(channel->channelWidth, 0) << "the width is nl80211's, absent here";
    EXPECT_EQ(iface->rssiValue(), -52);
    EXPECT_DOUBLE_EQ(iface->transmitRate(), 2401.9);
    EXPECT_EQ(iface->noiseMeasurement(), 0);
    auto link = client->device()->read(kLinkAll);
    EXPECT_EQ(link.mcs, 11);
    EXPECT_EQ(client->device()->name(), "wlan0");
}

TEST_F(IwdBackendTest, WithoutDiagnosticsTheNetworksType) {
    ASSERT_NO_FATAL_FAILURE(startIwd(R"([{"name": "wlan0", "state": "connected",
        "network": {"name": "Corp", "type": "8021x"}}])"));
    auto iface = client->interface();
    ASSERT_TRUE(iface);
    EXPECT_EQ(iface->security(), 9);
    EXPECT_EQ(iface->ssid(), std::optional<std::string>("Corp"));
    EXPECT_FALSE(iface->bssid()) << "nl80211 has nothing here";
    EXPECT_EQ(iface->rssiValue(), 0);
    EXPECT_EQ(iface->activePHYMode(), 0);
    EXPECT_FALSE(iface->wlanChannel());
}

TEST_F(IwdBackendTest, TheDefaultDeviceAndTheAutomaticChoice) {
    ASSERT_NO_FATAL_FAILURE(startIwd(R"([
        {"name": "wlan1", "state": "disconnected"},
        {"name": "wlan0", "state": "disconnected"}])"));
    EXPECT_EQ(client->device()->name(), "wlan0");
    std::string error;
    options.callTimeout = std::chrono::milliseconds(500);
    auto automatic = makeLinuxWiFiClient("auto", options, error);
    ASSERT_TRUE(automatic);
    ASSERT_TRUE(automatic->device());
    EXPECT_EQ(automatic->backendName(), "iwd") << "no NetworkManager on this bus";
    // An iwd that hangs is passed over for that look (here: nothing after it),
    // and found again once it answers.
    iwd->pause();
    EXPECT_FALSE(automatic->device());
    EXPECT_EQ(automatic->backendName(), "none");
    iwd->resume();
    ASSERT_TRUE(automatic->device());
    EXPECT_EQ(automatic->backendName(), "iwd");

    iwd.reset();
    ASSERT_NO_FATAL_FAILURE(startIwd(R"([
        {"name": "wlan0", "state": "disconnected"},
        {"name": "wlan1", "state": "connected", "network": {"name": "Lab", "type": "psk"}}])"));
    EXPECT_EQ(client->device()->name(), "wlan1") << "the one with an active connection";
}

}  // namespace
}  // namespace ww::linuxwifi
