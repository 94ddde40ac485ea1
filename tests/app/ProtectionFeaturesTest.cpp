// Grace period, flap damping, pause and notifications around the rules, on
// an injected clock: the agent's checks run for real (threads, main loop,
// simulated Wi-Fi); time moves only when the test moves it.

#include <gtest/gtest.h>

#include "app/ManagedPolicy.h"
#include "app/ProtectionFeatures.h"
#include "tests/app/AgentFixture.h"
#include "tests/support/app_ManualClock.h"
#include "usb/UsbRegistry.h"
#include "usb/UsbWatcher.h"

namespace ww::test {
namespace {

using namespace std::chrono_literals;

// Records what would have been shown.
class RecordingNotifier : public Notifier {
  public:
    bool notify(const std::string& summary, const std::string& body, std::string* error) override {
        std::lock_guard lock(m_mutex);
        m_shown.push_back(summary + ": " + body);
        if (fail) {
            if (error) *error = "no notification service";
            return false;
        }
        return true;
    }
    std::vector<std::string> shown() {
        std::lock_guard lock(m_mutex);
        return m_shown;
    }
    bool fail = false;

  private:
    std::mutex m_mutex;
    std::vector<std::string> m_shown;
};

using CheckCycleWithRealTimeTest = AgentFixture;

class ProtectionFeaturesTest : public AgentFixture {
  protected:
    void SetUp() override {
        AgentFixture::SetUp();
        clock = &manual;
        notifier = &recorder;
        // The moments the agent asked for a check, on the manual clock.
        scheduleCheck = [this](std::chrono::steady_clock::duration d) {
            std::lock_guard lock(m_mutex);
            scheduled.push_back(manual.now() + d);
        };
        // Wi-Fi counts as up while the simulated radio is powered and joined.
        inventory = [this](NetworkState& s) {
            if (wired) s.viaEthernet = true;
            auto ops = simOperations(simPath);
            bool off = !ops.empty() && (ops.back() == "setPower:0" || ops.back() == "disassociate");
            if (wireless && !off) s.viaWifi = true;
        };
    }

    // A check at the current (manual) time, as a timer tick or network change starts it.
    void checkNow() { ASSERT_NO_FATAL_FAILURE(runCheck()); }

    // The check that the agent scheduled, run when the clock reaches its moment.
    void runScheduledAt(Clock::SteadyTime at) {
        manual.advance(at - manual.now());
        runCheck([this] { loop.post([this] { delegate->scheduledCheck(); }); });
    }

    // The cable in and out every two seconds, a check at each change.
    void flapTheCable(std::chrono::seconds length) {
        for (auto at = 0s; at < length; at += 2s) {
            wired = !wired;
            checkNow();
            manual.advance(2s);
        }
    }

    std::optional<Clock::SteadyTime> lastScheduled() {
        std::lock_guard lock(m_mutex);
        if (scheduled.empty()) return std::nullopt;
        return scheduled.back();
    }

    // Power changes and disconnects that changed the radio's state.
    int wifiActions() {
        int actions = 0;
        std::string last = "setPower:1";
        for (const auto& op : simOperations(simPath)) {
            if (op != last) ++actions;
            last = op;
        }
        return actions;
    }

    ManualClock manual;
    RecordingNotifier recorder;
    std::vector<Clock::SteadyTime> scheduled;
    std::mutex m_mutex;
};

TEST_F(ProtectionFeaturesTest, TheGraceEndsWithAScheduledCheckNotAtTheNextTick) {
    setPref("WiredGraceSeconds", "7");
    wired = wireless = true;
    launch();
    auto start = manual.now();
    checkNow();
    EXPECT_TRUE(simOperations(simPath).empty()) << "a wired link in its grace is not counted";
    EXPECT_EQ(icon(), "ww-menubar.tif");
    ASSERT_EQ(lastScheduled(), start + 7s);

    manual.advance(5s);  // the next tick
    checkNow();
    EXPECT_TRUE(simOperations(simPath).empty());

    ASSERT_NO_FATAL_FAILURE(runScheduledAt(start + 7s));
    EXPECT_EQ(simOperations(simPath), std::vector<std::string>{"disassociate"});
    EXPECT_EQ(linesContaining(kDisconnect), 1);
}

// The same with the program's own clock and timer: the check comes by itself
// when the grace ends.
TEST_F(CheckCycleWithRealTimeTest, TheTimerStartsACheckWhenTheGraceEnds) {
    setPref("WiredGraceSeconds", "1");
    wired = wireless = true;
    launch();
    const auto start = std::chrono::steady_clock::now();
    runCheck();
    EXPECT_TRUE(simOperations(simPath).empty());
    // No tick comes within 4.5 s (the five-second timer runs on the loop, and
    // its first tick is five seconds after launch).
    ASSERT_TRUE(loop.runUntil([&] { return !simOperations(simPath).empty(); }, 4500ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(simOperations(simPath), std::vector<std::string>{"disassociate"});
    ASSERT_TRUE(loop.runUntil([&] { return !delegate->isRunning(); }, 10s));
}

TEST_F(ProtectionFeaturesTest, AWiredLinkShorterThanTheGraceNeverCutsWiFi) {
    setPref("WiredGraceSeconds", "10");
    setPref("selectedInterfaceOption", "1");
    wireless = true;
    launch();
    const auto start = manual.now();
    for (int second = 0; second < 60; second += 2) {
        // Up for 8 s, down for 4 s: never 10 s in a row.
        wired = second % 12 < 8;
        checkNow();
        // A check the agent scheduled before the next one runs at its moment.
        if (auto at = lastScheduled();
            at && *at > manual.now() && *at < start + (second + 2) * 1s) {
            ASSERT_NO_FATAL_FAILURE(runScheduledAt(*at));
        }
        manual.advance(start + (second + 2) * 1s - manual.now());
    }
    EXPECT_TRUE(simOperations(simPath).empty());
    EXPECT_GT(linesContaining("grace period of 10 s"), 0);
    EXPECT_EQ(linesContaining(kDisable), 0);
}

class FlapDampingTest : public ProtectionFeaturesTest, public ::testing::WithParamInterface<int> {};

TEST_P(FlapDampingTest, ACableFlappingForAMinuteGivesAtMostTheLimitAndEndsProtected) {
    const int limit = GetParam();
    setPref("selectedInterfaceOption", "1");
    setPref("FlapLimit", std::to_string(limit));
    setPref("NotifyFlapDamping", "1");
    wireless = true;
    launch();
    const auto start = manual.now();
    flapTheCable(60s);
    // The last change of the cable was at 58 s, and it stays out.
    EXPECT_LE(wifiActions(), limit);
    EXPECT_GE(wifiActions(), limit - 1);
    EXPECT_EQ(simOperations(simPath).back(), "setPower:0") << "ends protected";
    EXPECT_EQ(linesContaining("Wi-Fi flapping"), 1);
    auto shown = recorder.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].starts_with("Wi-Fi held off")) << shown[0];

    // Damping lets go a minute after the last change, at a moment the agent
    // scheduled, and Wi-Fi comes back.
    wired = false;
    for (int i = 0; i < 5 && linesContaining("flap damping ended") == 0; ++i) {
        auto at = lastScheduled();
        ASSERT_TRUE(at);
        ASSERT_GT(*at, manual.now() - 1s);
        ASSERT_NO_FATAL_FAILURE(runScheduledAt(*at));
    }
    EXPECT_EQ(linesContaining("flap damping ended"), 1);
    EXPECT_EQ(manual.now(), start + 58s + 60s);
    EXPECT_EQ(simOperations(simPath).back(), "setPower:1");
}

INSTANTIATE_TEST_SUITE_P(Limits, FlapDampingTest, ::testing::Values(3, 4));

TEST_F(ProtectionFeaturesTest, DefaultsNeitherDelayNorDampNorScheduleAnything) {
    setPref("selectedInterfaceOption", "1");
    wireless = true;
    launch();
    flapTheCable(30s);
    // Every change of the cable is acted on at once, as the rules say.
    EXPECT_EQ(wifiActions(), 15);
    EXPECT_FALSE(lastScheduled());
    EXPECT_TRUE(recorder.shown().empty()) << "notifications are off by default";
    EXPECT_EQ(shell.statusItem()->toolTip(), "Wirewatch");
}

TEST_F(ProtectionFeaturesTest, PauseHoldsTheRulesAcrossARestartAndEndsByItself) {
    wired = wireless = true;
    launch();
    loop.runPending();
    runCheck([this] {
        ASSERT_EQ(delegate->pauseProtection(15min, std::nullopt), ProtectionPause::Result::Done);
    });
    EXPECT_TRUE(simOperations(simPath).empty()) << "no rule acts while paused";
    EXPECT_EQ(icon(), "ww-warning-menubar.tif");
    std::string until = localClockTime(manual.wallNow() + 15min);
    EXPECT_EQ(shell.statusItem()->toolTip(), "Wirewatch: protection paused until " + until);
    // The check that ends the pause is due when it ends (to the millisecond).
    ASSERT_TRUE(lastScheduled());
    EXPECT_GE(*lastScheduled(), manual.now() + 15min);
    EXPECT_LE(*lastScheduled(), manual.now() + 15min + 1ms);

    // The agent restarts during the pause: still paused.
    delegate.reset();
    manual.advance(10min);
    launch();
    checkNow();
    EXPECT_TRUE(simOperations(simPath).empty());
    EXPECT_EQ(icon(), "ww-warning-menubar.tif");

    // The pause ends at its moment; the rule acts again.
    ASSERT_NO_FATAL_FAILURE(runScheduledAt(*lastScheduled()));
    EXPECT_EQ(simOperations(simPath), std::vector<std::string>{"disassociate"});
    EXPECT_EQ(icon(), "ww-menubar.tif");
    EXPECT_EQ(shell.statusItem()->toolTip(), "Wirewatch");
    EXPECT_FALSE(defaults->objectForKey(ProtectionPause::kKey));
    EXPECT_EQ(linesContaining("protection resumed"), 1);
}

// A pause written into the user's own preferences cannot get round a rule the
// administrator fixes, as the pause items cannot: it is ignored, said once.
TEST_F(ProtectionFeaturesTest, APauseInThePreferencesYieldsToARuleThePolicyFixes) {
    writePlist(dir.file("policy.plist"), {{"selectedInterfaceOption", plist::Value::string("0")}});
    defaults->setManagedPolicy(std::make_shared<ManagedPolicy>(
        dir.file("policy.plist"), [](const std::string&) {}, ::getuid()));
    // Years ahead, as a date (2001-01-01 is 0).
    defaults->setObject(plist::Value::date(3.0e9), ProtectionPause::kKey);
    defaults->synchronize();
    wired = wireless = true;
    launch();
    checkNow();
    EXPECT_EQ(simOperations(simPath), std::vector<std::string>{"disassociate"});
    EXPECT_EQ(icon(), "ww-menubar.tif");
    EXPECT_EQ(shell.statusItem()->toolTip(), "Wirewatch");
    EXPECT_FALSE(delegate->protection().pause().isPaused());
    checkNow();
    EXPECT_EQ(linesContaining("the pause in the preferences is ignored"), 1);
    EXPECT_EQ(linesContaining("protection paused until"), 0);
}

TEST_F(ProtectionFeaturesTest, NotificationsOfAKindAtMostOncePerMinuteAndOnlyWhenSwitchedOn) {
    setPref("NotifyWiFiCut", "1");
    setPref("NotifyWarningState", "1");
    // The rule disconnects; the network (this inventory) keeps Wi-Fi up.
    inventory = [this](NetworkState& s) {
        s.viaEthernet = wired;
        s.viaWifi = true;
    };
    wired = true;
    // A refused disconnect cut nothing: no notification, the exposure stays
    // open, and the next check tries again.
    plist::Value refusing = simWifi(true, true);
    refusing.set("failDisconnect", plist::Value::string("Operation not permitted"));
    writeFile(simPath, plist::toXml(refusing));
    launch();
    checkNow();
    EXPECT_TRUE(recorder.shown().empty());
    EXPECT_TRUE(delegate->protection().audit().isOpen());
    writeFile(simPath, plist::toXml(simWifi(true, true)));
    checkNow();
    EXPECT_FALSE(delegate->protection().audit().isOpen());
    EXPECT_EQ(delegate->protection().audit().today().intervals.at(0).endedBy,
              "Wi-Fi disconnected by the rule");
    manual.advance(30s);
    checkNow();  // cut again within the minute: not told again
    ASSERT_EQ(recorder.shown().size(), 1u);
    EXPECT_EQ(recorder.shown()[0],
              "Wi-Fi disconnected: Wirewatch disconnected Wi-Fi because a wired network is "
              "connected.");

    // No rule: the warning state is entered once and told once.
    setPref("selectedInterfaceOption", "-1");
    checkNow();
    manual.advance(61s);
    checkNow();
    auto shown = recorder.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(shown[1].starts_with("Wirewatch: not protected")) << shown[1];
}

// One tethering phone; its configuration change succeeds or is refused.
class OnePhoneRegistry : public UsbRegistry {
  public:
    struct Device : UsbDeviceInterface {
        explicit Device(OnePhoneRegistry& r) : registry(r) {}
        std::optional<std::uint8_t> firstConfigurationValue(int*) override { return 1; }
        UsbResult setConfiguration(std::uint8_t value) override {
            registry.written.push_back(value);
            return registry.refuse ? UsbResult::failed(EACCES) : UsbResult::success();
        }
        std::string configurationTarget() const override { return "bConfigurationValue"; }
        OnePhoneRegistry& registry;
    };
    std::vector<UsbDeviceEntry> devices() override {
        return {{"1-2", "iPhone", UsbNumbers{0x05ac, 0x12a8}, std::string("en6")}};
    }
    std::unique_ptr<UsbDeviceInterface> openDevice(const UsbDeviceEntry&, UsbResult*) override {
        return std::make_unique<Device>(*this);
    }
    bool refuse = false;
    std::vector<int> written;
};

TEST_F(ProtectionFeaturesTest, AHotspotIsToldOfOnlyWhenItWasReallyShutOff) {
    setPref("NotifyHotspotDisabled", "1");
    OnePhoneRegistry phone;
    usbRegistry = &phone;
    launch();
    auto hotspot = std::make_shared<InterfaceInfo>();
    hotspot->BSDName.set("en6");
    hotspot->displayName.set("iPhone USB");
    delegate->networkState().setHotspotInterfacesToDelete({hotspot});
    using V = plist::Value;
    V record = V::dictionary({{kBsdNameKey, V::string("en6")},
                              {kVendorIDKey, V::integer(0x05ac)},
                              {kProductIDKey, V::integer(0x12a8)}});
    Notification n{kDetectedConnectedUSBHotspotNotification, nullptr,
                   V::dictionary({{kAllDevicesKey, V::array({record})}})};

    phone.refuse = true;
    delegate->usbDeviceDetected(n);
    EXPECT_EQ(phone.written, std::vector<int>{1});
    EXPECT_TRUE(recorder.shown().empty()) << "refused: nothing was shut off";

    phone.refuse = false;
    delegate->usbDeviceDetected(n);
    EXPECT_EQ(phone.written, (std::vector<int>{1, 1}));
    ASSERT_EQ(recorder.shown().size(), 1u);
    EXPECT_EQ(recorder.shown()[0],
              "Hotspot switched off: Wirewatch switched off the personal hotspot on en6.");
}

TEST(AgentNotifications, RateLimitPerKindPreferencesAndFailures) {
    TempDir dir;
    UserDefaults store(dir.file("prefs.plist"));
    ManualClock clock;
    RecordingNotifier notifier;
    AgentNotifications n(store, clock, &notifier);
    for (int k = 0; k < kNotificationKinds; ++k) {
        EXPECT_FALSE(n.post(NotificationKind(k), "off", "by default"));
    }
    EXPECT_TRUE(notifier.shown().empty());
    for (const char* key :
         {"NotifyWiFiCut", "NotifyWarningState", "NotifyHotspotDisabled", "NotifyFlapDamping"}) {
        store.setObject(plist::Value::boolean(true), key);
    }
    for (int k = 0; k < kNotificationKinds; ++k) {
        EXPECT_TRUE(n.post(NotificationKind(k), "first", "of its kind"));
        EXPECT_FALSE(n.post(NotificationKind(k), "second", "within the minute"));
    }
    clock.advance(59s);
    EXPECT_FALSE(n.post(NotificationKind::WiFiCut, "still", "too soon"));
    clock.advance(1s);
    EXPECT_TRUE(n.post(NotificationKind::WiFiCut, "a minute", "later"));

    // A failed attempt does not hold back the next one.
    notifier.fail = true;
    clock.advance(60s);
    EXPECT_FALSE(n.post(NotificationKind::HotspotDisabled, "fails", ""));
    notifier.fail = false;
    EXPECT_TRUE(n.post(NotificationKind::HotspotDisabled, "works", ""));
    // Without a notifier nothing is shown and nothing fails.
    AgentNotifications none(store, clock, nullptr);
    EXPECT_FALSE(none.post(NotificationKind::WiFiCut, "nobody", "listens"));
}

TEST_F(ProtectionFeaturesTest, TheAboutWindowShowsTodaysExposuresAndFollowsThemWhileOpen) {
    setPref("selectedInterfaceOption", "-1");
    launch();
    delegate->openAboutPanel();
    EXPECT_EQ(shell.appAuditText.stringValue(), "0 exposures today");

    // No rule: both up for 1.5 s, until the wired link goes.
    wired = wireless = true;
    checkNow();
    EXPECT_EQ(shell.appAuditText.stringValue(), "0 exposures today");  // still open
    manual.advance(1500ms);
    wired = false;
    checkNow();
    EXPECT_EQ(shell.appAuditText.stringValue(), "1 exposure today, longest 1.50 s");

    // Closed, it is brought up to date when it opens again.
    shell.aboutWindow.close();
    wired = true;
    checkNow();
    manual.advance(250ms);
    wired = false;
    checkNow();
    EXPECT_EQ(shell.appAuditText.stringValue(), "1 exposure today, longest 1.50 s");
    delegate->openAboutPanel();
    EXPECT_EQ(shell.appAuditText.stringValue(), "2 exposures today, longest 1.50 s");
}

}  // namespace
}  // namespace ww::test
