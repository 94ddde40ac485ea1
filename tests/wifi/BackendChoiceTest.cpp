// `--wifi auto` and the named backends over fake backends: the order of the
// choice, falling back and choosing again when the chosen one goes, the log
// lines; and the program over a bus socket that never answers.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

#include "app/WiFiBackends.h"
#include "platform/linux/wifi/WiFiBackend.h"
#include "tests/support/app_TestSupport.h"

namespace ww::linuxwifi {
namespace {

// A device the choice hands out.
class FakeDevice : public WiFiDevice {
  public:
    explicit FakeDevice(std::string name) : m_name(std::move(name)) {}
    const std::string& name() const override { return m_name; }
    WiFiLink read(unsigned) override { return {}; }
    bool setPower(bool, std::string&) override { return true; }
    bool disassociate(std::string&) override { return true; }

  private:
    std::string m_name;
};

// A backend whose presence and device the test sets.
struct FakeState {
    bool available = false;
    std::shared_ptr<FakeDevice> device;
    std::string why = "not there";
    int lookups = 0;

    void present(const char* deviceName) {
        available = true;
        device = std::make_shared<FakeDevice>(deviceName);
    }
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
    for (auto* s : {nm.get(), iwd.get(), kernel.get()}) EXPECT_EQ(s->lookups, 2) << "once a check";
    EXPECT_EQ(backendLines(),
              std::vector<std::string>{
                  "Wi-Fi backend: none (nm: org.freedesktop.NetworkManager is not on the system "
                  "bus; iwd: net.connman.iwd is not on the system bus; kernel: no wireless "
                  "network device in /sys/class/net)"})
        << "logged once, not at every check";

    // A wireless device appears: the kernel is used.
    kernel->present("wlan0");
    ASSERT_TRUE(client->interface());
    EXPECT_EQ(client->backendName(), "kernel");
    EXPECT_EQ(backendLines().back(), "Wi-Fi backend: kernel (kernel), device wlan0");
    // NetworkManager starts: it comes first (it would undo the kernel
    // backend's disconnects).
    nm->present("wlan0");
    client->interface();
    EXPECT_EQ(client->backendName(), "nm");
    EXPECT_EQ(backendLines().back(), "Wi-Fi backend: nm (nm), device wlan0");
}

TEST_F(BackendChoiceTest, ChoosesAgainWhenTheChosenOneGoes) {
    nm->present("wlan0");
    iwd->present("wlan0");
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
    nm->present("wlan0");
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

TEST_F(BackendChoiceTest, IwdWithoutADeviceIsStillTheChoice) {
    iwd->available = true;
    iwd->why = "iwd has no Wi-Fi device";
    kernel->present("wlan0");
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
    nm->present("wlp2s0");
    EXPECT_TRUE(client.interface());
    EXPECT_EQ(client.backendName(), "nm");
    EXPECT_EQ(backendLines(),
              (std::vector<std::string>{"Wi-Fi backend: nm (nm) has no Wi-Fi device now: "
                                        "org.freedesktop.NetworkManager is not on the system bus",
                                        "Wi-Fi backend: nm (nm), device wlp2s0"}));
}

TEST(BackendNamesTest, EveryNameTheOptionTakesMakesAClient) {
    for (const char* name : {"auto", "linux", "nm", "iwd", "kernel"}) {
        std::string error;
        EXPECT_TRUE(isLinuxWiFiBackend(name) && makeWiFiClient(name, &error)) << name << error;
    }
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
