#include <gtest/gtest.h>

#include <thread>

#include "tests/app/AgentFixture.h"

namespace ww::test {
namespace {

struct Row {
    const char* name;
    bool wired;
    bool wireless;
    const char* rule;
    const char* enableWireless;
    std::vector<std::pair<std::string, std::int32_t>> lines;  // text, flag
    std::vector<std::string> operations;                      // recorded by the sim
    bool showWiFi;
    const char* icon;  // nullptr: unchanged from start-up
    bool isChanged;
};

class DecisionTableTest : public AgentFixture, public ::testing::WithParamInterface<Row> {};

TEST_P(DecisionTableTest, RowAppliesItsStepsLogLinesFlagAndIcon) {
    const Row& row = GetParam();
    wired = row.wired;
    wireless = row.wireless;
    setPref("selectedInterfaceOption", row.rule);
    setPref("enableWireless", row.enableWireless);
    launch();
    // Start from the warning icon so "unchanged" is visible.
    delegate->setMenubarStatusImageTo(WirewatchAppDelegate::kWarningIcon);
    loop.runPending();
    capture.logger->clear();

    runCheck();

    std::vector<std::pair<std::string, std::int32_t>> lines;
    for (const auto& l : capture.logger->lines()) {
        if (l.text.rfind("AppDelegate: ", 0) == 0 && l.function == "checkInterfaceStatusRequest") {
            lines.emplace_back(l.text, l.flag);
        }
    }
    EXPECT_EQ(lines, row.lines);
    EXPECT_EQ(simOperations(simPath), row.operations);
    EXPECT_EQ(delegate->shouldShowWiFiInfo(), row.showWiFi);
    EXPECT_EQ(icon(), std::string(row.icon ? row.icon : "ww-warning-menubar") + ".tif");
    EXPECT_EQ(delegate->isChanged(), row.isChanged);
    EXPECT_FALSE(delegate->isRunning());
}

constexpr std::int32_t E = DDLogFlagError;
constexpr std::int32_t I = DDLogFlagInfo;

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Rows, DecisionTableTest,
    ::testing::Values(
        Row{"BothRule0", true, true, "0", "1", {{kBoth, E}, {kDisconnect, E}}, {"disassociate"},
            true, "ww-menubar", false},
        Row{"BothRule1", true, true, "1", "1", {{kBoth, E}, {kDisable, E}}, {"setPower:0"}, true,
            "ww-menubar", true},
        Row{"BothNoRule", true, true, "-1", "1", {{kBoth, E}, {kBothNoRule, E}}, {}, true,
            "ww-warning-menubar", false},
        Row{"BothRule2", true, true, "2", "1", {{kBoth, E}, {kBothNoRule, E}}, {}, true,
            "ww-warning-menubar", false},
        Row{"WiredRule0", true, false, "0", "1", {{kWiredOnly, E}, {kDisconnect, E}},
            {"disassociate"}, false, "ww-menubar", false},
        Row{"WiredRule1", true, false, "1", "1", {{kWiredOnly, E}, {kDisable, E}}, {"setPower:0"},
            false, "ww-menubar", true},
        Row{"WiredNoRule", true, false, "-1", "1", {{kWiredOnly, E}, {kWiredNoRule, E}}, {}, false,
            "ww-warning-menubar", false},
        Row{"WifiOnly", false, true, "1", "1", {{kNotWired, E}, {kWifiOnly, E}}, {}, true,
            "ww-menubar", false},
        Row{"NothingEnable1", false, false, "0", "1",
            {{kNotWired, E}, {kNotWireless, E}, {kEnabling, E}}, {"setPower:1"}, true, "ww-menubar",
            false},
        Row{"NothingEnable0", false, false, "0", "0",
            {{kNotWired, E}, {kNotWireless, E}, {kNoWirelessWanted, I}}, {}, true,
            "ww-warning-menubar", false},
        Row{"NothingEnable2", false, false, "0", "2", {{kNotWired, E}, {kNotWireless, E}}, {},
            false, nullptr, false}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });
// clang-format on

using CheckCycleTest = AgentFixture;

TEST_F(CheckCycleTest, PowerSwitchedOffByARuleIsSwitchedBackOnBeforeADisconnect) {
    wired = true;
    setPref("selectedInterfaceOption", "1");
    launch();
    runCheck();
    EXPECT_TRUE(delegate->isChanged());
    // Enabling wireless when the cable goes does not clear isChanged.
    wired = false;
    runCheck();
    EXPECT_TRUE(delegate->isChanged());
    EXPECT_EQ(simOperations(simPath), (std::vector<std::string>{"setPower:0", "setPower:1"}));

    // The user picks rule 0 while wired again: power on, then disassociate.
    wired = true;
    setPref("selectedInterfaceOption", "0");
    runCheck();
    EXPECT_FALSE(delegate->isChanged());
    // isChanged is cleared: a further check only disassociates.
    runCheck();
    EXPECT_EQ(simOperations(simPath),
              (std::vector<std::string>{"setPower:0", "setPower:1", "setPower:1", "disassociate",
                                        "disassociate"}));
}

TEST_F(CheckCycleTest, FailedPowerChangesAreLoggedWithTheInterfacesError) {
    plist::Value sim = simWifi(true, true);
    sim.set("failPower", plist::Value::string("Operation not permitted"));
    writeFile(simPath, plist::toXml(sim));
    wired = true;
    setPref("selectedInterfaceOption", "1");
    launch();
    runCheck();
    EXPECT_EQ(linesContaining("CoreWLAN returend error as :Operation not permitted "), 1);
    EXPECT_TRUE(simOperations(simPath).empty());
    EXPECT_EQ(icon(), "ww-menubar.tif");

    // The power-on that precedes a disconnect is not reported, and isChanged
    // is cleared all the same.
    capture.logger->clear();
    setPref("selectedInterfaceOption", "0");
    runCheck();
    EXPECT_EQ(linesContaining("CoreWLAN"), 0);
    EXPECT_FALSE(delegate->isChanged());
    EXPECT_EQ(simOperations(simPath), (std::vector<std::string>{"disassociate"}));
}

TEST_F(CheckCycleTest, WithoutWiFiHardwarePowerChangesFailWithoutAnError) {
    wifiClient = makeNoWiFiClient();
    setPref("enableWireless", "1");
    launch();
    runCheck();
    EXPECT_EQ(linesContaining("CoreWLAN returend error as :(null) "), 1);
    // The row still applies: Wi-Fi details are to be shown, the icon is normal.
    EXPECT_TRUE(delegate->shouldShowWiFiInfo());
    EXPECT_EQ(icon(), "ww-menubar.tif");
}

TEST_F(CheckCycleTest, AnEmptyStoreReadsRuleZeroAndDoesNotEnableWireless) {
    // A Defaults resource that names no key: rule reads 0 (disconnect), and
    // "enableWireless" 0.
    defaultsResource = dir.file("Empty.plist");
    writeFile(defaultsResource, plist::toXml(plist::Value::dictionary()));
    wired = wireless = true;
    launch();
    runCheck();
    EXPECT_EQ(simOperations(simPath), (std::vector<std::string>{"disassociate"}));
    EXPECT_EQ(defaults->integerForKey("enableWireless"), 0);
    EXPECT_FALSE(defaults->stringForKey("selectedInterfaceOption").has_value());
}

// ---- single flight ------------------------------------------------------------------

TEST_F(CheckCycleTest, TriggersDuringACheckAreDroppedAndNotReplayed) {
    Gate gate;
    inventory = [&](NetworkState&) { gate.wait(); };
    launch();
    bool finished = false;
    delegate->setCheckFinishedHandler([&] { finished = true; });
    delegate->checkInterfaceStatus();
    ASSERT_TRUE(gate.waitEntered());
    EXPECT_TRUE(delegate->isRunning());

    // The timer, the reachability callbacks and the menu all end here.
    delegate->checkInterfaceStatus();
    delegate->checkInterfaceStatus();
    menu().open();
    loop.runPending();
    EXPECT_EQ(inventories.load(), 1);

    gate.open();
    ASSERT_TRUE(loop.runUntil([&] { return finished; }, std::chrono::seconds(20)));
    ASSERT_TRUE(delegate->waitForCheckThread(std::chrono::seconds(10)));
    loop.runPending();
    EXPECT_EQ(inventories.load(), 1);
    EXPECT_FALSE(delegate->isRunning());

    // Once idle, opening the menu starts a check at once.
    inventory = nullptr;
    runCheck([this] { menu().open(); });
    EXPECT_EQ(inventories.load(), 2);
}

TEST_F(CheckCycleTest, AStormOfTriggersNeverRunsTwoChecksAtOnce) {
    std::atomic<int> concurrent{0};
    std::atomic<int> maxConcurrent{0};
    inventory = [&](NetworkState& s) {
        int now = ++concurrent;
        int prev = maxConcurrent.load();
        while (now > prev && !maxConcurrent.compare_exchange_weak(prev, now)) {
        }
        s.viaEthernet = true;
        --concurrent;
    };
    launch();
    int finished = 0;
    delegate->setCheckFinishedHandler([&] { ++finished; });
    for (int i = 0; i < 2000 && finished < 20; ++i) {
        delegate->checkInterfaceStatus();
        menu().open();
        loop.runPending();
    }
    ASSERT_TRUE(loop.runUntil([&] { return !delegate->isRunning(); }, std::chrono::seconds(20)));
    ASSERT_TRUE(delegate->waitForCheckThread(std::chrono::seconds(10)));
    EXPECT_EQ(maxConcurrent.load(), 1);
    EXPECT_GE(inventories.load(), 1);
    EXPECT_EQ(inventories.load(), finished);
}

}  // namespace
}  // namespace ww::test
