#include <gtest/gtest.h>

#include "tests/app/AgentFixture.h"

namespace ww::test {
namespace {

using DetailsViewTest = AgentFixture;

std::vector<std::string> visibleTitles(WirewatchAppDelegate& d) {
    std::vector<std::string> out;
    const auto& i = d.infoItems();
    for (MenuItem* m :
         {i.ssid, i.bssid, i.rssi, i.noise, i.channel, i.mcsIndex, i.security, i.opMode, i.phyMode,
          i.txRate, i.ipAddress, i.macAddress, i.interfaceName}) {
        if (!m->isHidden()) out.push_back(m->title());
    }
    return out;
}

TEST_F(DetailsViewTest, ANetworkNameCannotBreakTheOneLinePerItemReport) {
    plist::Value sim = simWifi(true, true);
    sim.set("ssid", plist::Value::string("evil\nicon: ww-warning-menubar\x1B[2J"));
    writeFile(simPath, plist::toXml(sim));
    wireless = true;
    launch();
    runCheck();
    std::string report = delegate->menuReport();
    EXPECT_EQ(report.substr(0, report.find('\n', report.find('\n') + 1) + 1),
              "icon: ww-menubar\nSSID: evil?icon: ww-warning-menubar?[2J\n");
}

TEST_F(DetailsViewTest, MissingSsidBssidAndChannel) {
    plist::Value sim = simWifi(true, false);
    sim.erase("channelNumber");
    writeFile(simPath, plist::toXml(sim));
    wireless = true;
    launch();
    runCheck();
    const auto& i = delegate->infoItems();
    EXPECT_EQ(i.ssid->title(), "SSID:");
    EXPECT_EQ(i.bssid->title(), "BSSID: ");
    EXPECT_EQ(i.channel->title(), "Channel: 0/Unknown (Unknown)");
    EXPECT_EQ(i.rssi->title(), "RSSI: -55 dBm");
}

TEST_F(DetailsViewTest, InterfaceModeZeroShowsTheGroupAndChangesNoText) {
    wired = true;
    launch();
    runCheck();  // the wired group first
    plist::Value sim = simWifi(true, true);
    sim.set("interfaceMode", plist::Value::integer(0));
    writeFile(simPath, plist::toXml(sim));
    wired = false;
    wireless = true;
    runCheck();
    // The Wi-Fi group is shown with the texts laid out at load time.
    EXPECT_EQ(
        visibleTitles(*delegate),
        (std::vector<std::string>{"SSID:", "BSSID:", "RSSI:", "Noise:", "Channel:", "MCS Index:",
                                  "Security:", "Op Mode:", "PHY Mode:", "Transmit Rate:"}));
    EXPECT_FALSE(delegate->isRunning());
}

TEST_F(DetailsViewTest, WiredDetailsTheInventoryHasNotReadNotAvailable) {
    wired = true;
    launch();
    runCheck();
    EXPECT_EQ(visibleTitles(*delegate),
              (std::vector<std::string>{"IP address: Not Available", "MAC address: Not Available",
                                        "Interface name: Not Available/Not Available"}));
}

TEST_F(DetailsViewTest, IconSwitchesFromAnotherThreadArriveInOrder) {
    launch();
    std::thread t([&] {
        delegate->setMenubarStatusImageTo(WirewatchAppDelegate::kWarningIcon);
        delegate->setMenubarStatusImageTo(WirewatchAppDelegate::kNormalIcon);
        delegate->setMenubarStatusImageTo(WirewatchAppDelegate::kWarningIcon);
    });
    t.join();
    loop.runPending();
    EXPECT_EQ(shell.statusItem()->image(), "ww-warning-menubar.tif");
    EXPECT_EQ(shell.statusItem()->alternateImage(), "ww-warning-menubar-selected.tif");
}

}  // namespace
}  // namespace ww::test
