// The hotspot path end to end: the inventory finds an "iPhone USB" port in the
// tools' output, starts the watcher, and the handler switches the phone whose
// network interface it is to its first configuration.

#include <gtest/gtest.h>

#include <string>

#include "discovery/NetworkInventory.h"
#include "platform/linux/usb/SysfsUsbRegistry.h"
#include "tests/discovery/DiscoveryTestSupport.h"
#include "tests/support/usb_FakeSysfs.h"
#include "tests/support/usb_TestDoubles.h"
#include "usb/HotspotDisabling.h"
#include "usb/UsbWatcher.h"

namespace ww {
namespace {

class InventoryHotspotTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        tree.addRootHub(1);
        const std::string hub = tree.addDevice("usb1", 1, test::externalHubSpec());
        // An identical phone that is not tethering, found first.
        idle = tree.addDevice(hub, 1, test::iPhoneSpec());
        phone = tree.addDevice(hub, 3, test::iPhoneSpec());
        tree.addNetworkInterface(phone, 2, "en6");
        const std::string stick = tree.addDevice("usb1", 2, test::usbStickSpec());
        tree.addBlockDevice(stick, 0, "disk4", 6);

        // Start-up step 11 as the delegate does it.
        m_token = NotificationCenter::defaultCenter().addObserver(
            kDetectedConnectedUSBHotspotNotification, nullptr, [this](const Notification& n) {
                usbDeviceDetected(n, state.hotspotInterfacesToDelete(), registry, console);
            });
    }
    void TearDown() override { NotificationCenter::defaultCenter().removeObserver(m_token); }

    test::FakeSysfs tree;
    std::string idle, phone;
    test::RecordingAttributeWriter writer;
    sysfs::SysfsUsbRegistry registry{tree.root(), writer};
    test::RecordingUsbConsole console;
    NetworkState state;

  private:
    NotificationCenter::Token m_token = 0;
};

TEST_P(InventoryHotspotTest, PreferenceDecidesWhetherThePhoneIsSwitched) {
    const bool shutOff = GetParam();
    test::LogCapture log;
    NetworkInventory inventory(test::macbookTools(), state,
                               {[shutOff] { return shutOff; },
                                [this] { WWUtils::detectConnectedUSBHotspot(registry, console); }});
    inventory.getAllNetworksDetails();

    if (!shutOff) {
        EXPECT_TRUE(writer.writes().empty());
        EXPECT_TRUE(console.systemLogEntries().empty());  // the watcher never started
        return;
    }
    ASSERT_EQ(writer.writes().size(), 1u);
    EXPECT_EQ(writer.writes()[0].bytes, "2\n");
    EXPECT_EQ(tree.configurationValue(phone), "2\n");
    EXPECT_EQ(tree.configurationValue(idle), "3\n");
    EXPECT_TRUE(console.standardOutputTexts().empty());
    ASSERT_EQ(state.hotspotInterfacesToDelete().size(), 1u);
    const std::string record = state.hotspotInterfacesToDelete()[0]->toString();
    bool disablingLogged = false;
    for (const std::string& t : log.texts()) {
        if (t.rfind("AppDelegate:usbDeviceDetected disabling (" + record + ")", 0) == 0) {
            disablingLogged = true;
        }
    }
    EXPECT_TRUE(disablingLogged);
}

INSTANTIATE_TEST_SUITE_P(ShutOff, InventoryHotspotTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

}  // namespace
}  // namespace ww
