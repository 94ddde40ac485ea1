// `--wifi auto` and the named backends over fake backends: the order of the
// choice, falling back and choosing again when the chosen one goes, the log
// lines, the agent's view of a device, and the dry run over it; and the real
// backends and program over a bus socket that never answers.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/WiFiBackends.h"
#include "platform/linux/wifi/WiFiBackend.h"
#include "tests/support/app_TestSupport.h"

namespace ww::linuxwifi {
namespace {

// A device that records what was asked of it.
class FakeDevice : public WiFiDevice {
  public:
    explicit FakeDevice(std::string name) : m_name(std::move(name)) {}
    const std::string& name() const override { return m_name; }
    WiFiLink read(unsigned fields) override {
        reads.push_back(fields);
        return link;
    }
    bool setPower(bool on, std::string& error) override {
        operations.push_back(on ? "setPower:1" : "setPower:0");
        if (refusal) error = *refusal;
        return !refusal;
    }
    bool disassociate(std::string& error) override {
        operations.push_back("disassociate");
        if (refusal) error = *refusal;
        return !refusal;
    }
    WiFiLink link;
    std::vector<unsigned> reads;
    std::vector<std::string> operations;
    std::optional<std::string> refusal;

  private:
    std::string m_name;
};

// A backend whose presence and device the test sets.
struct FakeState {
    bool available = false;
    std::shared_ptr<FakeDevice> device;
    std::string why = "not there";
    int lookups = 0;
};

class FakeBackend : public WiFiBackend {
  public:
    FakeBackend(const char* name, std::shared_ptr<FakeState> state)
        : m_name(name), m_state(std::move(state)) {}
    const char* name() const override { return m_name; }
    const char* title() const override { return m_name; }
    BackendLookup lookUp() override {
        ++m_state->lookups;
        return {m_state->available, m_state->available ? m_state->device : nullptr, m_state->why};
    }

  private:
    const char* m_name;
    std::shared_ptr<FakeState> m_state;
};

class BackendChoiceTest : public ::testing::Test {
  protected:
    std::unique_ptr<AutoWiFiClient> autoClient() {
        std::vector<std::unique_ptr<WiFiBackend>> c;
        c.push_back(std::make_unique<FakeBackend>("nm", nm));
        c.push_back(std::make_unique<FakeBackend>("iwd", iwd));
        c.push_back(std::make_unique<FakeBackend>("kernel", kernel));
        return std::make_unique<AutoWiFiClient>(std::move(c));
    }
    std::vector<std::string> backendLines() {
        std::vector<std::string> out;
        for (const auto& t : capture.logger->texts()) {
            if (t.rfind("Wi-Fi backend: ", 0) == 0) out.push_back(t);
        }
        return out;
    }

    test::ScopedCapture capture;
    std::shared_ptr<FakeState> nm = std::make_shared<FakeState>();
    std::shared_ptr<FakeState> iwd = std::make_shared<FakeState>();
    std::shared_ptr<FakeState> kernel = std::make_shared<FakeState>();
};

TEST_F(BackendChoiceTest, TheFirstAvailableInOrderAndNoneAfterThem) {
    nm->why = "org.freedesktop.NetworkManager is not on the system bus";
    iwd->why = "net.connman.iwd is not on the system bus";
    kernel->why = "no wireless network device in /sys/class/net";
    auto client = autoClient();
    EXPECT_EQ(client->interface(), nullptr);
    EXPECT_EQ(client->backendName(), "none");
    EXPECT_EQ(client->interface(), nullptr);
    EXPECT_EQ(backendLines(),
              std::vector<std::string>{
                  "Wi-Fi backend: none (nm: org.freedesktop.NetworkManager is not on the system "
                  "bus; iwd: net.connman.iwd is not on the system bus; kernel: no wireless "
                  "network device in /sys/class/net)"})
        << "logged once, not at every check";

    // A wireless device appears: the kernel is used.
    kernel->available = true;
    kernel->device = std::make_shared<FakeDevice>("wlan0");
    auto iface = client->interface();
    ASSERT_TRUE(iface);
    EXPECT_EQ(client->backendName(), "kernel");
    EXPECT_EQ(backendLines().back(), "Wi-Fi backend: kernel (kernel), device wlan0");
    // NetworkManager starts: it comes first (it would undo the kernel
    // backend's disconnects).
    nm->available = true;
    nm->device = std::make_shared<FakeDevice>("wlan0");
    client->interface();
    EXPECT_EQ(client->backendName(), "nm");
    EXPECT_EQ(backendLines().back(), "Wi-Fi backend: nm (nm), device wlan0");
}

TEST_F(BackendChoiceTest, ChoosesAgainWhenTheChosenOneGoes) {
    nm->available = true;
    nm->device = std::make_shared<FakeDevice>("wlan0");
    iwd->available = true;
    iwd->device = std::make_shared<FakeDevice>("wlan0");
    auto client = autoClient();
    ASSERT_TRUE(client->interface());
    EXPECT_EQ(client->backendName(), "nm");
    EXPECT_EQ(iwd->lookups, 0) << "nm was there: iwd was not asked";
    // Several checks: one line only.
    client->interface();
    client->interface();
    EXPECT_EQ(backendLines().size(), 1u);

    // NetworkManager goes away mid-run: the next check falls back to iwd.
    nm->available = false;
    nm->device.reset();
    nm->why = "org.freedesktop.NetworkManager is not on the system bus";
    ASSERT_TRUE(client->interface());
    EXPECT_EQ(client->backendName(), "iwd");
    // The device changes under iwd.
    iwd->device = std::make_shared<FakeDevice>("wlan1");
    client->interface();
    // NetworkManager comes back: it is first again.
    nm->available = true;
    nm->device = std::make_shared<FakeDevice>("wlan0");
    int nmLookups = nm->lookups, iwdLookups = iwd->lookups;
    client->interface();
    EXPECT_EQ(client->backendName(), "nm");
    EXPECT_EQ(nm->lookups, nmLookups + 1);
    EXPECT_EQ(iwd->lookups, iwdLookups) << "each backend is looked at once per check at most";
    EXPECT_EQ(backendLines(),
              (std::vector<std::string>{
                  "Wi-Fi backend: nm (nm), device wlan0",
                  "Wi-Fi backend: nm (nm) is gone (org.freedesktop.NetworkManager is not on the "
                  "system bus); choosing again",
                  "Wi-Fi backend: iwd (iwd), device wlan0",
                  "Wi-Fi backend: iwd (iwd) now uses device wlan1",
                  "Wi-Fi backend: nm (nm), device wlan0"}));
}

TEST_F(BackendChoiceTest, EachBackendIsLookedAtOncePerCheck) {
    auto client = autoClient();
    client->interface();
    EXPECT_EQ(nm->lookups, 1);
    EXPECT_EQ(iwd->lookups, 1);
    EXPECT_EQ(kernel->lookups, 1);
    nm->available = true;
    nm->device = std::make_shared<FakeDevice>("wlan0");
    client->interface();
    nm->available = false;  // gone (a hung daemon: one call limit)
    client->interface();
    EXPECT_EQ(nm->lookups, 3);
    EXPECT_EQ(iwd->lookups, 2);
    EXPECT_EQ(kernel->lookups, 2);
}

TEST_F(BackendChoiceTest, IwdWithoutADeviceIsStillTheChoice) {
    iwd->available = true;
    iwd->why = "iwd has no Wi-Fi device";
    kernel->available = true;
    kernel->device = std::make_shared<FakeDevice>("wlan0");
    auto client = autoClient();
    EXPECT_EQ(client->interface(), nullptr);
    EXPECT_EQ(client->backendName(), "iwd");
    EXPECT_EQ(backendLines(),
              std::vector<std::string>{"Wi-Fi backend: iwd (iwd), no Wi-Fi device yet (iwd has no "
                                       "Wi-Fi device)"});
}

TEST_F(BackendChoiceTest, ANamedBackendIsNeverReplaced) {
    NamedWiFiClient client(std::make_unique<FakeBackend>("nm", nm));
    nm->why = "org.freedesktop.NetworkManager is not on the system bus";
    EXPECT_EQ(client.interface(), nullptr);
    EXPECT_EQ(client.interface(), nullptr);
    nm->available = true;
    nm->device = std::make_shared<FakeDevice>("wlp2s0");
    EXPECT_TRUE(client.interface());
    EXPECT_EQ(client.backendName(), "nm");
    EXPECT_EQ(backendLines(),
              (std::vector<std::string>{"Wi-Fi backend: nm (nm) has no Wi-Fi device now: "
                                        "org.freedesktop.NetworkManager is not on the system bus",
                                        "Wi-Fi backend: nm (nm), device wlp2s0"}));
}

TEST_F(BackendChoiceTest, TheAgentsViewOfADevice) {
    auto device = std::make_shared<FakeDevice>("wlan0");
    device->link.power = true;
    device->link.interfaceMode = 1;
    device->link.security = 11;
    device->link.phyMode = 6;
    device->link.ssid = "Lab";
    device->link.bssid = "4c:43:41:04:1c:bc";
    device->link.channel = WiFiChannel{1, 3, 5};
    device->link.rssi = -50;
    device->link.noise = -93;
    device->link.transmitRate = 2401.9;
    LinkInterface iface(device);
    EXPECT_TRUE(iface.powerOn());
    EXPECT_EQ(iface.interfaceMode(), 1);
    EXPECT_EQ(iface.security(), 11);
    EXPECT_EQ(iface.activePHYMode(), 6);
    EXPECT_EQ(iface.ssid(), std::optional<std::string>("Lab"));
    EXPECT_EQ(iface.bssid(), std::optional<std::string>("4c:43:41:04:1c:bc"));
    EXPECT_EQ(iface.wlanChannel()->channelWidth, 5);
    EXPECT_EQ(iface.rssiValue(), -50);
    EXPECT_EQ(iface.noiseMeasurement(), -93);
    EXPECT_DOUBLE_EQ(iface.transmitRate(), 2401.9);
    // Every value is read afresh, asking only for itself.
    EXPECT_EQ(device->reads,
              (std::vector<unsigned>{kLinkPower, kLinkMode, kLinkSecurity, kLinkPhyMode, kLinkSsid,
                                     kLinkBssid, kLinkChannel, kLinkRssi, kLinkNoise,
                                     kLinkTransmitRate}));

    std::optional<std::string> error;
    EXPECT_TRUE(iface.setPower(false, &error));
    EXPECT_FALSE(error);
    device->refusal = "NetworkManager refused to switch Wi-Fi off: denied";
    EXPECT_FALSE(iface.setPower(false, &error));
    EXPECT_EQ(error, device->refusal);
    EXPECT_FALSE(iface.disassociate(&error));
    EXPECT_EQ(error, device->refusal);
    auto texts = capture.logger->texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        "Wi-Fi: cannot disconnect: NetworkManager refused to switch Wi-Fi off: "
                        "denied"),
              texts.end());
}

TEST_F(BackendChoiceTest, TheDryRunWrapsEveryBackend) {
    auto device = std::make_shared<FakeDevice>("wlan0");
    device->link.power = true;
    device->link.ssid = "Lab";
    nm->available = true;
    nm->device = device;
    std::vector<std::unique_ptr<WiFiBackend>> c;
    c.push_back(std::make_unique<FakeBackend>("nm", nm));
    auto dry = makeDryRunWiFiClient(std::make_unique<AutoWiFiClient>(std::move(c)));
    auto iface = dry->interface();
    ASSERT_TRUE(iface);
    std::optional<std::string> error;
    EXPECT_TRUE(iface->setPower(false, &error));
    EXPECT_TRUE(iface->disassociate(&error));
    EXPECT_TRUE(device->operations.empty()) << "a dry run changes nothing";
    EXPECT_EQ(iface->ssid(), std::optional<std::string>("Lab")) << "reads pass through";
}

TEST(BackendNamesTest, TheAgentsBackendNames) {
    for (const char* name : {"auto", "linux", "nm", "iwd", "kernel"}) {
        EXPECT_TRUE(isLinuxWiFiBackend(name)) << name;
        std::string error;
        auto client = makeWiFiClient(name, &error);
        EXPECT_TRUE(client) << name << ": " << error;
    }
    EXPECT_STREQ(kDefaultWiFiBackend, "auto");
    std::string error;
    EXPECT_FALSE(makeWiFiClient("networkmanager", &error));
    EXPECT_EQ(error,
              "unknown Wi-Fi backend 'networkmanager' (expected auto, nm, iwd, kernel, none, "
              "sim:FILE or linux)");
    EXPECT_FALSE(makeLinuxWiFiClient("sim", LinuxWiFiOptions{}, error));
}

// The kernel backend's default device on a fake sysfs tree.
TEST(KernelBackendTest, TheDefaultDevice) {
    test::TempDir dir;
    std::string net = dir.file("sys/class/net");
    auto add = [&](const std::string& name, const char* marker, const char* state) {
        std::filesystem::create_directories(net + "/" + name);
        if (marker) std::filesystem::create_directories(net + "/" + name + "/" + marker);
        test::writeFile(net + "/" + name + "/operstate", std::string(state) + "\n");
    };
    LinuxWiFiOptions o;
    o.sysfsRoot = dir.file("sys");
    auto backend = makeKernelBackend(o);
    auto found = backend->lookUp();
    EXPECT_FALSE(found.available);
    EXPECT_EQ(found.why, "no wireless network device in " + net);

    add("eth0", nullptr, "up");
    add("wlp3s0", "phy80211", "down");
    add("wlan1", "wireless", "dormant");
    found = backend->lookUp();
    ASSERT_TRUE(found.available);
    EXPECT_EQ(found.device->name(), "wlan1") << "none active: the first by name";
    add("wlx00c0ca", "phy80211", "up");
    found = backend->lookUp();
    EXPECT_EQ(found.device->name(), "wlx00c0ca") << "the one with an active connection";
}

// A bus socket whose connections the kernel accepts and nobody answers: a
// system bus (or dbus-daemon) that hangs, as a client sees it.
class SilentBus {
  public:
    explicit SilentBus(std::string path) : m_path(std::move(path)) {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, m_path.c_str(),
                    std::min(m_path.size() + 1, sizeof addr.sun_path));
        m_ok = m_fd >= 0 && m_path.size() < sizeof addr.sun_path &&
               ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
               ::listen(m_fd, 64) == 0;
    }
    ~SilentBus() {
        for (int c : m_held) ::close(c);
        if (m_fd >= 0) ::close(m_fd);
    }
    bool ok() const { return m_ok; }
    std::string address() const { return "unix:path=" + m_path; }
    // The connections made so far (each waited in the queue, unanswered).
    int connections() {
        for (int c; (c = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            m_held.push_back(c);
        }
        return static_cast<int>(m_held.size());
    }

  private:
    std::string m_path;
    int m_fd = -1;
    bool m_ok = false;
    std::vector<int> m_held;
};

using Clock = std::chrono::steady_clock;

// NetworkManager and iwd are looked for one after the other on the same bus:
// a bus that never answers costs one call limit, once, and `auto` finds none.
TEST(SilentBusTest, AutoWaitsForASilentBusOnceWithinTheLimit) {
    test::TempDir dir;
    test::ScopedCapture capture;
    SilentBus silent(dir.file("bus"));
    ASSERT_TRUE(silent.ok());
    LinuxWiFiOptions options;
    options.systemBusAddress = silent.address();
    options.sysfsRoot = dir.file("empty-sys");
    options.callTimeout = std::chrono::milliseconds(500);
    std::string error;
    auto client = makeLinuxWiFiClient("auto", options, error);
    ASSERT_TRUE(client) << error;

    auto start = Clock::now();
    EXPECT_FALSE(client->interface());
    auto took = Clock::now() - start;
    EXPECT_GE(took, options.callTimeout);
    EXPECT_LT(took, std::chrono::seconds(5)) << "sd-bus's own limit is 90 s";
    EXPECT_EQ(silent.connections(), 1) << "NetworkManager and iwd wait for the bus once";
    EXPECT_EQ(client->backendName(), "none");
    const std::string none =
        "Wi-Fi backend: none (nm: no system bus (Connection timed out); iwd: no system bus "
        "(Connection timed out); kernel: no wireless network device in " +
        options.sysfsRoot + "/class/net)";
    auto texts = capture.logger->texts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), none), texts.end());
}

// The program, in a network namespace of its own (nothing connected, so the
// menu shows the Wi-Fi details and its `airport -I` runs), against a system
// bus that never answers: one wait of the shipped limit in all, where each
// look used to wait sd-bus's 90 s.
TEST(SilentBusTest, OneCheckOfTheProgramWaitsForASilentBusOnce) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root for a network namespace of its own";
    test::TempDir dir;
    SilentBus silent(dir.file("bus"));
    ASSERT_TRUE(silent.ok());
    const std::string cmd =
        "unshare -n env -u WIREWATCH_TOOLS_DIR -u WIREWATCH_WIFI HOME='" + dir.path() +
        "' WIREWATCH_REACHABILITY_HOST= DBUS_SYSTEM_BUS_ADDRESS='" + silent.address() +
        "' WIREWATCH_WIFI_SYSFS_ROOT='" + dir.file("empty-sys") + "' '" + test::buildDir() +
        "/bin/wirewatch' --once --json --dry-run --prefs '" + dir.file("prefs.plist") +
        "' --logs-dir '" + dir.file("logs") + "' >'" + dir.file("out") + "' 2>'" + dir.file("err") +
        "'";
    auto start = Clock::now();
    ASSERT_EQ(std::system(cmd.c_str()), 0) << test::readFile(dir.file("err"));
    auto took = Clock::now() - start;
    EXPECT_GE(took, LinuxWiFiOptions{}.callTimeout);
    EXPECT_LT(took, std::chrono::seconds(5)) << test::readFile(dir.file("err"));
    EXPECT_EQ(silent.connections(), 1)
        << "the check's look and the menu's airport -I share one wait";
    auto j = nlohmann::json::parse(test::readFile(dir.file("out")), nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << test::readFile(dir.file("out"));
    EXPECT_EQ(j["backend"], "none");
    EXPECT_EQ(j["shown"], "wifi");
}

}  // namespace
}  // namespace ww::linuxwifi
