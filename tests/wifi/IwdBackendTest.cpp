// The iwd backend against a small dbusmock object tree with iwd's own names
// (tests/support/dbusmock/iwd.py) on a private bus: what the lab's real iwd
// cannot be made to show or do (no diagnostics, several devices, a hang).

#include <gtest/gtest.h>

#include "platform/linux/wifi/WiFiBackend.h"
#include "platform/linux/wifi/WiFiCodes.h"
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
        std::string error;
        client = makeLinuxWiFiClient("iwd", options, error);
        ASSERT_TRUE(client) << error;
    }

    test::TempDir dir;
    test::PrivateBus bus;
    LinuxWiFiOptions options;
    std::unique_ptr<test::DBusMock> iwd;
    std::unique_ptr<LinuxWiFiClient> client;
};

constexpr const char* kConnectedWithDiagnostics = R"([{"name": "wlan0", "state": "connected",
    "network": {"name": "Lab", "type": "psk"},
    "diagnostics": {"ConnectedBss": "4c:43:41:04:1c:bc", "Frequency": 5955, "RSSI": -52,
                    "TxMode": "802.11ax", "TxBitrate": 24019, "TxMCS": 11,
                    "Security": "WPA3-Personal"}}])";

// The values the lab's real iwd does not show: 6 GHz, its rate in 100 kbit/s,
// the signal and the MCS index.
TEST_F(IwdBackendTest, ReadsWithDiagnostics) {
    ASSERT_NO_FATAL_FAILURE(startIwd(kConnectedWithDiagnostics));
    auto iface = client->interface();
    ASSERT_TRUE(iface);
    EXPECT_EQ(iface->security(), kSecurityWPA3Personal);
    auto channel = iface->wlanChannel();
    ASSERT_TRUE(channel);
    EXPECT_EQ(std::vector<std::int64_t>(
                  {channel->channelNumber, channel->channelBand, channel->channelWidth}),
              std::vector<std::int64_t>({1, 3, 0}))
        << "the width is nl80211's, absent here";
    EXPECT_EQ(iface->rssiValue(), -52);
    EXPECT_DOUBLE_EQ(iface->transmitRate(), 2401.9);
    EXPECT_EQ(client->device()->read(kLinkAll).mcs, 11);
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
