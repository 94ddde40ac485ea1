// rfkill on a fake sysfs tree, with a plain file standing for /dev/rfkill,
// the kernel backend's power switching over it, and what its disconnect does
// when a wpa_supplicant's control socket refuses, hangs or is left behind
// (the supplicant's own answers are proven in the Wi-Fi lab).

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "platform/linux/wifi/Rfkill.h"
#include "platform/linux/wifi/Supplicant.h"
#include "platform/linux/wifi/WiFiBackend.h"
#include "tests/support/app_TestSupport.h"

namespace ww::linuxwifi {
namespace {

namespace fs = std::filesystem;

// root/class/net/DEV/phy80211 -> root/class/ieee80211/PHY, and the phy's
// rfkill switches.
class FakeRadio {
  public:
    FakeRadio() : root(dir.file("sys")), device(dir.file("rfkill")) { test::writeFile(device, ""); }

    void addPhy(const std::string& phy, bool nameFile = true) {
        fs::create_directories(root + "/class/ieee80211/" + phy);
        if (nameFile) test::writeFile(root + "/class/ieee80211/" + phy + "/name", phy + "\n");
    }
    void addSwitch(const std::string& phy, int index, const std::string& type, bool soft,
                   bool hard) {
        std::string d = root + "/class/ieee80211/" + phy + "/rfkill" + std::to_string(index);
        fs::create_directories(d);
        test::writeFile(d + "/index", std::to_string(index) + "\n");
        test::writeFile(d + "/type", type + "\n");
        test::writeFile(d + "/soft", std::string(soft ? "1" : "0") + "\n");
        test::writeFile(d + "/hard", std::string(hard ? "1" : "0") + "\n");
        test::writeFile(d + "/name", phy + "\n");
    }
    void addNetdev(const std::string& name, const std::optional<std::string>& phy,
                   const std::string& operstate = "up") {
        std::string d = root + "/class/net/" + name;
        fs::create_directories(d);
        test::writeFile(d + "/operstate", operstate + "\n");
        if (phy) fs::create_directory_symlink(root + "/class/ieee80211/" + *phy, d + "/phy80211");
    }
    std::string written() const { return test::readFile(device); }

    test::TempDir dir;
    std::string root;
    std::string device;
};

std::string event(std::uint32_t index, bool soft) {
    std::string e(8, '\0');
    e[0] = static_cast<char>(index & 0xff);
    e[1] = static_cast<char>((index >> 8) & 0xff);
    e[4] = 1;  // RFKILL_TYPE_WLAN
    e[5] = 2;  // RFKILL_OP_CHANGE
    e[6] = soft ? 1 : 0;
    return e;
}

TEST(RfkillTest, ThePhysOwnSwitch) {
    FakeRadio r;
    r.addPhy("phy0");
    r.addSwitch("phy0", 3, "wlan", false, false);
    r.addPhy("phy1", false);  // no name file: the link's target names it
    r.addSwitch("phy1", 7, "bluetooth", false, false);
    r.addSwitch("phy1", 9, "wlan", true, false);
    r.addSwitch("phy1", 8, "wlan", false, true);
    r.addNetdev("wlan0", "phy0");
    r.addNetdev("wlan1", "phy1");
    r.addNetdev("eth0", std::nullopt);
    Rfkill rfkill(r.root, r.device);

    using O = std::optional<std::string>;
    for (auto [device, phy] : {std::pair{"wlan0", O("phy0")},
                               {"wlan1", O("phy1")},
                               {"eth0", O()},
                               {"missing0", O()},
                               {"../wlan0", O()}}) {
        EXPECT_EQ(rfkill.phyOf(device), phy) << device;
    }

    auto described = [&](const char* device) {
        auto s = rfkill.switchOfDevice(device);
        if (!s) return std::string("none");
        return std::to_string(s->index) + " " + s->name + (s->soft ? " soft" : "") +
               (s->hard ? " hard" : "");
    };
    EXPECT_EQ(described("wlan0"), "3 rfkill3");
    // Bluetooth's switch is never the Wi-Fi's; of several, the lowest index.
    EXPECT_EQ(described("wlan1"), "8 rfkill8 hard");
    EXPECT_EQ(described("eth0"), "none");
    EXPECT_FALSE(rfkill.switchOf("phy9"));
}

// The real switch is proven in the lab; here what it cannot be made to do.
TEST(RfkillTest, AnIndexAboveAByteAndADeviceThatRefuses) {
    FakeRadio r;
    Rfkill rfkill(r.root, r.device);
    std::string error;
    ASSERT_TRUE(rfkill.setSoftBlock(258, false, error)) << error;
    EXPECT_EQ(r.written(), event(258, false)) << "one write of 8 bytes";

    Rfkill missing(r.root, r.dir.file("no/such/rfkill"));
    EXPECT_FALSE(missing.setSoftBlock(3, true, error));
    EXPECT_NE(error.find("no/such/rfkill"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    // /dev/full refuses every write.
    Rfkill full(r.root, "/dev/full");
    EXPECT_FALSE(full.setSoftBlock(3, true, error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
}

// The kernel backend's default device: a wireless one (phy80211 or
// wireless/), the active one first, else the first by name.
TEST(KernelBackendTest, TheDefaultDevice) {
    FakeRadio r;
    LinuxWiFiOptions o;
    o.sysfsRoot = r.root;
    auto backend = makeKernelBackend(o);
    auto found = backend->lookUp();
    EXPECT_FALSE(found.available);
    EXPECT_EQ(found.why, "no wireless network device in " + r.root + "/class/net");
    r.addPhy("phy0");
    r.addNetdev("eth0", std::nullopt);
    r.addNetdev("wlp3s0", "phy0", "down");
    r.addNetdev("wlan1", std::nullopt, "dormant");
    fs::create_directory(r.root + "/class/net/wlan1/wireless");
    found = backend->lookUp();
    ASSERT_TRUE(found.available);
    EXPECT_EQ(found.device->name(), "wlan1") << "none active: the first by name";
    r.addNetdev("wlx00c0ca", "phy0");
    found = backend->lookUp();
    ASSERT_TRUE(found.available);
    EXPECT_EQ(found.device->name(), "wlx00c0ca") << "the one with an active connection";
}

class KernelPowerTest : public ::testing::Test {
  protected:
    WiFiDevicePtr device() {
        LinuxWiFiOptions o;
        o.sysfsRoot = r.root;
        o.rfkillDevice = r.device;
        o.wpaSupplicantDir = r.dir.file("wpa");
        o.callTimeout = std::chrono::milliseconds(300);
        o.systemBusAddress = "unix:path=" + r.dir.file("no-bus");
        auto found = makeKernelBackend(o)->lookUp();
        EXPECT_TRUE(found.available) << found.why;
        return found.device;
    }
    FakeRadio r;
};

TEST_F(KernelPowerTest, AHardBlockIsThePowerChangesError) {
    r.addPhy("phy0");
    r.addSwitch("phy0", 4, "wlan", false, true);
    r.addNetdev("wlan0", "phy0");
    auto d = device();
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->read(kLinkPower).power);
    std::string error;
    EXPECT_FALSE(d->setPower(true, error));
    EXPECT_EQ(error, "Wi-Fi is switched off by a hardware switch");
    EXPECT_EQ(r.written(), "") << "nothing written for a switch that cannot move";
    // Switching off under a hard block sets the soft block too.
    EXPECT_TRUE(d->setPower(false, error));
    EXPECT_EQ(r.written(), event(4, true));
}

TEST_F(KernelPowerTest, WithoutASwitchOfItsOwn) {
    r.addPhy("phy0");
    r.addNetdev("wlan0", "phy0");
    auto d = device();
    ASSERT_TRUE(d);
    EXPECT_FALSE(d->read(kLinkPower).power);
    std::string error;
    EXPECT_FALSE(d->setPower(true, error));
    EXPECT_EQ(error, "wlan0 has no rfkill switch of its own to switch Wi-Fi with");
    EXPECT_EQ(r.written(), "");
}

// A datagram socket at DIR/IFACE that answers each command from a table
// (no entry: no answer), as a supplicant's control socket would.
class ControlPeer {
  public:
    ControlPeer(const std::string& path, std::map<std::string, std::string> answers)
        : m_answers(std::move(answers)) {
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, path.data(), path.size());
        bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        if (bound) m_thread = std::thread([this] { serve(); });
    }
    ~ControlPeer() {
        ::shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable()) m_thread.join();
        ::close(m_fd);
    }
    std::vector<std::string> heard() {
        std::lock_guard lock(m_mutex);
        return m_heard;
    }
    bool bound = false;

  private:
    void serve() {
        char buffer[256];
        sockaddr_un from{};
        socklen_t length = sizeof from;
        ssize_t n;
        while ((n = ::recvfrom(m_fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from),
                               &length)) > 0) {
            std::string command(buffer, static_cast<size_t>(n));
            {
                std::lock_guard lock(m_mutex);
                m_heard.push_back(command);
            }
            auto it = m_answers.find(command);
            if (it != m_answers.end()) {
                ::sendto(m_fd, it->second.data(), it->second.size(), 0,
                         reinterpret_cast<sockaddr*>(&from), length);
            }
            length = sizeof from;
        }
    }
    std::map<std::string, std::string> m_answers;
    int m_fd = -1;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::string> m_heard;
};

TEST_F(KernelPowerTest, ASupplicantThatRefusesHangsOrIsGone) {
    r.addPhy("phy0");
    r.addSwitch("phy0", 2, "wlan", false, false);
    r.addNetdev("wlan0", "phy0");
    fs::create_directories(r.dir.file("wpa"));
    const std::string socketPath = r.dir.file("wpa/wlan0");
    const std::string status = "bssid=02:00:00:00:00:00\nwpa_state=COMPLETED\nssid=lab\n";
    struct Row {
        std::map<std::string, std::string> answers;
        std::vector<std::string> heard;
        std::string error;
    };
    const std::vector<Row> rows = {
        // Refused: the supplicant's word, and nothing remembered to undo.
        {{{"STATUS", status}, {"DISCONNECT", "FAIL\n"}},
         {"STATUS", "DISCONNECT"},
         "wpa_supplicant answered DISCONNECT with FAIL"},
        // Hung: one limit, then why.
        {{},
         {"STATUS"},
         "wpa_supplicant does not answer at " + socketPath + ": no answer within 300 ms"},
        // Already off a network (the user's own disconnect): left alone.
        {{{"STATUS", "wpa_state=DISCONNECTED\n"}}, {"STATUS"}, ""},
    };
    for (const Row& row : rows) {
        ControlPeer peer(socketPath, row.answers);
        ASSERT_TRUE(peer.bound) << socketPath;
        auto d = device();
        ASSERT_TRUE(d);
        std::string error;
        EXPECT_EQ(d->disassociate(error), row.error.empty()) << row.error;
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(peer.heard(), row.heard) << row.error;
        // Power on does not tell a supplicant to rejoin what the agent never left.
        ASSERT_TRUE(d->setPower(true, error)) << error;
        EXPECT_EQ(peer.heard(), row.heard) << row.error;
        ::unlink(socketPath.c_str());
    }
    // A socket file left behind by a supplicant that is gone: nobody owns the
    // link, so the kernel is asked (and this machine has no such device).
    { ControlPeer gone(socketPath, {}); }
    ASSERT_TRUE(fs::exists(socketPath));
    std::string error;
    EXPECT_FALSE(device()->disassociate(error));
    EXPECT_EQ(error, "no network device wlan0");
}

TEST(SupplicantTest, StatusAndStates) {
    const std::string status =
        "bssid=02:00:00:00:01:00\nfreq=2437\nssid=wpa_state=x\n"
        "wpa_state=4WAY_HANDSHAKE\nip_address=10.0.0.2";
    EXPECT_EQ(statusValue(status, "wpa_state"), std::optional<std::string>("4WAY_HANDSHAKE"));
    EXPECT_EQ(statusValue(status, "ip_address"), std::optional<std::string>("10.0.0.2"));
    EXPECT_EQ(statusValue(status, "wpa"), std::nullopt) << "a prefix of a key is not the key";
    EXPECT_EQ(statusValue("", "wpa_state"), std::nullopt);
    for (const char* seeking : {"completed", "SCANNING", "4way_handshake", "INTERFACE_DISABLED"}) {
        EXPECT_TRUE(supplicantSeeksNetwork(seeking)) << seeking;
    }
    for (const char* off : {"DISCONNECTED", "inactive", ""}) {
        EXPECT_FALSE(supplicantSeeksNetwork(off)) << off;
    }
}

}  // namespace
}  // namespace ww::linuxwifi
