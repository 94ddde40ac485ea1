// The settings tab's loading, controls and login-item reconciliation on the
// headless shell's controls, with a login-items list in memory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>

#include "app/ManagedPolicy.h"
#include "app/UserDefaults.h"
#include "menu/AboutWindow.h"
#include "platform/foundation/FileUtil.h"
#include "platform/headless/HeadlessShell.h"
#include "platform/linux/autostart/XdgAutostart.h"
#include "settings/ExitPasswordActions.h"
#include "settings/SettingsTab.h"
#include "tests/support/common_TestSupport.h"
#include "tests/support/settings_FakeLoginItems.h"

namespace ww::test {
namespace {

constexpr const char* kProgram = "/opt/wirewatch/bin/wirewatch";
constexpr const char* kSame =
    "Nothing to do at all as load on startup and default values are same..";
constexpr const char* kChange = "LoadONStartup and defaults are not same so need to change..";

class SettingsTabTest : public ::testing::Test {
  protected:
    SettingsTabTest() : store(dir.file("prefs.plist"), [](const std::string&) {}) {}

    SettingsTab& load() {
        SettingsTab::Options options;
        options.mainBundlePath = kProgram;
        options.console = [this](const std::string& line) { console.push_back(line); };
        options.isLocked = isLocked;
        tab = std::make_unique<SettingsTab>(shell.resources(), store, loginItems, options);
        tab->awakeFromNib();
        return *tab;
    }
    void set(const std::string& key, const std::string& value) {
        store.setObject(plist::Value::string(value), key);
        store.synchronize();
    }
    // What another process reading the file sees.
    std::optional<std::string> onDisk(const std::string& key) {
        return UserDefaults(store.path()).stringForKey(key);
    }
    std::string policyPath() { return dir.file("policy.plist"); }
    // The user sets a box to `state` and clicks it.
    static void click(HeadlessButton& box, int state) {
        box.setState(state);
        box.performClick();
    }
    // The administrator's policy file, locking its keys through the store.
    void lockBy(const plist::Value& policy) {
        ASSERT_TRUE(file::writeAtomically(policyPath(), plist::toXml(policy), 0644));
        store.setManagedPolicy(std::make_shared<ManagedPolicy>(
            policyPath(), [](const std::string&) {}, ::getuid()));
        isLocked = [this](const std::string& key) { return store.isManaged(key); };
    }

    TempDir dir;
    dispatch::RunLoop loop;
    HeadlessShell shell{loop};
    UserDefaults store;
    FakeLoginItems loginItems;
    SettingsTab::KeyLock isLocked;
    std::vector<std::string> console;
    std::unique_ptr<SettingsTab> tab;
};

TEST_F(SettingsTabTest, AnEmptyStoreIsFilledWithStringsOnDisk) {
    load();
    EXPECT_EQ(onDisk("loadOnStartUp"), "0");
    EXPECT_EQ(onDisk("enableWireless"), "1");
    EXPECT_EQ(onDisk("selectedInterfaceOption"), "0");
    auto stored = UserDefaults(store.path()).objectForKey("selectedInterfaceOption");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->stringValue());  // a string, not a number
    // The stored rule 0 shows as rule 0, not as "no rule".
    EXPECT_EQ(shell.interfaceOptions.indexOfSelectedItem(), 1);
    EXPECT_EQ(shell.interfaceOptions.tagOfItem(1), 0);
    EXPECT_EQ(shell.loadOnStartup.state(), 0);
    EXPECT_EQ(shell.enableWireless.state(), 1);
    EXPECT_EQ(console, std::vector<std::string>{kSame});
    EXPECT_EQ(loginItems.inserts + loginItems.removals, 0);
}

TEST_F(SettingsTabTest, StoredRulesSelectTheirItems) {
    // Every value but 0 and 1 means no rule and shows the no-rule item.
    const std::pair<const char*, int> cases[] = {{"-1", 0}, {"0", 1},   {"1", 2},          {"2", 0},
                                                 {"-7", 0}, {"abc", 1}, {"99999999999", 0}};
    for (const auto& [value, index] : cases) {
        SCOPED_TRACE(value);
        set("selectedInterfaceOption", value);
        shell.interfaceOptions.selectItemAtIndex(2);
        load();
        EXPECT_EQ(shell.interfaceOptions.indexOfSelectedItem(), index);
        EXPECT_EQ(onDisk("selectedInterfaceOption"), value);  // loading never rewrites it
    }
}

TEST_F(SettingsTabTest, ControlsWriteStringsAtOnce) {
    load();
    shell.interfaceOptions.choose(0);
    EXPECT_EQ(onDisk("selectedInterfaceOption"), "-1");
    shell.interfaceOptions.choose(2);
    EXPECT_EQ(onDisk("selectedInterfaceOption"), "1");
    click(shell.enableWireless, 0);
    EXPECT_EQ(onDisk("enableWireless"), "0");
    click(shell.enableWireless, 1);
    EXPECT_EQ(onDisk("enableWireless"), "1");
    // Without a login-items list the start-at-login box changes nothing.
    loginItems.unavailable = true;
    click(shell.loadOnStartup, 1);
    EXPECT_EQ(onDisk("loadOnStartUp"), "0");
    EXPECT_EQ(loginItems.inserts, 0);
}

TEST_F(SettingsTabTest, BeforeLoadingNothingIsStored) {
    SettingsTab unloaded(shell.resources(), store, loginItems,
                         {kProgram, [this](const std::string& l) { console.push_back(l); }, {}});
    unloaded.setUserSetting("1", "enableWireless");
    EXPECT_EQ(onDisk("enableWireless"), std::nullopt);
    EXPECT_EQ(console, std::vector<std::string>{
                           "Unable to save settings. Check console log files for details."});
}

// The lock function main() hands the tab: the store's own view of the policy.
TEST_F(SettingsTabTest, TheAdministratorsPolicyLocksExactlyItsKeys) {
    plist::Value policy = plist::Value::dictionary();
    policy.set("enableWireless", plist::Value::string("0"));
    policy.set("selectedInterfaceOption", plist::Value::string("1"));
    policy.set("NotifyWiFiCut", plist::Value::boolean(true));
    lockBy(policy);
    set("enableWireless", "1");
    store.setObject(plist::Value::boolean(true), "NotifyWarningState");
    store.synchronize();
    load();
    EXPECT_TRUE(shell.loadOnStartup.isEnabled());
    EXPECT_EQ(shell.loadOnStartup.note(), "");
    EXPECT_FALSE(shell.enableWireless.isEnabled());
    EXPECT_EQ(shell.enableWireless.note(), "Set by your administrator");
    EXPECT_EQ(shell.enableWireless.state(), 0);  // the policy's value, not the user's
    EXPECT_FALSE(shell.interfaceOptions.isEnabled());
    EXPECT_EQ(shell.interfaceOptions.indexOfSelectedItem(), 2);
    shell.interfaceOptions.choose(0);  // the user cannot choose
    EXPECT_EQ(onDisk("selectedInterfaceOption"), std::nullopt);
    // A notification box: stored on, shown on; locked, the policy's value.
    EXPECT_EQ(shell.notifyWarningState.state(), 1);
    EXPECT_TRUE(shell.notifyWarningState.isEnabled());
    EXPECT_EQ(shell.notifyWiFiCut.state(), 1);
    EXPECT_FALSE(shell.notifyWiFiCut.isEnabled());
    EXPECT_EQ(shell.notifyWiFiCut.note(), "Set by your administrator");
    click(shell.notifyWiFiCut, 0);
    EXPECT_FALSE(UserDefaults(store.path()).objectForKey("NotifyWiFiCut"));

    // The policy changes; the tab looks again.
    policy.erase("enableWireless");
    ASSERT_TRUE(file::writeAtomically(policyPath(), plist::toXml(policy), 0644));
    tab->applyLocks();
    EXPECT_TRUE(shell.enableWireless.isEnabled());
    EXPECT_EQ(shell.enableWireless.note(), "");
    EXPECT_FALSE(shell.interfaceOptions.isEnabled());
    // Without a lock function nothing is ever locked.
    isLocked = nullptr;
    load();
    EXPECT_TRUE(shell.interfaceOptions.isEnabled());
    EXPECT_EQ(shell.interfaceOptions.note(), "");
}

TEST_F(SettingsTabTest, NotificationBoxesStartOffAndWriteBooleans) {
    struct Box {
        HeadlessButton& button;
        const char* key;
    };
    const Box boxes[] = {{shell.notifyWiFiCut, "NotifyWiFiCut"},
                         {shell.notifyWarningState, "NotifyWarningState"},
                         {shell.notifyHotspotDisabled, "NotifyHotspotDisabled"},
                         {shell.notifyFlapDamping, "NotifyFlapDamping"}};
    load();
    for (const Box& b : boxes) {
        SCOPED_TRACE(b.key);
        EXPECT_EQ(b.button.state(), 0);
        EXPECT_FALSE(UserDefaults(store.path()).objectForKey(b.key));  // nothing written on load
        // Each box writes its own key, and only that one.
        click(b.button, 1);
        for (const Box& other : boxes) {
            EXPECT_EQ(UserDefaults(store.path()).boolForKey(other.key), &other == &b) << other.key;
        }
        auto stored = UserDefaults(store.path()).objectForKey(b.key);
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->type(), plist::Value::Type::Boolean);
        click(b.button, 0);
        EXPECT_FALSE(UserDefaults(store.path()).boolForKey(b.key));
    }
}

// The tab over the real autostart folder: our entry comes and goes; other
// programs' entries stay byte for byte, even where their path merely starts
// with ours.
TEST_F(SettingsTabTest, StartAtLoginOnTheAutostartFolder) {
    std::string folder = dir.file("autostart");
    file::makeDirectories(folder);
    const std::string head = "[Desktop Entry]\nType=Application\nExec=";
    const std::map<std::string, std::string> others = {
        {"other.desktop", head + "/usr/bin/other --x\n"},
        {"helper.desktop", head + kProgram + "-helper --x\n"},
        {"inside.desktop", head + kProgram + "/helper\n"},
        {"sibling.desktop", head + "/opt/wirewatch/bin/other\n"},
        {"broken.desktop", "[Desktop Entry]\nExec=\"/unterminated\n"}};
    for (const auto& [name, text] : others) {
        ASSERT_TRUE(file::writeAtomically(folder + "/" + name, text, 0644));
    }
    auto expectOnlyOthersLeft = [&] {
        EXPECT_FALSE(file::readAll(folder + "/wirewatch.desktop"));
        for (const auto& [name, text] : others) EXPECT_EQ(file::readAll(folder + "/" + name), text);
    };
    xdg::XdgAutostart autostart(folder, "");
    set("loadOnStartUp", "1");
    SettingsTab realTab(shell.resources(), store, autostart,
                        {kProgram, [this](const std::string& l) { console.push_back(l); }, {}});
    realTab.awakeFromNib();
    EXPECT_EQ(autostart.create()->resolve("wirewatch.desktop", 3), kProgram);
    EXPECT_EQ(shell.loadOnStartup.state(), 1);
    realTab.awakeFromNib();  // the next launch: the entry is there, nothing changes
    EXPECT_EQ(console, (std::vector<std::string>{kChange, kSame}));
    EXPECT_EQ(autostart.create()->snapshot().size(), 6u);
    // Turning it on while present adds no second entry but still writes "1".
    set("loadOnStartUp", "0");
    click(shell.loadOnStartup, 1);
    EXPECT_EQ(autostart.create()->snapshot().size(), 6u);
    EXPECT_EQ(onDisk("loadOnStartUp"), "1");
    click(shell.loadOnStartup, 0);
    expectOnlyOthersLeft();
    EXPECT_EQ(onDisk("loadOnStartUp"), "0");

    // A value other than 0 and 1 never matches what is present: reconciling removes.
    ASSERT_TRUE(autostart.create()->insertItemAtFront(kProgram));
    set("loadOnStartUp", "2");
    realTab.awakeFromNib();
    expectOnlyOthersLeft();

    // Installed under a folder whose name is not UTF-8: one entry, found again
    // at the next launch, and removed when turned off.
    const std::string odd = "/opt/caf\xe9/bin/wirewatch";
    set("loadOnStartUp", "1");
    SettingsTab oddTab(shell.resources(), store, autostart, {odd, [](const std::string&) {}, {}});
    oddTab.awakeFromNib();
    oddTab.awakeFromNib();
    EXPECT_EQ(autostart.create()->snapshot().size(), 6u);
    ASSERT_EQ(autostart.create()->resolve("wirewatch.desktop", 3), odd);
    click(shell.loadOnStartup, 0);
    expectOnlyOthersLeft();
}

// The exit-password buttons and windows on the headless shell, so that a build
// without the Qt face tests them too: what is stored, what each refusal says.
TEST_F(SettingsTabTest, ExitPasswordIsSetChangedAndClearedWithAnAlertForEachRefusal) {
    ExitPasswordActions actions(shell, store);
    using Said = std::pair<std::string, std::string>;
    // Every alert so far, each a critical one.
    auto said = [&] {
        std::vector<Said> all;
        for (const auto& a : shell.alerts()) {
            EXPECT_EQ(a.style, 2);
            all.emplace_back(a.message, a.informativeText);
        }
        return all;
    };
    auto change = [&](const char* old, const char* fresh, const char* confirm) {
        shell.oldPasswordTextField.setStringValue(old);
        shell.newPasswordTextField.setStringValue(fresh);
        shell.confirmNewPasswordTextField.setStringValue(confirm);
        shell.saveChangedPasswordButton.performClick();
    };
    const std::string key = "a\xF0\x9F\x94\x91";
    const char* tooShort = "Password should be at least three characters long.";

    shell.setupPasswordButton.performClick();
    EXPECT_TRUE(shell.setupPasswordWindow.isVisible());
    // Two characters, though four bytes, are too few.
    shell.setupNewPasswordTextField.setStringValue("\xC3\xA9\xC3\xA9");
    shell.saveNewPasswordButton.performClick();
    EXPECT_EQ(said(), (std::vector<Said>{{"Invalid Password", tooShort}}));
    EXPECT_EQ(onDisk("EXIT_PASSWORD"), std::nullopt);
    EXPECT_TRUE(shell.setupPasswordWindow.isVisible());
    // One character beyond the basic plane counts two, as the platform counts.
    shell.setupNewPasswordTextField.setStringValue(key);
    shell.saveNewPasswordButton.performClick();
    EXPECT_EQ(onDisk("EXIT_PASSWORD"), key);
    EXPECT_FALSE(shell.setupPasswordWindow.isVisible());
    EXPECT_EQ(shell.setupPasswordButton.tag(), 1);
    EXPECT_EQ(shell.setupPasswordButton.title(), "Change Exit Password");

    // The same button now opens the change window, its fields emptied.
    shell.oldPasswordTextField.setStringValue("left over");
    shell.setupPasswordButton.performClick();
    EXPECT_TRUE(shell.changePasswordWindow.isVisible());
    EXPECT_EQ(shell.oldPasswordTextField.stringValue(), "");
    struct Attempt {
        const char *old, *fresh, *confirm, *message, *information;
    };
    const Attempt refused[] = {
        {"wrong", "xyz", "xyz", "Invalid Password", "Old Password is not valid."},
        {key.c_str(), "xyz", "xyw", "Password Mismatch", "New & Confirm Password should be same."},
        {key.c_str(), "xy", "xy", "Invalid New Password", tooShort},
    };
    for (const Attempt& a : refused) {
        SCOPED_TRACE(a.message);
        size_t before = shell.alerts().size();
        change(a.old, a.fresh, a.confirm);
        ASSERT_EQ(shell.alerts().size(), before + 1);
        EXPECT_EQ(said().back(), Said(a.message, a.information));
        EXPECT_EQ(onDisk("EXIT_PASSWORD"), key);
        EXPECT_TRUE(shell.changePasswordWindow.isVisible());
    }
    change(key.c_str(), "xyz", "xyz");
    EXPECT_EQ(onDisk("EXIT_PASSWORD"), "xyz");
    EXPECT_FALSE(shell.changePasswordWindow.isVisible());

    // Clearing asks for the old password; cleared is the empty string.
    shell.setupPasswordButton.performClick();
    shell.oldPasswordTextField.setStringValue("xy");
    shell.resetPasswordButton.performClick();
    EXPECT_EQ(said().back(), Said("Invalid Password", "Incorrect Old Password."));
    EXPECT_EQ(onDisk("EXIT_PASSWORD"), "xyz");
    shell.oldPasswordTextField.setStringValue("xyz");
    shell.resetPasswordButton.performClick();
    EXPECT_EQ(onDisk("EXIT_PASSWORD"), "");
    EXPECT_EQ(shell.setupPasswordButton.tag(), 0);
    EXPECT_EQ(shell.setupPasswordButton.title(), "Setup Exit Password");
    EXPECT_FALSE(shell.changePasswordWindow.isVisible());
    // Cleared, a change is not saved, and says nothing.
    size_t count = shell.alerts().size();
    shell.saveChangedPasswordButton.performClick();  // "xyz" twice still in the fields
    EXPECT_EQ(onDisk("EXIT_PASSWORD"), "");
    EXPECT_EQ(shell.alerts().size(), count);
    actions.resetExitPassword();  // nothing left to clear
    EXPECT_EQ(said().back(), Said("Invalid Password", "Please confirm old password to clear it."));
}

TEST(AboutWindowTest, VersionRightsAndSupportLink) {
    dispatch::RunLoop loop;
    HeadlessShell shell{loop};
    int year = 2031;
    AboutWindow about(shell, {"1.4", "27", "help@example.org", [&] { return year; }});
    about.awakeFromNib();
    EXPECT_EQ(shell.appVersion.stringValue(), "Version 1.4 (27)");
    EXPECT_EQ(shell.appCopyRightText.stringValue(),
              "\u00A9 2031 The Wirewatch developers. All rights reserved.");
    // Filled once: a new year later does not change what the window says.
    year = 2032;
    shell.aboutWindow.makeKeyAndOrderFront();
    EXPECT_NE(shell.appCopyRightText.stringValue().find("2031"), std::string::npos);
    shell.supportEmailButton.performClick();
    EXPECT_EQ(shell.openedURLs(), std::vector<std::string>{"mailto:help@example.org"});
    EXPECT_GE(AboutWindow::systemYear(), 2024);
}

}  // namespace
}  // namespace ww::test
