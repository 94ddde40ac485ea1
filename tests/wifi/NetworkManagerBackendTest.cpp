// The NetworkManager backend against python3-dbusmock's NetworkManager
// template on a private bus: what the lab's real NetworkManager cannot be
// made to show or do here: a 6 GHz network, several devices, a refused write
// reaching the check's log line, a hardware switch, and NetworkManager going
// away, coming back and hanging while the agent runs.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include <unistd.h>

#include "platform/linux/wifi/WiFiBackend.h"
#include "platform/linux/wifi/WiFiCodes.h"
#include "tests/app/AgentFixture.h"
#include "tests/support/dbus_NetworkManagerMock.h"
#include "tests/support/reachability_Netns.h"

namespace ww::linuxwifi {
namespace {

using M = test::NetworkManagerMock;
using AP = M::AccessPoint;

constexpr std::uint32_t kActivated = 100;
constexpr std::uint32_t kDisconnected = 30;

// The agent with a Linux Wi-Fi client on a private bus with NetworkManager.
class NetworkManagerBackendTest : public test::AgentFixture {
  protected:
    void SetUp() override {
        test::AgentFixture::SetUp();
        if (!bus.available()) GTEST_SKIP() << "no private D-Bus: " << bus.whyUnavailable();
        nm = std::make_unique<M>(bus);
        if (!nm->running()) GTEST_SKIP() << nm->whyNotRunning();
        options.systemBusAddress = bus.address();
        // No wireless device of this machine may stand in when the mock goes.
        options.sysfsRoot = dir.file("empty-sys");
    }

    // wlan0, activated on "Flowers By Irene" (WPA2, 5 GHz, 80 MHz).
    void addConnectedDevice() {
        std::string error;
        wlan0 = nm->addWiFiDevice("wlan0", "wlan0", kActivated, true, &error);
        ASSERT_FALSE(wlan0.empty()) << error;
        AP ap{"home", "Flowers By Irene", "4C:43:41:04:1C:BC"};
        ap.bandwidth = 80;
        ASSERT_FALSE(nm->addAccessPoint(wlan0, ap, true, &error).empty()) << error;
    }

    // The agent, wired and on Wi-Fi with rule `rule`, after its first check.
    void launchWired(const char* rule) {
        ASSERT_NO_FATAL_FAILURE(useClient());
        setPref("selectedInterfaceOption", rule);
        wired = wireless = true;
        launch();
        ASSERT_NO_FATAL_FAILURE(runCheck());
    }

    void useClient(const std::string& name = "auto") {
        std::string error;
        auto client = makeLinuxWiFiClient(name, options, error);
        ASSERT_TRUE(client) << error;
        linuxClient = client.get();
        wifiClient = std::move(client);
    }

    std::vector<std::string> logTexts() { return capture.logger->texts(); }
    bool logged(const std::string& text) {
        auto texts = logTexts();
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }

    test::PrivateBus bus;
    std::unique_ptr<M> nm;
    LinuxWiFiOptions options;
    LinuxWiFiClient* linuxClient = nullptr;
    std::string wlan0;
};

// WPA3 on 6 GHz at 320 MHz (what the lab's radios cannot show), and the rates
// in NetworkManager's kbit/s.
TEST_F(NetworkManagerBackendTest, ReadsOfAWpa3NetworkOn6GHz) {
    std::string error;
    wlan0 = nm->addWiFiDevice("wlan0", "wlan0", kActivated, true, &error);
    ASSERT_FALSE(wlan0.empty()) << error;
    ASSERT_TRUE(nm->set(wlan0, M::kWireless, "Bitrate", "u", 866700u, &error)) << error;
    AP six{"wpa3", "Six", "02:00:00:00:06:01", 5955, 2401900, 80, 1, 0, M::kPairCcmp | M::kSae};
    six.bandwidth = 320;
    ASSERT_FALSE(nm->addAccessPoint(wlan0, six, true, &error).empty()) << error;
    useClient("nm");
    CWInterfacePtr iface = wifiClient->interface();
    ASSERT_TRUE(iface);
    EXPECT_TRUE(iface->powerOn());
    EXPECT_EQ(iface->security(), kSecurityWPA3Personal);
    EXPECT_EQ(iface->bssid(), std::optional<std::string>("02:00:00:00:06:01"));
    auto channel = iface->wlanChannel();
    ASSERT_TRUE(channel);
    EXPECT_EQ(std::vector<std::int64_t>(
                  {channel->channelNumber, channel->channelBand, channel->channelWidth}),
              std::vector<std::int64_t>({1, 3, 5}));
    EXPECT_DOUBLE_EQ(iface->transmitRate(), 866.7);
    EXPECT_DOUBLE_EQ(linuxClient->device()->read(kLinkAll).maxRate, 2401.9);
    // Signal, noise and PHY mode come from nl80211, which this machine
    // lacks: the absent values, never made-up ones.
    EXPECT_EQ(iface->rssiValue(), 0);
    EXPECT_EQ(iface->activePHYMode(), 0);
    // Not associated: no network values; powered off: power false.
    ASSERT_TRUE(nm->set(wlan0, M::kWireless, "ActiveAccessPoint", "o", "/", &error)) << error;
    ASSERT_TRUE(nm->set(M::kManagerPath, M::kManager, "WirelessEnabled", "b", 0, &error)) << error;
    iface = wifiClient->interface();
    ASSERT_TRUE(iface);
    EXPECT_FALSE(iface->powerOn());
    EXPECT_FALSE(iface->ssid() || iface->bssid() || iface->wlanChannel());
    EXPECT_EQ(iface->security(), 0);
}

TEST_F(NetworkManagerBackendTest, TheDefaultDeviceIsTheActiveOneElseTheFirstByName) {
    std::string error;
    std::string b = nm->addWiFiDevice("b", "wlp3s0", kDisconnected, true, &error);
    std::string a = nm->addWiFiDevice("a", "wlp2s0", kDisconnected, true, &error);
    ASSERT_TRUE(nm->caller().call(M::kService, M::kManagerPath, M::kMock, "AddEthernetDevice",
                                  &error, "ssi", "eth", "eth0", std::int32_t{100}))
        << error;
    useClient();
    ASSERT_TRUE(linuxClient->device());
    EXPECT_EQ(linuxClient->device()->name(), "wlp2s0");
    EXPECT_EQ(linuxClient->backendName(), "nm");
    ASSERT_TRUE(nm->set(b, M::kDevice, "State", "u", kActivated, &error));
    EXPECT_EQ(linuxClient->device()->name(), "wlp3s0");
    // A device NetworkManager does not manage is not its Wi-Fi.
    ASSERT_TRUE(nm->set(b, M::kDevice, "Managed", "b", 0, &error));
    EXPECT_EQ(linuxClient->device()->name(), "wlp2s0");
    EXPECT_TRUE(logged("Wi-Fi backend: nm (NetworkManager), device wlp2s0"));
    EXPECT_TRUE(logged("Wi-Fi backend: nm (NetworkManager) now uses device wlp3s0"));
    // A disconnect goes to the chosen device only, not to the other active one.
    ASSERT_TRUE(nm->set(a, M::kDevice, "State", "u", kActivated, &error));
    std::optional<std::string> why;
    EXPECT_TRUE(wifiClient->interface()->disassociate(&why)) << why.value_or("");
    EXPECT_EQ(nm->calls(a, "Disconnect"), 1);
    EXPECT_EQ(nm->calls(b, "Disconnect"), 0);
}

TEST_F(NetworkManagerBackendTest, ARefusedWriteIsTheErrorInTheChecksLogLine) {
    ASSERT_NO_FATAL_FAILURE(addConnectedDevice());
    std::string error;
    ASSERT_TRUE(nm->refuseSet(&error)) << error;
    ASSERT_NO_FATAL_FAILURE(launchWired("1"));
    EXPECT_EQ(nm->wirelessEnabled(), true);
    EXPECT_TRUE(
        logged("CoreWLAN returend error as :NetworkManager refused to switch Wi-Fi off: "
               "org.freedesktop.NetworkManager.PermissionDenied: Not authorized to "
               "control networking. "));
}

TEST_F(NetworkManagerBackendTest, AHardwareSwitchIsThePowerChangesError) {
    std::string error;
    wlan0 = nm->addWiFiDevice("wlan0", "wlan0", kDisconnected, false, &error);
    ASSERT_FALSE(wlan0.empty()) << error;
    ASSERT_TRUE(nm->set(M::kManagerPath, M::kManager, "WirelessHardwareEnabled", "b", 0, &error));
    useClient();
    setPref("enableWireless", "1");
    launch();
    ASSERT_NO_FATAL_FAILURE(runCheck());
    EXPECT_TRUE(logged("CoreWLAN returend error as :Wi-Fi is switched off by a hardware switch "));
    // Switching off needs no radio.
    std::optional<std::string> why;
    EXPECT_TRUE(wifiClient->interface()->setPower(false, &why)) << why.value_or("");
}

TEST_F(NetworkManagerBackendTest, TheServiceGoingAwayAndComingBackMidRun) {
    ASSERT_NO_FATAL_FAILURE(addConnectedDevice());
    ASSERT_NO_FATAL_FAILURE(launchWired("0"));
    EXPECT_EQ(linuxClient->backendName(), "nm");

    nm->mock().stop();
    ASSERT_NO_FATAL_FAILURE(runCheck());
    EXPECT_EQ(linuxClient->backendName(), "none");
    EXPECT_TRUE(
        logged("Wi-Fi backend: nm (NetworkManager) is gone "
               "(org.freedesktop.NetworkManager is not on the system bus); choosing "
               "again"));
    ASSERT_NO_FATAL_FAILURE(runCheck());

    // It starts again (new objects): the next check finds it.
    ASSERT_TRUE(nm->mock().start()) << nm->whyNotRunning();
    ASSERT_NO_FATAL_FAILURE(addConnectedDevice());
    ASSERT_NO_FATAL_FAILURE(runCheck());
    EXPECT_EQ(linuxClient->backendName(), "nm");
    EXPECT_EQ(nm->calls(wlan0, "Disconnect"), 1);
    auto texts = logTexts();
    EXPECT_EQ(
        std::count(texts.begin(), texts.end(), "Wi-Fi backend: nm (NetworkManager), device wlan0"),
        2);
}

TEST_F(NetworkManagerBackendTest, AHungServiceCostsOneCallLimitNotOnePerValue) {
    EXPECT_EQ(LinuxWiFiOptions{}.callTimeout, std::chrono::seconds(2)) << "the shipped limit";
    const auto limit = std::chrono::milliseconds(400);
    options.callTimeout = limit;
    ASSERT_NO_FATAL_FAILURE(addConnectedDevice());
    ASSERT_NO_FATAL_FAILURE(launchWired("1"));
    ASSERT_EQ(linuxClient->backendName(), "nm");

    nm->mock().pause();
    auto start = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(runCheck());
    auto took = std::chrono::steady_clock::now() - start;
    nm->mock().resume();
    // One limit, and the rest of a check: far from the ten or more a read per
    // value would wait.
    EXPECT_GE(took, limit);
    EXPECT_LT(took, 3 * limit)
        << "a check with a hung NetworkManager must wait one call limit, not one per call";
    EXPECT_EQ(linuxClient->backendName(), "none");
    auto texts = logTexts();
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [](const std::string& t) {
        return t.starts_with("Wi-Fi backend: nm (NetworkManager) is gone") &&
               t.find("Connection timed out") != std::string::npos;
    }));
    // Answering again: found again at the next check.
    ASSERT_NO_FATAL_FAILURE(runCheck());
    EXPECT_EQ(linuxClient->backendName(), "nm");
}

// Stands for the agent's client and stops NetworkManager right after the
// check's look, so that the reads of the link details are what hangs.
class HangsAfterTheLook : public WiFiClient {
  public:
    HangsAfterTheLook(WiFiClient& inner, std::function<void()> hang)
        : m_inner(inner), m_hang(std::move(hang)) {}
    CWInterfacePtr interface() override {
        CWInterfacePtr found = m_inner.interface();
        m_hang();
        return found;
    }
    std::string backendName() const override { return m_inner.backendName(); }

  private:
    WiFiClient& m_inner;
    std::function<void()> m_hang;
};

TEST_F(NetworkManagerBackendTest, TheMainThreadRunsOnWhileTheLinkDetailsHang) {
    ASSERT_NO_FATAL_FAILURE(addConnectedDevice());
    ASSERT_NO_FATAL_FAILURE(useClient("nm"));
    // Once the check has looked, NetworkManager stops answering.
    std::promise<std::chrono::steady_clock::time_point> hung;
    std::once_flag once;
    std::unique_ptr<WiFiClient> real = std::move(wifiClient);
    wifiClient = std::make_unique<HangsAfterTheLook>(*real, [&] {
        std::call_once(once, [&] {
            nm->mock().pause();
            hung.set_value(std::chrono::steady_clock::now());
        });
    });
    wireless = true;  // Wi-Fi only: no rule acts, the menu shows the link details
    launch();

    // While the check waits on the hung service, a task handed to the main
    // thread must run at once, not when the wait ends.
    std::chrono::steady_clock::duration answeredAfter{};
    std::thread asker([&] {
        auto hungAt = hung.get_future().get();
        loop.postAndWait([&] { answeredAfter = std::chrono::steady_clock::now() - hungAt; });
    });
    auto start = std::chrono::steady_clock::now();
    runCheck();
    auto took = std::chrono::steady_clock::now() - start;
    asker.join();
    nm->mock().resume();

    EXPECT_GE(took, options.callTimeout) << "the details did wait for NetworkManager";
    EXPECT_LT(answeredAfter, options.callTimeout / 2) << "the main thread was held by a D-Bus read";
}

// A system bus that starts after the agent: while its socket is missing a
// check looks only for the file, and the bus is found once the file is there.
TEST(SystemBusHolderTest, ABusWhoseSocketAppearsLaterIsFoundAtTheNextLook) {
    test::PrivateBus bus;
    if (!bus.available()) GTEST_SKIP() << "no private D-Bus: " << bus.whyUnavailable();
    test::TempDir dir;
    const std::string later = dir.file("later-bus");
    BusHolder holder("unix:path=" + later, std::chrono::seconds(2));
    DBusError error;
    for (int look = 0; look < 2; ++look) {
        EXPECT_EQ(holder.bus(error), nullptr);
        EXPECT_EQ(error.errnum, ENOENT);
    }
    const std::string socket = bus.address().substr(std::string("unix:path=").size());
    ASSERT_EQ(::symlink(socket.c_str(), later.c_str()), 0);
    EXPECT_NE(holder.bus(error), nullptr) << error.text();
}

}  // namespace
}  // namespace ww::linuxwifi
