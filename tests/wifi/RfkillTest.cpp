// rfkill on a fake sysfs tree, with a plain file standing for /dev/rfkill,
// and the kernel backend's power switching over it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/linux/wifi/Rfkill.h"
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

    EXPECT_EQ(rfkill.phyOf("wlan0"), std::optional<std::string>("phy0"));
    EXPECT_EQ(rfkill.phyOf("wlan1"), std::optional<std::string>("phy1"));
    EXPECT_EQ(rfkill.phyOf("eth0"), std::nullopt);
    EXPECT_EQ(rfkill.phyOf("missing0"), std::nullopt);
    EXPECT_EQ(rfkill.phyOf("../wlan0"), std::nullopt);

    auto s = rfkill.switchOfDevice("wlan0");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->index, 3u);
    EXPECT_EQ(s->name, "rfkill3");
    EXPECT_FALSE(s->soft);
    EXPECT_FALSE(s->hard);
    // Bluetooth's switch is never the Wi-Fi's; of several, the lowest index.
    s = rfkill.switchOfDevice("wlan1");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->index, 8u);
    EXPECT_TRUE(s->hard);
    EXPECT_FALSE(rfkill.switchOf("phy9"));
    EXPECT_FALSE(rfkill.switchOfDevice("eth0"));
}

TEST(RfkillTest, OneChangeEventForThatSwitch) {
    EXPECT_EQ(Rfkill::changeEvent(3, true), event(3, true));
    EXPECT_EQ(Rfkill::changeEvent(258, false), event(258, false));
    FakeRadio r;
    Rfkill rfkill(r.root, r.device);
    std::string error;
    ASSERT_TRUE(rfkill.setSoftBlock(3, true, error)) << error;
    EXPECT_EQ(r.written(), event(3, true));
    ASSERT_TRUE(rfkill.setSoftBlock(3, false, error)) << error;
    EXPECT_EQ(r.written(), event(3, false)) << "each change is one write of 8 bytes";

    Rfkill missing(r.root, r.dir.file("no/such/rfkill"));
    EXPECT_FALSE(missing.setSoftBlock(3, true, error));
    EXPECT_NE(error.find("no/such/rfkill"), std::string::npos) << error;
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    // /dev/full refuses every write.
    Rfkill full(r.root, "/dev/full");
    EXPECT_FALSE(full.setSoftBlock(3, true, error));
    EXPECT_NE(error.find("No space left"), std::string::npos) << error;
}

class KernelPowerTest : public ::testing::Test {
  protected:
    WiFiDevicePtr device() {
        LinuxWiFiOptions o;
        o.sysfsRoot = r.root;
        o.rfkillDevice = r.device;
        auto found = makeKernelBackend(o)->lookUp();
        EXPECT_TRUE(found.available) << found.why;
        return found.device;
    }
    FakeRadio r;
};

TEST_F(KernelPowerTest, SwitchesTheSoftBlock) {
    r.addPhy("phy0");
    r.addSwitch("phy0", 2, "wlan", false, false);
    r.addNetdev("wlan0", "phy0");
    auto d = device();
    ASSERT_TRUE(d);
    EXPECT_EQ(d->name(), "wlan0");
    EXPECT_TRUE(d->read(kLinkPower).power);
    std::string error;
    ASSERT_TRUE(d->setPower(false, error)) << error;
    EXPECT_EQ(r.written(), event(2, true));
    ASSERT_TRUE(d->setPower(true, error)) << error;
    EXPECT_EQ(r.written(), event(2, false));
    // The kernel would now report the block; the fake tree stands in.
    r.addSwitch("phy0", 2, "wlan", true, false);
    EXPECT_FALSE(d->read(kLinkPower).power);
}

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

}  // namespace
}  // namespace ww::linuxwifi
