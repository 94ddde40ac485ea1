// The agent end to end with NetworkManager: `wirewatch --headless` without
// --wifi in a network namespace, the wired veth end declared a port, and
// python3-dbusmock's NetworkManager on a private bus (reached through
// DBUS_SYSTEM_BUS_ADDRESS) managing the Wi-Fi veth end. The agent chooses
// NetworkManager by itself; every reaction comes from the network change.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

#include "tests/support/dbus_NetworkManagerMock.h"
#include "tests/support/e2e_AgentInNamespace.h"

namespace ww::test {
namespace {

using namespace std::chrono_literals;

constexpr long long kReactionLimitMillis = 2000;
constexpr long long kTriggeredBeforeMillis = 4000;

// The time a dbusmock log line was written ("1700000000.123 Disconnect").
std::optional<SystemTime> mockTime(const std::string& line) {
    double seconds = std::strtod(line.c_str(), nullptr);
    if (seconds <= 0) return std::nullopt;
    return SystemTime(
        std::chrono::duration_cast<SystemTime::duration>(std::chrono::duration<double>(seconds)));
}

class NetworkManagerNamespaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        struct stat st {};
        ASSERT_EQ(::stat((buildDir() + "/bin/wirewatch").c_str(), &st), 0)
            << "WW_BUILD_DIR must point at a build tree with bin/wirewatch";
        agent = std::make_unique<AgentInNamespace>("wwnm");
        if (!agent->available()) {
            GTEST_SKIP() << "needs a network namespace: " << agent->whyUnavailable();
        }
        if (!bus.available()) GTEST_SKIP() << "no private D-Bus: " << bus.whyUnavailable();
        nm = std::make_unique<NetworkManagerMock>(bus);
        if (!nm->running()) GTEST_SKIP() << nm->whyNotRunning();
    }

    // NetworkManager manages the Wi-Fi veth end, joined to a WPA2 network.
    void launch(const std::string& rule, bool autoconnect) {
        std::string error;
        device = nm->addWiFiDevice("wifi0", kWifiDevice, 100, autoconnect, &error);
        ASSERT_FALSE(device.empty()) << error;
        NetworkManagerMock::AccessPoint ap;
        ap.name = "home";
        ap.ssid = kWifiSsid;
        ap.bssid = "4C:43:41:04:1C:BC";
        ASSERT_FALSE(nm->addAccessPoint(device, ap, true, &error).empty()) << error;

        AgentInNamespace::Settings settings;
        settings.rule = rule;
        settings.enableWireless = "1";
        settings.simulatedWifi = false;
        settings.environment = bus.environment();
        ASSERT_TRUE(agent->prepare(settings, error)) << error;
        ASSERT_TRUE(agent->start(error)) << error;
        banner = *agent->banner();
        ASSERT_EQ(agent->checksSoFar(), 0);
    }

    // Waits for a further mock log line containing `text`; its time.
    std::optional<SystemTime> waitForMock(const std::string& text, std::size_t before,
                                          std::chrono::milliseconds limit = 10s) {
        FolderWatch watch(bus.folder().path());
        bool seen =
            watch.waitFor([&] { return nm->mock().logLines(text).size() > before; }, after(limit));
        if (!seen) return std::nullopt;
        return mockTime(nm->mock().logLines(text)[before]);
    }

    void expectSoonAfterTheChange(const std::optional<SystemTime>& seen) {
        ASSERT_TRUE(seen);
        // The mock stamps whole milliseconds.
        EXPECT_LT(millisBetween(changed, *seen), kReactionLimitMillis);
        EXPECT_GE(millisBetween(changed, *seen), -1);
        EXPECT_LT(millisBetween(banner, *seen), kTriggeredBeforeMillis)
            << "too late to tell from the first timer tick";
    }

    void settle() { ASSERT_TRUE(agent->waitUntilIdle(500ms, after(10s))); }

    std::unique_ptr<AgentInNamespace> agent;
    PrivateBus bus;
    std::unique_ptr<NetworkManagerMock> nm;
    std::string device;
    SystemTime banner, changed;
};

constexpr const char* kWirelessOff =
    "Set /org/freedesktop/NetworkManager org.freedesktop.NetworkManager.WirelessEnabled False";
constexpr const char* kWirelessOn =
    "Set /org/freedesktop/NetworkManager org.freedesktop.NetworkManager.WirelessEnabled True";
constexpr const char* kAutoconnectOn = "org.freedesktop.NetworkManager.Device.Autoconnect True";

TEST_F(NetworkManagerNamespaceTest, TheWiredAddressLeadsToDisconnectOnTheMock) {
    ASSERT_NO_FATAL_FAILURE(launch("0", true));
    ASSERT_TRUE(agent->setWiredAddress(true, &changed));
    expectSoonAfterTheChange(waitForMock(" Disconnect", 0));
    EXPECT_GE(nm->calls(device, "Disconnect"), 1);
    EXPECT_EQ(nm->autoconnect(device), false);
    EXPECT_EQ(nm->wirelessEnabled(), true) << "disconnected, still powered";
    settle();
    EXPECT_EQ(nm->calls(device, "Disconnect"), 1)
        << "later checks find nothing to leave: no second call";
    EXPECT_TRUE(
        agent->firstLine("Wi-Fi backend: nm (NetworkManager), device " + std::string(kWifiDevice)));
    EXPECT_EQ(agent->stop(), 0) << agent->agentStderr();
}

TEST_F(NetworkManagerNamespaceTest, RuleOneSwitchesWiFiOffAndBackOnWithAutoconnect) {
    ASSERT_NO_FATAL_FAILURE(launch("1", false));
    ASSERT_TRUE(agent->setWiredAddress(true, &changed));
    expectSoonAfterTheChange(waitForMock(kWirelessOff, 0));
    EXPECT_EQ(nm->wirelessEnabled(), false);
    EXPECT_EQ(nm->calls(device, "Disconnect"), 0);

    // NetworkManager takes the radio's address away with Wi-Fi off.
    ASSERT_EQ(agent->netns().ip(std::string("address flush dev ") + kWifiDevice), 0);
    settle();
    std::size_t onBefore = nm->mock().logLines(kWirelessOn).size();
    std::size_t autoconnectBefore = nm->mock().logLines(kAutoconnectOn).size();
    // Wired goes: nothing is connected and "enableWireless" is 1.
    ASSERT_TRUE(agent->setWiredAddress(false, &changed));
    expectSoonAfterTheChange(waitForMock(kWirelessOn, onBefore));
    ASSERT_TRUE(waitForMock(kAutoconnectOn, autoconnectBefore));
    EXPECT_EQ(nm->wirelessEnabled(), true);
    EXPECT_EQ(nm->autoconnect(device), true);
    EXPECT_EQ(agent->stop(), 0) << agent->agentStderr();
}

}  // namespace
}  // namespace ww::test
