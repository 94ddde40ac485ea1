#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/usb/SysfsUsbRegistry.h"
#include "tests/discovery/DiscoveryTestSupport.h"
#include "tests/support/usb_FakeSysfs.h"
#include "tests/support/usb_TestDoubles.h"
#include "usb/DryRunUsbRegistry.h"
#include "usb/HotspotDisabling.h"
#include "usb/UsbWatcher.h"

namespace ww {
namespace {

using test::FakeSysfs;

InterfaceInfoPtr hotspot(std::optional<std::string> bsdName) {
    auto r = std::make_shared<InterfaceInfo>();
    r->BSDName.set(std::move(bsdName));
    r->displayName.set("iPhone USB");
    r->status.set("active");
    return r;
}

plist::Value arrayOf(std::vector<plist::Value> v) { return plist::Value::array(std::move(v)); }

// A machine with a tethering phone below an external hub, a keyboard and a
// USB stick, wired as the agent wires it: the handler observes the watcher's
// notification and acts through the same registry.
class HotspotDisablingTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (m_token) NotificationCenter::defaultCenter().removeObserver(m_token);
    }

    // One watcher start with the handler observing, as in a check.
    void runCheck(const InterfaceList& hotspots, UsbRegistry& through) {
        if (m_token) NotificationCenter::defaultCenter().removeObserver(m_token);
        m_token = NotificationCenter::defaultCenter().addObserver(
            kDetectedConnectedUSBHotspotNotification, nullptr,
            [&](const Notification& n) { usbDeviceDetected(n, hotspots, through, console); });
        WWUtils::detectConnectedUSBHotspot(through, console);
    }
    void runCheck(const InterfaceList& hotspots) { runCheck(hotspots, registry); }

    std::string phoneTarget() const {
        return std::filesystem::canonical(tree.path(tree.deviceDirectory(phone))).string() +
               "/bConfigurationValue";
    }

    FakeSysfs tree;
    const std::string phone = test::addUsbMachine(tree).phone;
    test::RecordingAttributeWriter writer;
    sysfs::SysfsUsbRegistry registry{tree.root(), writer};
    test::RecordingUsbConsole console;
    test::LogCapture log;

  private:
    NotificationCenter::Token m_token = 0;
};

TEST_F(HotspotDisablingTest, OnlyMatchingHotspotRecordsDisable) {
    // Two hotspot records, one of whose names is among the devices, one absent.
    runCheck({hotspot("eth7"), hotspot("eth1"), hotspot(std::nullopt)});
    EXPECT_EQ(writer.writes().size(), 1u);
    EXPECT_EQ(tree.configurationValue(phone), "2\n") << "the first configuration's value";
    // Matching is exact: case counts.
    runCheck({hotspot("ETH1")});
    EXPECT_EQ(writer.writes().size(), 1u);
}

TEST_F(HotspotDisablingTest, EmptyListsStopAfterTheFirstLine) {
    runCheck({});
    FakeSysfs empty;
    sysfs::SysfsUsbRegistry none(empty.root(), writer);
    runCheck({hotspot("eth1")}, none);
    EXPECT_TRUE(writer.writes().empty());
    const std::vector<std::string> texts = log.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("deviceDetected:", 0), 0u);
    EXPECT_EQ(texts[1], "deviceDetected:" + arrayOf({}).description());
}

TEST_F(HotspotDisablingTest, FirstOfSeveralRecordsWithTheSameBsdName) {
    const plist::Value first = usbDeviceRecord("iPhone", {0x05ac, 0x12a8}, "eth1");
    const plist::Value second = usbDeviceRecord("Other", {0x1234, 0x5678}, "eth1");
    plist::Value info = plist::Value::dictionary();
    info.set(kAllDevicesKey, arrayOf({first, second}));
    const InterfaceInfoPtr eth1 = hotspot("eth1");
    usbDeviceDetected(Notification{kDetectedConnectedUSBHotspotNotification, nullptr, info}, {eth1},
                      registry, console);
    ASSERT_EQ(writer.writes().size(), 1u);
    EXPECT_EQ(writer.writes()[0].path, phoneTarget());
}

TEST_F(HotspotDisablingTest, BadNotificationsAreIgnored) {
    const InterfaceList list{hotspot("eth1")};
    plist::Value noArray = plist::Value::dictionary();
    noArray.set(kAllDevicesKey, plist::Value::string("eth1"));
    plist::Value oddRecords = plist::Value::dictionary();
    // Records without numbers or with a BSD name of the wrong type.
    plist::Value noNumbers = plist::Value::dictionary();
    noNumbers.set(kBsdNameKey, plist::Value::string("eth1"));
    plist::Value numberName = usbDeviceRecord("iPhone", {0x05ac, 0x12a8}, "x");
    numberName.set(kBsdNameKey, plist::Value::integer(1));
    oddRecords.set(kAllDevicesKey, arrayOf({plist::Value::string("x"), numberName, noNumbers}));

    for (const plist::Value& info : {plist::Value(), noArray, oddRecords}) {
        usbDeviceDetected(Notification{kDetectedConnectedUSBHotspotNotification, nullptr, info},
                          list, registry, console);
    }
    EXPECT_TRUE(writer.writes().empty());
    EXPECT_EQ(log.texts().front(), "deviceDetected:(null)");
    // The record without numbers reaches the disabling as 0 and 0.
    EXPECT_EQ(console.systemLogText(), "vendorID & productID are null.\n");
}

TEST_F(HotspotDisablingTest, OutcomesOfTheDisabling) {
    const std::string descriptors = tree.deviceDirectory(phone) + "/descriptors";
    const std::string full = tree.readFile(descriptors);
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::int32_t vendorID, productID;
        const char* bsdName;
        std::string standardOutput;
        std::size_t writes;
        std::string value;
    };
    const Case cases[] = {
        {"done", [] {}, 0x05ac, 0x12a8, "eth1", "", 1, "2\n"},
        {"busy", [&] { writer.failNext(EBUSY); }, 0x05ac, 0x12a8, "eth1", "", 1, "3\n"},
        {"denied", [&] { writer.failNext(EACCES); }, 0x05ac, 0x12a8, "eth1",
         "Could not open device (error: d)\n", 1, "3\n"},
        {"truncated descriptors", [&] { tree.writeFile(descriptors, full.substr(0, 20)); }, 0x05ac,
         0x12a8, "eth1", "Could not set active configuration (error: 5)\n", 0, "3\n"},
        {"unreadable descriptors", [&] { std::filesystem::remove(tree.path(descriptors)); }, 0x05ac,
         0x12a8, "eth1", "Could not set active configuration (error: 2)\n", 0, "3\n"},
        {"other BSD name", [] {}, 0x05ac, 0x12a8, "eth5", "Device not found\n", 0, "3\n"},
        {"other numbers", [] {}, 0x05ac, 0x12a9, "eth1", "Device not found\n", 0, "3\n"},
        {"numbers beyond 16 bits", [] {}, 0x105ac, 0x12a8, "eth1", "Device not found\n", 0, "3\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tree.writeFile(descriptors, full);
        tree.writeFile(tree.deviceDirectory(phone) + "/bConfigurationValue", "3\n");
        test::RecordingUsbConsole out;
        const std::size_t before = writer.writes().size();
        c.arrange();
        WWUtils::disableConnectedUSBHotspotForVendorID(registry, c.vendorID, c.productID, c.bsdName,
                                                       out);
        EXPECT_EQ(out.standardOutputText(), c.standardOutput);
        EXPECT_EQ(out.standardErrorText() + out.systemLogText(), "");
        EXPECT_EQ(writer.writes().size() - before, c.writes);
        EXPECT_EQ(tree.configurationValue(phone), c.value);
    }
}

// What a dry run says is checked through the program; what it cannot read is
// still reported as without a dry run.
TEST_F(HotspotDisablingTest, DryRunWritesNothingAndReportsWhatItCannotRead) {
    DryRunUsbRegistry dryRun(registry);
    runCheck({hotspot("eth1")}, dryRun);
    EXPECT_TRUE(writer.writes().empty());
    EXPECT_EQ(tree.configurationValue(phone), "3\n");
    tree.writeFile(tree.deviceDirectory(phone) + "/descriptors", "");
    WWUtils::disableConnectedUSBHotspotForVendorID(dryRun, 0x05ac, 0x12a8, "eth1", console);
    EXPECT_EQ(console.standardOutputText(), "Could not set active configuration (error: 5)\n");
}

}  // namespace
}  // namespace ww
