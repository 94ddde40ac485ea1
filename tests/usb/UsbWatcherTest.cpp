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

using test::FakeSysfs;
using test::RecordingUsbConsole;

// Records the USB notifications posted while it lives, with the posting thread.
class NotificationRecorder {
  public:
    NotificationRecorder() {
        m_token = NotificationCenter::defaultCenter().addObserver(
            kDetectedConnectedUSBHotspotNotification, nullptr, [this](const Notification& n) {
                posts.push_back(Post{n.userInfo, n.object, std::this_thread::get_id()});
            });
    }
    ~NotificationRecorder() { NotificationCenter::defaultCenter().removeObserver(m_token); }

    struct Post {
        plist::Value userInfo;
        const void* object;
        std::thread::id thread;
    };
    // Filled on the posting thread, which is the test's own.
    std::vector<Post> posts;

  private:
    NotificationCenter::Token m_token;
};

plist::Value allDevices(std::vector<plist::Value> records) {
    plist::Value info = plist::Value::dictionary();
    info.set("AllDevices", plist::Value::array(std::move(records)));
    return info;
}

TEST(UsbWatcher, AnnouncesTetheringPhoneKeyboardAndStick) {
    FakeSysfs tree;
    test::addUsbMachine(tree);
    sysfs::SysfsUsbRegistry registry(tree.root());
    RecordingUsbConsole console;
    NotificationRecorder recorder;

    WWUtils::detectConnectedUSBHotspot(registry, console);

    // Posted once, synchronously, on this thread, with no sender.
    ASSERT_EQ(recorder.posts.size(), 1u);
    EXPECT_EQ(recorder.posts[0].thread, std::this_thread::get_id());
    EXPECT_EQ(recorder.posts[0].object, nullptr);
    EXPECT_EQ(recorder.posts[0].userInfo,
              allDevices({usbDeviceRecord("iPhone", {0x05ac, 0x12a8}, "eth1"),
                          usbDeviceRecord("Cruzer Blade", {0x0781, 0x5567}, "sdb")}));

    EXPECT_EQ(console.systemLogEntries(), std::vector<std::string>{"usbDeviceEvent"});
    std::string err;
    for (const std::string& t : console.standardErrorTexts()) err += t;
    // Three lines for each of the six devices, the hubs and controllers too.
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 18) << err;
    EXPECT_NE(err.find("deviceName: iPhone\nbsdName: eth1\nadded: vid = 0x05ac pid = 0x12a8\n"),
              std::string::npos)
        << err;
    EXPECT_TRUE(console.standardOutputTexts().empty());
}

// Each start announces the devices of that moment; none is still announced.
TEST(UsbWatcher, EachStartAnnouncesTheDevicesOfThatMoment) {
    FakeSysfs tree;
    sysfs::SysfsUsbRegistry registry(tree.root());
    RecordingUsbConsole console;
    NotificationRecorder recorder;

    WWUtils::detectConnectedUSBHotspot(registry, console);
    EXPECT_TRUE(console.standardErrorTexts().empty());
    tree.addRootHub(1);
    const std::string phone = tree.addDevice("usb1", 1, test::iPhoneSpec());
    tree.addNetworkInterface(phone, 2, "eth1");
    WWUtils::detectConnectedUSBHotspot(registry, console);

    ASSERT_EQ(recorder.posts.size(), 2u);
    EXPECT_EQ(recorder.posts[0].userInfo, allDevices({}));
    EXPECT_EQ(recorder.posts[1].userInfo,
              allDevices({usbDeviceRecord("iPhone", {0x05ac, 0x12a8}, "eth1")}));
    EXPECT_EQ(console.systemLogEntries(),
              (std::vector<std::string>{"usbDeviceEvent", "usbDeviceEvent"}));
}

TEST(UsbWatcher, DeviceWithUnreadableNumbersGetsNameLinesOnly) {
    FakeSysfs tree;
    tree.addRootHub(1);
    const std::string phone = tree.addDevice("usb1", 1, test::iPhoneSpec());
    tree.addNetworkInterface(phone, 2, "eth1");
    tree.writeFile(tree.deviceDirectory(phone) + "/idVendor", "apple\n");
    std::filesystem::remove(tree.path(tree.deviceDirectory(phone) + "/product"));
    sysfs::SysfsUsbRegistry registry(tree.root());
    RecordingUsbConsole console;
    NotificationRecorder recorder;

    usbDeviceEvent("matched", registry, console);
    usbDeviceEvent(nullptr, registry, console);

    ASSERT_EQ(recorder.posts.size(), 2u);
    EXPECT_EQ(recorder.posts[0].userInfo, allDevices({}));
    // The reference text is printed as given; only the root hub has numbers.
    std::string err;
    for (const std::string& t : console.standardErrorTexts()) err += t;
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
