// The tray menu's controls beyond the link details: the "Interfaces" submenu
// with each interface's override, and pausing and resuming from the menu. The
// agent runs for real on a headless shell; the inventory reads a captured
// Linux desk (USB Ethernet, Wi-Fi, a phone's USB hotspot, Docker, a VPN).

#include <unistd.h>

#include <chrono>

#include "app/ManagedPolicy.h"
#include "tests/app/AgentFixture.h"

namespace ww::test {
namespace {

using namespace std::chrono_literals;

const std::string kDesk = std::string(WW_SOURCE_ROOT) + "/tests/fixtures/discovery/linux-desk/";
const std::string kUsbLan = "enx00e04c680001";

std::vector<std::string> titles(const HeadlessMenu& menu) {
    std::vector<std::string> out;
    for (HeadlessMenuItem* item : menu.items()) out.push_back(item ? item->title() : "---");
    return out;
}

class TrayMenuTest : public AgentFixture {
  protected:
    void SetUp() override {
        AgentFixture::SetUp();
        CommandTable desk;
        desk.ifconfig = "cat " + shellQuote(kDesk + "ifconfig.txt");
        desk.systemProfiler = "cat " + shellQuote(kDesk + "system_profiler.xml");
        desk.networksetup = "cat " + shellQuote(kDesk + "networksetup.txt");
        realCommands = desk;
    }

    HeadlessMenu& interfaces() { return static_cast<HeadlessMenu&>(*delegate->interfacesMenu()); }
    // The submenu item of one interface (its title starts with the name).
    HeadlessMenuItem* interfaceItem(const std::string& name) {
        for (HeadlessMenuItem* item : interfaces().items()) {
            if (item && item->title().rfind(name + " ", 0) == 0) return item;
            if (item && item->title().rfind(name + ":", 0) == 0) return item;
        }
        return nullptr;
    }
    HeadlessMenuItem* choice(const std::string& name, const std::string& title) {
        HeadlessMenuItem* item = interfaceItem(name);
        if (!item || !item->submenu()) return nullptr;
        return item->submenu()->item(title);
    }
    const InterfaceReport* report(const std::string& name) {
        reports = delegate->networkState().interfaceReports();
        for (const InterfaceReport& r : reports) {
            if (r.name == name) return &r;
        }
        return nullptr;
    }

    // Chooses an item that starts a check, and waits for that check.
    void chooseAndWait(HeadlessMenuItem* item) {
        ASSERT_NE(item, nullptr);
        runCheck([item] { item->choose(); });
    }

    std::optional<plist::Value> storedOverrides() {
        // The file itself, as another reader (and the next start) sees it.
        UserDefaults raw(defaults->path());
        return raw.objectForKey("InterfaceOverrides");
    }

    std::string policyPath() { return dir.file("policy.plist"); }

    InterfaceReports reports;
};

TEST_F(TrayMenuTest, TheInterfacesSubmenuShowsTheInspectorLinesAndTheChoicesEditTheOverrides) {
    // An entry for an interface not here today is the user's, and stays.
    const plist::Value kept = plist::Value::dictionary({{"wwan0", plist::Value::string("wired")}});
    defaults->setObject(kept, "InterfaceOverrides");
    defaults->synchronize();
    launch();
    runCheck();

    std::vector<std::string> lines = inspectorLines(delegate->networkState().interfaceReports());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(titles(interfaces()), lines);
    for (HeadlessMenuItem* item : interfaces().items()) {
        ASSERT_NE(item->submenu(), nullptr) << item->title();
        EXPECT_EQ(titles(*item->submenu()),
                  (std::vector<std::string>{"Count as wired", "Ignore", "Automatic"}));
        for (HeadlessMenuItem* c : item->submenu()->items()) {
            EXPECT_TRUE(c->isEnabled());
            EXPECT_EQ(c->isChecked(), c->title() == "Automatic") << item->title();
        }
    }
    // The USB Ethernet adapter is wired: the rule disconnects Wi-Fi.
    EXPECT_EQ(simOperations(simPath), std::vector<std::string>{"disassociate"});

    // Ignored, they count no more: with the adapter and the phone's hotspot
    // (which counts as wired) ignored, the next check leaves Wi-Fi alone.
    chooseAndWait(choice(kUsbLan, "Ignore"));
    ASSERT_NE(report(kUsbLan), nullptr);
    EXPECT_EQ(report(kUsbLan)->classification, InterfaceClass::NotCounted);
    EXPECT_EQ(interfaceItem(kUsbLan)->title(), inspectorLine(*report(kUsbLan)));
    EXPECT_TRUE(choice(kUsbLan, "Ignore")->isChecked());
    EXPECT_FALSE(choice(kUsbLan, "Automatic")->isChecked());
    chooseAndWait(choice("usb0", "Ignore"));
    ASSERT_TRUE(storedOverrides());
    const auto ignore = plist::Value::string("ignore");
    EXPECT_EQ(*storedOverrides(),
              plist::Value::dictionary(
                  {{kUsbLan, ignore}, {"usb0", ignore}, {"wwan0", plist::Value::string("wired")}}));
    EXPECT_TRUE(delegate->lastCheckActions().empty());
    EXPECT_EQ(simOperations(simPath).size(), 2u) << "one more before the hotspot was ignored";

    // The VPN tunnel counted as wired: the rule acts again.
    chooseAndWait(choice("tun0", "Count as wired"));
    ASSERT_NE(report("tun0"), nullptr);
    EXPECT_EQ(report("tun0")->classification, InterfaceClass::Wired);
    EXPECT_EQ(simOperations(simPath).size(), 3u);
    EXPECT_TRUE(choice("tun0", "Count as wired")->isChecked());

    // Back to automatic: only the entry the menu did not make is left.
    chooseAndWait(choice("tun0", "Automatic"));
    chooseAndWait(choice(kUsbLan, "Automatic"));
    chooseAndWait(choice("usb0", "Automatic"));
    ASSERT_TRUE(storedOverrides());
    EXPECT_EQ(*storedOverrides(), kept);
    EXPECT_TRUE(choice(kUsbLan, "Automatic")->isChecked());
}

TEST_F(TrayMenuTest, ThePolicyLocksTheOverridesAndThePauseUntilItIsLifted) {
    using V = plist::Value;
    writePlist(policyPath(),
               {{"InterfaceOverrides", V::dictionary({{"docker0", V::string("ignore")}})},
                {"selectedInterfaceOption", V::string("0")}});
    defaults->setManagedPolicy(std::make_shared<ManagedPolicy>(
        policyPath(), [](const std::string&) {}, ::getuid()));
    launch();
    runCheck();

    // The administrator's word shows as checked; nothing can be chosen.
    EXPECT_TRUE(choice("docker0", "Ignore")->isChecked());
    for (HeadlessMenuItem* item : interfaces().items()) {
        if (!item || !item->submenu()) continue;
        for (HeadlessMenuItem* c : item->submenu()->items()) EXPECT_FALSE(c->isEnabled());
    }
    EXPECT_EQ(interfaces().items().back()->title(), "Set by your administrator");
    EXPECT_FALSE(delegate->setInterfaceOverride("tun0", InterfaceOverride::Wired));
    EXPECT_FALSE(storedOverrides());

    HeadlessMenuItem* pause = menu().item("Pause protection for 15 minutes");
    ASSERT_NE(pause, nullptr);
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_FALSE(menu().item("Pause protection for 1 hour")->isEnabled());
    pause->choose();
    delegate->pauseFromMenu(15min);  // a stale menu cannot get round it either
    loop.runPending();
    EXPECT_FALSE(delegate->protection().pause().isPaused());

    // Lifted: the next look at the menu opens everything again.
    ASSERT_EQ(::unlink(policyPath().c_str()), 0);
    menu().open();
    EXPECT_TRUE(pause->isEnabled());
    runCheck();
    EXPECT_TRUE(choice("docker0", "Ignore")->isEnabled());
    EXPECT_TRUE(choice("docker0", "Automatic")->isChecked());
    EXPECT_NE(interfaces().items().back()->title(), "Set by your administrator");
    // The user's own choice, undone, leaves no key behind.
    chooseAndWait(choice("docker0", "Ignore"));
    ASSERT_TRUE(storedOverrides());
    chooseAndWait(choice("docker0", "Automatic"));
    EXPECT_FALSE(storedOverrides());
}

TEST_F(TrayMenuTest, PausingFromTheMenuAsksForTheExitPasswordWhenOneIsSet) {
    launch();
    runCheck();
    ASSERT_EQ(simOperations(simPath).size(), 1u);
    HeadlessMenuItem* resume = menu().item("Resume");
    ASSERT_NE(resume, nullptr);
    EXPECT_TRUE(resume->isHidden());

    // No password: the pause starts at once and no rule acts.
    chooseAndWait(menu().item("Pause protection for 1 hour"));
    ProtectionPause& pause = delegate->protection().pause();
    ASSERT_TRUE(pause.pausedUntil());
    EXPECT_GT(*pause.pausedUntil(), Clock::system().wallNow() + 59min);
    EXPECT_FALSE(shell.pausePasswordWindow.isVisible());
    EXPECT_FALSE(resume->isHidden());
    EXPECT_EQ(icon(), "ww-warning-menubar.tif");
    EXPECT_EQ(simOperations(simPath).size(), 1u);

    chooseAndWait(resume);
    EXPECT_FALSE(pause.isPaused());
    EXPECT_TRUE(resume->isHidden());
    EXPECT_EQ(simOperations(simPath).size(), 2u) << "the rule acts again at once";

    // With an exit password the window asks first.
    setPref("EXIT_PASSWORD", "s3cret");
    menu().item("Pause protection for 15 minutes")->choose();
    EXPECT_TRUE(shell.pausePasswordWindow.isVisible());
    EXPECT_FALSE(pause.isPaused());
    for (const char* wrong : {"s3cre", "S3cret", "s3cret "}) {
        shell.pausePasswordField.type(wrong);
        EXPECT_FALSE(pause.isPaused()) << wrong;
    }
    EXPECT_TRUE(shell.pausePasswordWindow.isVisible());

    runCheck([this] { shell.pausePasswordField.type("s3cret"); });
    EXPECT_TRUE(pause.isPaused());
    EXPECT_FALSE(shell.pausePasswordWindow.isVisible());
    EXPECT_EQ(shell.pausePasswordField.stringValue(), "") << "the next pause asks afresh";
    ASSERT_TRUE(pause.pausedUntil());
    EXPECT_LT(*pause.pausedUntil(), Clock::system().wallNow() + 16min);
    EXPECT_EQ(shell.statusItem()->toolTip(),
              "Wirewatch: protection paused until " + localClockTime(*pause.pausedUntil()));
    EXPECT_FALSE(resume->isHidden());
    // Resuming needs no password.
    chooseAndWait(resume);
    EXPECT_FALSE(pause.isPaused());
    EXPECT_FALSE(shell.pausePasswordWindow.isVisible());
}

}  // namespace
}  // namespace ww::test
