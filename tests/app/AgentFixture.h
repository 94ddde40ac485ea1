#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "app/UserDefaults.h"
#include "app/WiFiBackends.h"
#include "app/WirewatchAppDelegate.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/headless/HeadlessShell.h"
#include "platform/sim/SimWifiInterface.h"
#include "tests/support/app_TestSupport.h"

namespace ww::test {

// A delegate on a headless shell with its own run loop (the test thread is its
// main thread), a simulated Wi-Fi file, and an inventory the test controls.
class AgentFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        simPath = dir.file("wifi.plist");
        writeFile(simPath, plist::toXml(simWifi(true, true)));
        defaults =
            std::make_unique<UserDefaults>(dir.file("prefs/preferences.plist"),
                                           [this](const std::string& l) { console.push_back(l); });
        wifiClient = sim::makeSimWiFiClient(simPath);
    }

    void TearDown() override {
        if (delegate) delegate->waitForCheckThread(std::chrono::seconds(10));
        delegate.reset();
    }

    // Builds and launches the delegate. The inventory reports `wired` and
    // `wireless` unless the test replaces `inventory`.
    void launch() {
        AgentConfig c;
        // The Wi-Fi tool prints what the airport stand-in prints for an MCS line.
        c.commands.airport = "printf '     agrCtlRSSI: -55\\n            MCS: 9\\n'";
        c.installLoggers = false;
        c.reachabilityHost = reachabilityHost;
        c.defaultsResourcePath = defaultsResource;
        c.clock = clock;
        c.notifier = notifier;
        c.scheduleCheck = scheduleCheck;
        c.logsDirectory = logsDirectory;
        c.usbRegistry = usbRegistry;
        c.auditSink = auditSink;
        if (realCommands) {
            // The real inventory over these command lines; the Wi-Fi line stays.
            c.commands.ifconfig = realCommands->ifconfig;
            c.commands.systemProfiler = realCommands->systemProfiler;
            c.commands.networksetup = realCommands->networksetup;
        } else {
            c.inventory = [this](NetworkState& s) {
                ++inventories;
                if (inventory) {
                    inventory(s);
                    return;
                }
                if (wired) s.viaEthernet = true;
                if (wireless) s.viaWifi = true;
            };
        }
        delegate = std::make_unique<WirewatchAppDelegate>(shell, *defaults, *wifiClient, c);
        delegate->awakeFromNib();
        delegate->applicationDidFinishLaunching();
        loop.runPending();
    }

    // Runs `start` on the main thread, then the loop until the check it began has
    // finished its details refresh.
    void runCheck(const std::function<void()>& start) {
        bool finished = false;
        delegate->setCheckFinishedHandler([&] { finished = true; });
        start();
        ASSERT_TRUE(loop.runUntil([&] { return finished; }, std::chrono::seconds(20)));
        delegate->setCheckFinishedHandler(nullptr);
        ASSERT_TRUE(delegate->waitForCheckThread(std::chrono::seconds(10)));
        loop.runPending();
    }
    void runCheck() {
        runCheck([this] { loop.post([this] { delegate->checkInterfaceStatus(); }); });
    }

    void setPref(const std::string& key, const std::string& value) {
        defaults->setObject(plist::Value::string(value), key);
        defaults->synchronize();
    }

    std::string icon() const { return shell.statusItem() ? shell.statusItem()->image() : ""; }
    HeadlessMenu& menu() { return static_cast<HeadlessMenu&>(*delegate->statusMenu()); }

    // How many logged lines contain `part`.
    int linesContaining(const std::string& part) {
        int n = 0;
        for (const auto& t : capture.logger->texts()) n += t.find(part) != std::string::npos;
        return n;
    }

    TempDir dir;
    ScopedCapture capture;
    dispatch::RunLoop loop;
    HeadlessShell shell{loop};
    std::string simPath;
    std::vector<std::string> console;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<WiFiClient> wifiClient;
    std::unique_ptr<WirewatchAppDelegate> delegate;
    std::atomic<int> inventories{0};
    std::function<void(NetworkState&)> inventory;
    // When set, the agent's own inventory runs these tools instead.
    std::optional<CommandTable> realCommands;
    bool wired = false;
    bool wireless = false;
    std::string reachabilityHost;
    // The timing features' clock, the notifier, the check scheduler and the
    // data folder (for the exposure audit); unset: as the program has them.
    const Clock* clock = nullptr;
    Notifier* notifier = nullptr;
    std::function<void(std::chrono::steady_clock::duration)> scheduleCheck;
    std::string logsDirectory;
    UsbRegistry* usbRegistry = nullptr;
    AuditSink* auditSink = nullptr;
    std::string defaultsResource = std::string(WW_SOURCE_ROOT) + "/resources/Defaults.plist";
};

}  // namespace ww::test
