#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/linux/usb/SysfsUsbRegistry.h"
#include "tests/support/usb_FakeSysfs.h"
#include "tests/support/usb_TestDoubles.h"
#include "usb/UsbWatcher.h"

namespace ww {
namespace {

// Records the USB notifications posted during a test, with the posting thread.
class UsbWatcherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_token = NotificationCenter::defaultCenter().addObserver(
            kDetectedConnectedUSBHotspotNotification, nullptr, [this](const Notification& n) {
                posts.push_back(Post{n.userInfo, n.object, std::this_thread::get_id()});
            });
    }
    void TearDown() override { NotificationCenter::defaultCenter().removeObserver(m_token); }

    static plist::Value allDevices(std::vector<plist::Value> records) {
        plist::Value info = plist::Value::dictionary();
        info.set("AllDevices", plist::Value::array(std::move(records)));
        return info;
    }

    struct Post {
        plist::Value userInfo;
        const void* object;
        std::thread::id thread;
    };
    std::vector<Post> posts;  // filled on the posting thread, which is the test's own
    test::FakeSysfs tree;
    sysfs::SysfsUsbRegistry registry{tree.root()};
    test::RecordingUsbConsole console;

  private:
    NotificationCenter::Token m_token = 0;
};

TEST_F(UsbWatcherTest, AnnouncesTetheringPhoneKeyboardAndStick) {
    test::addUsbMachine(tree);
    WWUtils::detectConnectedUSBHotspot(registry, console);

    // Posted once, synchronously, on this thread, with no sender.
    ASSERT_EQ(posts.size(), 1u);
    EXPECT_EQ(posts[0].thread, std::this_thread::get_id());
    EXPECT_EQ(posts[0].object, nullptr);
    EXPECT_EQ(posts[0].userInfo,
              allDevices({usbDeviceRecord("iPhone", {0x05ac, 0x12a8}, "eth1"),
                          usbDeviceRecord("Cruzer Blade", {0x0781, 0x5567}, "sdb")}));

    EXPECT_EQ(console.systemLogText(), "usbDeviceEvent\n");
    const std::string err = console.standardErrorText();
    // Three lines for each of the six devices, the hubs and controllers too.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 18) << err;
    EXPECT_NE(err.find("deviceName: iPhone\nbsdName: eth1\nadded: vid = 0x05ac pid = 0x12a8\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(console.standardOutputText(), "");
}

// Each start announces the devices of that moment; none is still announced.
TEST_F(UsbWatcherTest, EachStartAnnouncesTheDevicesOfThatMoment) {
    WWUtils::detectConnectedUSBHotspot(registry, console);
    EXPECT_EQ(console.standardErrorText(), "");
    tree.addRootHub(1);
    const std::string phone = tree.addDevice("usb1", 1, test::iPhoneSpec());
    tree.addNetworkInterface(phone, 2, "eth1");
    WWUtils::detectConnectedUSBHotspot(registry, console);

    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].userInfo, allDevices({}));
    EXPECT_EQ(posts[1].userInfo, allDevices({usbDeviceRecord("iPhone", {0x05ac, 0x12a8}, "eth1")}));
    EXPECT_EQ(console.systemLogText(), "usbDeviceEvent\nusbDeviceEvent\n");
}

TEST_F(UsbWatcherTest, DeviceWithUnreadableNumbersGetsNameLinesOnly) {
    tree.addRootHub(1);
    const std::string phone = tree.addDevice("usb1", 1, test::iPhoneSpec());
    tree.addNetworkInterface(phone, 2, "eth1");
    tree.writeFile(tree.deviceDirectory(phone) + "/idVendor", "apple\n");
    std::filesystem::remove(tree.path(tree.deviceDirectory(phone) + "/product"));

    usbDeviceEvent("matched", registry, console);
    usbDeviceEvent(nullptr, registry, console);

    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[0].userInfo, allDevices({}));
    // The reference text is printed as given; only the root hub has numbers.
    const std::string err = console.standardErrorText();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 10) << err;
    EXPECT_NE(err.find("deviceName: \nbsdName: eth1\ndeviceName: "), std::string::npos) << err;
    EXPECT_NE(err.find("(null): vid = 0x1d6b pid = 0x0002\n"), std::string::npos) << err;
}

TEST(UsbWatcher, RegistryNameText) {
    const struct {
        std::string raw, text;
    } cases[] = {
        {"iPhone", "iPhone"},
        {"", ""},
        {"P\xc3\xa9riph\xc3\xa9rique", "P\xc3\xa9riph\xc3\xa9rique"},  // UTF-8 kept
        {"bad\xff\xfe", "bad??"},
        {"cut\xc3", "cut?"},      // a truncated sequence
        {"\xe0\x80\xaf", "???"},  // an overlong form
        {"\xed\xa0\x80", "???"},  // a surrogate
        {"line\nbreak\x1b[31m", "line?break?[31m"},
        {std::string("nul\0after", 9), "nul"},
        {std::string(200, 'a'), std::string(127, 'a')},
        // Never half a character at the 127-byte cut.
        {std::string(126, 'a') + "\xc3\xa9", std::string(126, 'a')},
    };
    for (const auto& c : cases) EXPECT_EQ(usbRegistryNameText(c.raw), c.text) << c.raw;
}

}  // namespace
}  // namespace ww
