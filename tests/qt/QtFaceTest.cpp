// The desktop face on real Qt widgets (offscreen): the exit-password windows,
// the settings tab, the status menu and icon, alerts, the timer and the main
// thread. Widgets are found by their object names, as a user finds them by
// their labels.

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <memory>
#include <thread>

#include "app/UserDefaults.h"
#include "app/WindowResourcesLoader.h"
#include "app/WirewatchAppDelegate.h"
#include "platform/qt/QtShell.h"
#include "platform/sim/SimWifiInterface.h"
#include "tests/support/app_TestSupport.h"
#include "tests/support/settings_FakeLoginItems.h"

using namespace ww;

namespace {

constexpr const char* kProgram = "/opt/wirewatch/bin/wirewatch";

struct Alert {
    QString text, informativeText;
    QMessageBox::Icon icon;
};

// One agent on the Qt shell: delegate, window resources, preferences in a
// temporary folder, an inventory the test sets.
struct Agent {
    explicit Agent(std::function<void(UserDefaults&)> before = {},
                   SettingsTab::KeyLock isLocked = {}) {
        defaults = std::make_unique<UserDefaults>(dir.file("preferences.plist"),
                                                  [](const std::string&) {});
        if (before) before(*defaults);
        test::writeFile(dir.file("wifi.plist"), plist::toXml(test::simWifi(true, true)));
        wifi = sim::makeSimWiFiClient(dir.file("wifi.plist"));
        shell.setAlertAnswerer([this](QMessageBox& box) {
            alerts.push_back({box.text(), box.informativeText(), box.icon()});
        });
        AgentConfig config;
        config.installLoggers = false;
        config.defaultsResourcePath = std::string(WW_SOURCE_ROOT) + "/resources/Defaults.plist";
        config.commands.airport = "printf '     agrCtlRSSI: -55\\n            MCS: 9\\n'";
        config.inventory = [this](NetworkState& s) {
            ++inventories;
            s.setInterfaceReports(reports);
            s.viaEthernet = wired.load();
            s.viaWifi = wireless.load();
            if (wired) {
                s.unknownInterfaceIP.set(std::string("IP address: 198.51.100.7"));
                s.ethernetMacAddress.set(std::string("MAC address: A8:20:66:31:95:57"));
                s.ethernetInterfaceName.set(std::string("en5"));
                s.unknonInterfaceName.set(std::string("USB Ethernet"));
            }
        };
        delegate = std::make_unique<WirewatchAppDelegate>(shell, *defaults, *wifi, config);
        WindowResourcesLoader::Options options;
        options.settings = {kProgram, [this](const std::string& l) { console.push_back(l); },
                            std::move(isLocked)};
        options.about = {"1.4", "27", "help@example.org", [] { return 2031; }};
        loader = std::make_unique<WindowResourcesLoader>(shell, *defaults, loginItems, options);
        loader->load(*delegate);
        delegate->applicationDidFinishLaunching();
        QCoreApplication::processEvents();
    }
    ~Agent() {
        if (delegate) delegate->waitForCheckThread(std::chrono::seconds(10));
        shell.endMainThread();
    }

    template <typename T>
    T* find(QWidget* window, const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        if (!w) qFatal("no widget %s", name);
        return w;
    }
    std::optional<std::string> stored(const std::string& key) {
        return UserDefaults(defaults->path()).stringForKey(key);
    }
    void setPassword(const std::string& password) {
        defaults->setObject(plist::Value::string(password), "EXIT_PASSWORD");
        defaults->synchronize();
    }
    QAction* menuAction(const QString& text) {
        auto* menu = static_cast<qt::QtMenu*>(delegate->statusMenu());
        for (QAction* a : menu->menu()->actions()) {
            if (a->text() == text) return a;
        }
        qFatal("no menu item");
    }
    // Runs one check to its end on the Qt event loop.
    bool runCheck() {
        bool finished = false;
        delegate->setCheckFinishedHandler([&] { finished = true; });
        delegate->checkInterfaceStatus();
        bool ok = QTest::qWaitFor([&] { return finished; }, 20000);
        delegate->setCheckFinishedHandler(nullptr);
        return ok && delegate->waitForCheckThread(std::chrono::seconds(10));
    }

    test::TempDir dir;
    qt::QtShell shell;
    std::unique_ptr<UserDefaults> defaults;
    std::unique_ptr<WiFiClient> wifi;
    test::FakeLoginItems loginItems;
    std::vector<std::string> console;
    std::vector<Alert> alerts;
    std::atomic<bool> wired{false}, wireless{true};
    std::atomic<int> inventories{0};
    // What the inventory reports of each interface (set between checks).
    InterfaceReports reports;
    std::unique_ptr<WirewatchAppDelegate> delegate;
    std::unique_ptr<WindowResourcesLoader> loader;
};

void type(QLineEdit* field, const QString& text) {
    field->setFocus();
    QTest::keyClicks(field, text);
}

void replaceText(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    type(field, text);
}

}  // namespace

class QtFaceTest : public QObject {
    Q_OBJECT

  public slots:
    void openMail(const QUrl& url) { m_openedUrls.append(url); }

  private slots:
    void firstPasswordNeedsThreeCharacters();
    void spacesAreSignificant();
    void exitWindowEndsOnTheKeystrokeThatMatches();
    void quitWithoutPasswordEndsAtOnce();
    void changingChecksOldLengthAndConfirmation();
    void clearingNeedsTheOldPassword();
    void withAnEmptyStoredValueChangeDoesNothingAndClearAlerts();
    void settingsTabFillsAndWritesStrings();
    void settingsTabRulesWithoutAnItemShowNoRule();
    void settingsTabKeepsTheLoginItem();
    void lockedKeysDisableTheirControls();
    void notificationBoxesWriteTheirKindAndLock();
    void menuGroupsSwitchOnTheRealActions();
    void interfacesSubmenuAndPauseOnTheRealActions();
    void iconSwitchesInOrderAndShowsTheAlternateWhileOpen();
    void iconsDifferInShapeNotOnlyColour();
    void timerFiresWhileTheMenuIsOpen();
    void mainThreadRunsInOrderAndWaits();
    void aboutWindowShowsVersionAndOpensMail();

  private:
    QList<QUrl> m_openedUrls;
};

void QtFaceTest::firstPasswordNeedsThreeCharacters() {
    Agent a;
    a.delegate->showHideWindow();
    QWidget* settings = a.shell.settingsWindow();
    QVERIFY(settings->isVisible());
    auto* button = a.find<QPushButton>(settings, "setupPasswordButton");
    QCOMPARE(button->text(), QStringLiteral("Setup Exit Password"));
    QTest::mouseClick(button, Qt::LeftButton);
    QWidget* setup = a.shell.setupPasswordWindow();
    QVERIFY(setup->isVisible());
    auto* field = a.find<QLineEdit>(setup, "setupNewPasswordTextField");
    QCOMPARE(field->echoMode(), QLineEdit::Password);
    auto* save = a.find<QPushButton>(setup, "saveNewPasswordButton");

    type(field, "ab");
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(a.alerts.size(), size_t(1));
    QCOMPARE(a.alerts[0].text, QStringLiteral("Invalid Password"));
    QCOMPARE(a.alerts[0].informativeText,
             QStringLiteral("Password should be at least three characters long."));
    QCOMPARE(a.alerts[0].icon, QMessageBox::Critical);
    QVERIFY(!a.stored("EXIT_PASSWORD"));
    QVERIFY(setup->isVisible());
    QCOMPARE(field->text(), QStringLiteral("ab"));

    type(field, "c");
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(a.alerts.size(), size_t(1));
    QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>("abc"));
    QVERIFY(!setup->isVisible());
    QCOMPARE(button->text(), QStringLiteral("Change Exit Password"));
    QCOMPARE(a.shell.resources().setupPasswordButton->tag(), 1);

    // The next click opens the change/clear window with every field empty.
    QWidget* change = a.shell.changePasswordWindow();
    a.find<QLineEdit>(change, "oldPasswordTextField")->setText("left over");
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(change->isVisible());
    QVERIFY(!setup->isVisible());
    for (const char* name :
         {"oldPasswordTextField", "NewPasswordTextField", "confirmNewPasswordTextField"}) {
        QCOMPARE(a.find<QLineEdit>(change, name)->text(), QString());
    }

    // A password of characters beyond the basic plane counts two units each.
    QCOMPARE(ExitPasswordActions::passwordLength("\xF0\x9F\x94\x91"), size_t(2));
    QCOMPARE(ExitPasswordActions::passwordLength("\xC3\xA9\xC3\xA9\xC3\xA9"), size_t(3));
}

void QtFaceTest::spacesAreSignificant() {
    Agent a;
    a.loader->exitPasswordActions().setupExitPasswordButtonDidClicked();
    auto* field = a.find<QLineEdit>(a.shell.setupPasswordWindow(), "setupNewPasswordTextField");
    auto* save = a.find<QPushButton>(a.shell.setupPasswordWindow(), "saveNewPasswordButton");
    type(field, "   ");
    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(a.alerts.empty());
    QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>("   "));

    a.setPassword(" ab");
    a.shell.terminate();
    auto* exitField = a.find<QLineEdit>(a.shell.exitPasswordWindow(), "passwordField");
    type(exitField, "ab");
    QVERIFY(!a.shell.terminated());
    replaceText(exitField, " ab");
    QVERIFY(a.shell.terminated());
}

void QtFaceTest::exitWindowEndsOnTheKeystrokeThatMatches() {
    Agent a([](UserDefaults& d) { d.setObject(plist::Value::string("abc"), "EXIT_PASSWORD"); });
    QWidget* exitWindow = a.shell.exitPasswordWindow();
    QVERIFY(exitWindow->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(a.shell.resources().setupPasswordButton->tag(), 1);

    // The menu's quit item goes through the exit gate.
    a.menuAction("Quit Wirewatch")->trigger();
    QVERIFY(!a.shell.terminated());
    QVERIFY(exitWindow->isVisible());
    auto* field = a.find<QLineEdit>(exitWindow, "passwordField");

    type(field, "ABC");  // letter case differs
    QVERIFY(!a.shell.terminated());
    // Closed and asked again: the window comes back as it was left.
    exitWindow->close();
    a.menuAction("Quit Wirewatch")->trigger();
    QVERIFY(exitWindow->isVisible());
    QCOMPARE(field->text(), QStringLiteral("ABC"));

    QString textAtQuit;
    int quits = 0;
    a.shell.setWillTerminateHandler([&] {
        ++quits;
        textAtQuit = field->text();
    });
    replaceText(field, "abcdef");
    QCOMPARE(quits, 1);
    QCOMPARE(textAtQuit, QStringLiteral("abc"));
}

void QtFaceTest::quitWithoutPasswordEndsAtOnce() {
    Agent a;
    a.menuAction("Quit Wirewatch")->trigger();
    QVERIFY(a.shell.terminated());
    QVERIFY(!a.shell.exitPasswordWindow()->isVisible());
}

void QtFaceTest::changingChecksOldLengthAndConfirmation() {
    Agent a([](UserDefaults& d) { d.setObject(plist::Value::string("old1"), "EXIT_PASSWORD"); });
    a.delegate->showHideWindow();
    QTest::mouseClick(a.find<QPushButton>(a.shell.settingsWindow(), "setupPasswordButton"),
                      Qt::LeftButton);
    QWidget* change = a.shell.changePasswordWindow();
    QVERIFY(change->isVisible());
    auto* oldField = a.find<QLineEdit>(change, "oldPasswordTextField");
    auto* newField = a.find<QLineEdit>(change, "NewPasswordTextField");
    auto* confirm = a.find<QLineEdit>(change, "confirmNewPasswordTextField");
    auto* save = a.find<QPushButton>(change, "saveChangedPasswordButton");
    struct Case {
        QString old, fresh, confirmation, message, informative;
    };
    const Case refusals[] = {
        {"wrong", "", "", "Invalid Password", "Old Password is not valid."},
        {"OLD1", "abcd", "abcd", "Invalid Password", "Old Password is not valid."},
        {"old1", "abcd", "abce", "Password Mismatch", "New & Confirm Password should be same."},
        {"old1", "ab", "ab", "Invalid New Password",
         "Password should be at least three characters long."},
        {"old1", "ab", "xyz", "Invalid New Password",
         "Password should be at least three characters long."},
    };
    for (const auto& c : refusals) {
        replaceText(oldField, c.old);
        replaceText(newField, c.fresh);
        replaceText(confirm, c.confirmation);
        a.alerts.clear();
        QTest::mouseClick(save, Qt::LeftButton);
        QCOMPARE(a.alerts.size(), size_t(1));
        QCOMPARE(a.alerts[0].text, c.message);
        QCOMPARE(a.alerts[0].informativeText, c.informative);
        QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>("old1"));
        QVERIFY(change->isVisible());
        QCOMPARE(confirm->text(), c.confirmation);
    }
    // The same password again is accepted; so is a new one.
    replaceText(oldField, "old1");
    replaceText(newField, "new password");
    replaceText(confirm, "new password");
    a.alerts.clear();
    QTest::mouseClick(save, Qt::LeftButton);
    QVERIFY(a.alerts.empty());
    QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>("new password"));
    QVERIFY(!change->isVisible());
    QCOMPARE(a.shell.resources().setupPasswordButton->tag(), 1);
}

void QtFaceTest::clearingNeedsTheOldPassword() {
    Agent a([](UserDefaults& d) { d.setObject(plist::Value::string("secret"), "EXIT_PASSWORD"); });
    a.loader->exitPasswordActions().setupExitPasswordButtonDidClicked();
    QWidget* change = a.shell.changePasswordWindow();
    auto* oldField = a.find<QLineEdit>(change, "oldPasswordTextField");
    auto* clear = a.find<QPushButton>(change, "resetPasswordButton");
    type(oldField, "Secret");
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(a.alerts.size(), size_t(1));
    QCOMPARE(a.alerts[0].informativeText, QStringLiteral("Incorrect Old Password."));
    QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>("secret"));

    replaceText(oldField, "secret");
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(a.alerts.size(), size_t(1));
    QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>(""));  // kept, empty
    QVERIFY(!change->isVisible());
    auto* button = a.find<QPushButton>(a.shell.settingsWindow(), "setupPasswordButton");
    QCOMPARE(button->text(), QStringLiteral("Setup Exit Password"));
    QCOMPARE(a.shell.resources().setupPasswordButton->tag(), 0);
    a.menuAction("Quit Wirewatch")->trigger();
    QVERIFY(a.shell.terminated());
}

void QtFaceTest::withAnEmptyStoredValueChangeDoesNothingAndClearAlerts() {
    Agent a([](UserDefaults& d) { d.setObject(plist::Value::string(""), "EXIT_PASSWORD"); });
    a.loader->exitPasswordActions().changePasswordButtonDidClicked();
    QWidget* change = a.shell.changePasswordWindow();
    replaceText(a.find<QLineEdit>(change, "NewPasswordTextField"), "abcd");
    replaceText(a.find<QLineEdit>(change, "confirmNewPasswordTextField"), "abcd");
    QTest::mouseClick(a.find<QPushButton>(change, "saveChangedPasswordButton"), Qt::LeftButton);
    QVERIFY(a.alerts.empty());
    QVERIFY(change->isVisible());
    QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>(""));
    QTest::mouseClick(a.find<QPushButton>(change, "resetPasswordButton"), Qt::LeftButton);
    QCOMPARE(a.alerts.size(), size_t(1));
    QCOMPARE(a.alerts[0].text, QStringLiteral("Invalid Password"));
    QCOMPARE(a.alerts[0].informativeText,
             QStringLiteral("Please confirm old password to clear it."));
}

void QtFaceTest::settingsTabFillsAndWritesStrings() {
    Agent a;
    QCOMPARE(a.stored("loadOnStartUp"), std::optional<std::string>("0"));
    QCOMPARE(a.stored("enableWireless"), std::optional<std::string>("1"));
    QCOMPARE(a.stored("selectedInterfaceOption"), std::optional<std::string>("0"));
    QWidget* settings = a.shell.settingsWindow();
    a.delegate->showHideWindow();
    auto* rule = a.find<QComboBox>(settings, "interfaceOptions");
    QCOMPARE(rule->count(), 3);
    QCOMPARE(rule->currentIndex(), 1);  // rule 0, as stored
    auto* wifiBack = a.find<QCheckBox>(settings, "enableWireless");
    QVERIFY(wifiBack->isChecked());
    QVERIFY(!a.find<QCheckBox>(settings, "loadOnStartup")->isChecked());

    // The user picks "no rule" with the keyboard: tag -1 is stored as "-1".
    rule->setFocus();
    QTest::keyClick(rule, Qt::Key_Up);
    QCOMPARE(rule->currentIndex(), 0);
    QCOMPARE(a.stored("selectedInterfaceOption"), std::optional<std::string>("-1"));
    QTest::keyClick(rule, Qt::Key_End);
    QCOMPARE(a.stored("selectedInterfaceOption"), std::optional<std::string>("1"));

    QTest::mouseClick(wifiBack, Qt::LeftButton);
    QCOMPARE(a.stored("enableWireless"), std::optional<std::string>("0"));
    QTest::mouseClick(wifiBack, Qt::LeftButton);
    QCOMPARE(a.stored("enableWireless"), std::optional<std::string>("1"));
}

void QtFaceTest::settingsTabRulesWithoutAnItemShowNoRule() {
    for (const char* value : {"2", "-1", "1"}) {
        Agent a([&](UserDefaults& d) {
            d.setObject(plist::Value::string(value), "selectedInterfaceOption");
        });
        auto* rule = a.find<QComboBox>(a.shell.settingsWindow(), "interfaceOptions");
        int expected = std::string(value) == "1" ? 2 : 0;
        QCOMPARE(rule->currentIndex(), expected);
        QCOMPARE(a.stored("selectedInterfaceOption"), std::optional<std::string>(value));
    }
}

void QtFaceTest::settingsTabKeepsTheLoginItem() {
    test::FakeLoginItems* items = nullptr;
    Agent a([](UserDefaults& d) { d.setObject(plist::Value::string("1"), "loadOnStartUp"); });
    items = &a.loginItems;
    // Wanted and missing at load: added, at the front.
    QCOMPARE(items->inserts, 1);
    QCOMPARE(items->paths(), std::vector<std::string>{kProgram});
    QCOMPARE(a.console, std::vector<std::string>{
                            "LoadONStartup and defaults are not same so need to change.."});
    a.delegate->showHideWindow();
    auto* box = a.find<QCheckBox>(a.shell.settingsWindow(), "loadOnStartup");
    QVERIFY(box->isChecked());

    // Off: only the program's own item goes; another program's stays, even one
    // whose path starts with ours.
    items->entries.push_back({"helper", std::string(kProgram) + "-helper"});
    items->entries.push_back({"other", "/usr/bin/other"});
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(items->paths(),
             (std::vector<std::string>{std::string(kProgram) + "-helper", "/usr/bin/other"}));
    QCOMPARE(a.stored("loadOnStartUp"), std::optional<std::string>("0"));
    // On again, twice over: one item.
    QTest::mouseClick(box, Qt::LeftButton);
    a.loader->settingsTab().toggleLoadOnStartup();
    QCOMPARE(items->paths(), (std::vector<std::string>{kProgram, std::string(kProgram) + "-helper",
                                                        "/usr/bin/other"}));
    QCOMPARE(a.stored("loadOnStartUp"), std::optional<std::string>("1"));
}

void QtFaceTest::lockedKeysDisableTheirControls() {
    Agent a({}, [](const std::string& key) { return key == "enableWireless"; });
    QWidget* settings = a.shell.settingsWindow();
    a.delegate->showHideWindow();
    auto* box = a.find<QCheckBox>(settings, "enableWireless");
    auto* note = a.find<QLabel>(settings, "enableWirelessNote");
    QVERIFY(!box->isEnabled());
    QVERIFY(note->isVisible());
    QCOMPARE(note->text(), QStringLiteral("Set by your administrator"));
    QVERIFY(a.find<QComboBox>(settings, "interfaceOptions")->isEnabled());
    QVERIFY(!a.find<QLabel>(settings, "interfaceOptionsNote")->isVisible());
    QTest::mouseClick(box, Qt::LeftButton);
    QCOMPARE(a.stored("enableWireless"), std::optional<std::string>("1"));
}

void QtFaceTest::notificationBoxesWriteTheirKindAndLock() {
    Agent a({}, [](const std::string& key) { return key == "NotifyFlapDamping"; });
    QWidget* settings = a.shell.settingsWindow();
    a.delegate->showHideWindow();
    auto* cut = a.find<QCheckBox>(settings, "notifyWiFiCut");
    QVERIFY(cut->isEnabled());
    QVERIFY(!cut->isChecked());
    QTest::mouseClick(cut, Qt::LeftButton);
    QVERIFY(cut->isChecked());
    QVERIFY(UserDefaults(a.defaults->path()).boolForKey("NotifyWiFiCut"));
    QVERIFY(!UserDefaults(a.defaults->path()).boolForKey("NotifyWarningState"));
    QTest::mouseClick(cut, Qt::LeftButton);
    QVERIFY(!UserDefaults(a.defaults->path()).boolForKey("NotifyWiFiCut"));

    auto* damping = a.find<QCheckBox>(settings, "notifyFlapDamping");
    QVERIFY(!damping->isEnabled());
    QCOMPARE(a.find<QLabel>(settings, "notifyFlapDampingNote")->text(),
             QStringLiteral("Set by your administrator"));
    QTest::mouseClick(damping, Qt::LeftButton);
    QVERIFY(!UserDefaults(a.defaults->path()).objectForKey("NotifyFlapDamping"));
}

void QtFaceTest::menuGroupsSwitchOnTheRealActions() {
    Agent a;
    const WirewatchAppDelegate::InfoItems& items = a.delegate->infoItems();
    auto action = [](MenuItem* item) { return static_cast<qt::QtMenuItem*>(item)->action(); };
    const std::vector<MenuItem*> wifi = {
        items.ssid,     items.bssid,    items.rssi,   items.noise,   items.channel,
        items.mcsIndex, items.security, items.opMode, items.phyMode, items.txRate};
    const std::vector<MenuItem*> wired = {items.ipAddress, items.macAddress, items.interfaceName};
    QMenu* menu = static_cast<qt::QtMenu*>(a.delegate->statusMenu())->menu();

    a.delegate->showHideMenuItems(false);
    for (MenuItem* i : wifi) QVERIFY(action(i)->isVisible());
    for (MenuItem* i : wired) QVERIFY(!action(i)->isVisible());
    int wifiHeight = menu->sizeHint().height();
    a.delegate->showHideMenuItems(true);
    for (MenuItem* i : wifi) QVERIFY(!action(i)->isVisible());
    for (MenuItem* i : wired) QVERIFY(action(i)->isVisible());
    QVERIFY(menu->sizeHint().height() < wifiHeight);  // hidden items take no space

    // A check through the event loop: wired only shows the wired group, in the values colour.
    a.wired = true;
    a.wireless = false;
    QVERIFY(a.runCheck());
    QCOMPARE(action(items.ipAddress)->text(), QStringLiteral("IP address: 198.51.100.7"));
    QCOMPARE(action(items.interfaceName)->text(),
             QStringLiteral("Interface name: en5/USB Ethernet"));
    QCOMPARE(action(items.ipAddress)->property(qt::QtMenuItem::kColorProperty).toString(),
             QStringLiteral("values-color"));
    QVERIFY(!action(items.ssid)->isVisible());
    QVERIFY(action(items.macAddress)->isEnabled());  // drawn as normal text

    // A name with "&" is shown as written, not as a shortcut.
    a.delegate->setMenuItemText("SSID: Tom & Jerry", items.ssid);
    QCOMPARE(items.ssid->title(), std::string("SSID: Tom & Jerry"));
    QColor light = qt::namedColor("values-color", QPalette(Qt::white));
    QColor dark = qt::namedColor("values-color", QPalette(QColor(30, 30, 30)));
    QVERIFY(light.lightness() < 128);
    QVERIFY(dark.lightness() > 128);
}

void QtFaceTest::interfacesSubmenuAndPauseOnTheRealActions() {
    Agent a;
    InterfaceReport docker{"docker0", std::nullopt, std::string("172.17.0.1"),
                           InterfaceClass::NotCounted, "virtual: not a hardware port"};
    InterfaceReport dock{"en5", std::string("USB 10/100/1000 LAN & Dock"),
                         std::string("198.51.100.7"), InterfaceClass::Wired, "hardware port"};
    a.reports = {docker, dock};
    QVERIFY(a.runCheck());
    QMenu* interfaces = a.menuAction("Interfaces")->menu();
    QVERIFY(interfaces);
    auto lineActions = [&] {
        std::vector<QAction*> out;
        for (QAction* action : interfaces->actions()) out.push_back(action);
        return out;
    };
    QCOMPARE(lineActions().size(), size_t(2));
    // "&" is shown as written.
    QCOMPARE(lineActions()[1]->text().replace(QStringLiteral("&&"), QStringLiteral("&")),
             qt::toQString(inspectorLine(dock)));
    auto choice = [&](int line, const QString& title) -> QAction* {
        QMenu* choices = lineActions()[static_cast<size_t>(line)]->menu();
        if (!choices) return nullptr;
        for (QAction* action : choices->actions()) {
            if (action->text() == title) return action;
        }
        return nullptr;
    };
    QVERIFY(choice(0, "Automatic")->isCheckable());
    // Drawn as one choice among three (radio buttons).
    QVERIFY(choice(0, "Automatic")->actionGroup());
    QCOMPARE(choice(0, "Automatic")->actionGroup(), choice(0, "Ignore")->actionGroup());
    QVERIFY(choice(0, "Automatic")->isChecked());
    QVERIFY(!choice(0, "Count as wired")->isChecked());

    choice(0, "Count as wired")->trigger();
    QVERIFY(QTest::qWaitFor([&] { return !a.delegate->isRunning() && a.inventories >= 2; }, 20000));
    QVERIFY(a.delegate->waitForCheckThread(std::chrono::seconds(10)));
    auto stored = UserDefaults(a.defaults->path()).objectForKey("InterfaceOverrides");
    QVERIFY(stored && stored->isDictionary());
    QCOMPARE(*stored->find("docker0")->stringValue(), std::string("wired"));
    // The inventory's next report is what the submenu shows.
    a.reports[0].override = InterfaceOverride::Wired;
    QVERIFY(a.runCheck());
    QVERIFY(choice(0, "Count as wired")->isChecked());
    QVERIFY(!choice(0, "Automatic")->isChecked());

    // Pausing asks for the exit password in a window of its own.
    a.setPassword("abc");
    QAction* resume = a.menuAction("Resume");
    QVERIFY(!resume->isVisible());
    a.menuAction("Pause protection for 15 minutes")->trigger();
    QWidget* window = a.shell.pausePasswordWindow();
    QVERIFY(window->isVisible());
    QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(window->windowTitle(), QStringLiteral("Pause Protection"));
    auto* field = a.find<QLineEdit>(window, "passwordField");
    type(field, "ab");
    QVERIFY(!a.delegate->protection().pause().isPaused());
    type(field, "c");
    QVERIFY(a.delegate->protection().pause().isPaused());
    QVERIFY(!window->isVisible());
    QVERIFY(field->text().isEmpty());
    QVERIFY(resume->isVisible());
    QVERIFY(!a.shell.terminated());
    QVERIFY(QTest::qWaitFor([&] { return !a.delegate->isRunning(); }, 20000));
    resume->trigger();
    QVERIFY(!a.delegate->protection().pause().isPaused());
    QVERIFY(!resume->isVisible());
}

void QtFaceTest::iconSwitchesInOrderAndShowsTheAlternateWhileOpen() {
    Agent a;
    qt::QtStatusItem* item = a.shell.statusItem();
    QVERIFY(item);
    QCOMPARE(item->image(), std::string("ww-menubar.tif"));
    QCOMPARE(item->alternateImage(), std::string("ww-menubar-selected.tif"));
    QCOMPARE(item->trayIcon()->toolTip(), QStringLiteral("Wirewatch"));
    QVERIFY(!item->trayIcon()->icon().isNull());
    QVERIFY(item->trayIcon()->contextMenu() ==
            static_cast<qt::QtMenu*>(a.delegate->statusMenu())->menu());

    std::thread([&] {
        a.delegate->setMenubarStatusImageTo(WirewatchAppDelegate::kWarningIcon);
        a.delegate->setMenubarStatusImageTo(WirewatchAppDelegate::kNormalIcon);
        a.delegate->setMenubarStatusImageTo(WirewatchAppDelegate::kWarningIcon);
    }).join();
    QTRY_COMPARE(a.delegate->currentIconBaseName(), std::string("ww-warning-menubar"));
    QCOMPARE(item->image(), std::string("ww-warning-menubar.tif"));

    // Opening the menu shows the alternate image and starts a check.
    QCOMPARE(a.inventories.load(), 0);
    QMenu* menu = item->trayIcon()->contextMenu();
    menu->popup(QPoint(10, 10));
    QTRY_VERIFY(menu->isVisible());
    QVERIFY(item->showsAlternate());
    QTRY_COMPARE(a.inventories.load(), 1);
    menu->hide();
    QVERIFY(!item->showsAlternate());
}

void QtFaceTest::iconsDifferInShapeNotOnlyColour() {
    auto alphaMask = [](const char* name) {
        QIcon icon = qt::statusImage(name);
        if (icon.isNull()) qFatal("no icon %s", name);
        QImage image = icon.pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32);
        QVector<int> alpha;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) alpha.append(qAlpha(image.pixel(x, y)) > 127);
        }
        return alpha;
    };
    QVector<int> normal = alphaMask("ww-menubar.tif");
    QVector<int> warning = alphaMask("ww-warning-menubar.tif");
    int differing = 0;
    for (int i = 0; i < normal.size(); ++i) differing += normal[i] != warning[i];
    QVERIFY2(differing > 40, qPrintable(QString::number(differing)));
    QVERIFY(qt::statusImage("ww-menubar-selected.tif").isMask());
    QVERIFY(!qt::statusImage("ww-warning-menubar-selected.tif").isNull());
    QVERIFY(qt::statusImage("no-such-icon.tif").isNull());
}

void QtFaceTest::timerFiresWhileTheMenuIsOpen() {
    Agent a;
    int ticks = 0;
    a.shell.addRepeatingTimer(0.02, [&] { ++ticks; });
    QMenu* menu = a.shell.statusItem()->trayIcon()->contextMenu();
    menu->popup(QPoint(10, 10));
    QTRY_VERIFY(menu->isVisible());
    int atOpen = ticks;
    QTRY_VERIFY(ticks >= atOpen + 3);
    QVERIFY(menu->isVisible());
    menu->hide();
}

void QtFaceTest::mainThreadRunsInOrderAndWaits() {
    Agent a;
    dispatch::MainThread& main = a.shell.mainThread();
    QVERIFY(main.isMainThread());
    std::vector<int> seen;
    bool waitedRan = false;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) main.post([&seen, i] { seen.push_back(i); });
        // The waiting form returns after its task ran, behind the queued ones.
        bool ok = main.postAndWait([&] { waitedRan = seen.size() == 100; });
        seen.push_back(ok ? 1000 : -1);
    });
    QTRY_COMPARE(seen.size(), size_t(101));
    worker.join();
    QVERIFY(waitedRan);
    QCOMPARE(seen.back(), 1000);
    for (int i = 0; i < 100; ++i) QCOMPARE(seen[i], i);

    // Once the event loop is over, a hand-over that never started gives up.
    a.shell.endMainThread();
    bool ran = false, result = true;
    std::thread late([&] { result = main.postAndWait([&] { ran = true; }); });
    late.join();
    QCoreApplication::processEvents();
    QVERIFY(!result);
    QVERIFY(!ran);
}

void QtFaceTest::aboutWindowShowsVersionAndOpensMail() {
    Agent a;
    QDesktopServices::setUrlHandler("mailto", this, "openMail");
    a.delegate->openAboutPanel();
    QWidget* about = a.shell.aboutWindow();
    QVERIFY(about->isVisible());
    QCOMPARE(a.find<QLabel>(about, "appVersion")->text(), QStringLiteral("Version 1.4 (27)"));
    QVERIFY(a.find<QLabel>(about, "appCopyRightText")->text().contains("2031"));
    QCOMPARE(a.find<QLabel>(about, "appAuditText")->text(), QStringLiteral("0 exposures today"));
    // An exposure the rule ended: the window, shown again, counts it.
    ExposureAudit& audit = a.delegate->protection().audit();
    auto now = std::chrono::steady_clock::now();
    audit.observe(true, true, now, now);
    audit.actedOn("Wi-Fi disconnected by the rule");
    a.delegate->openAboutPanel();
    QVERIFY(a.find<QLabel>(about, "appAuditText")->text().startsWith("1 exposure today, longest "));
    QVERIFY(!a.find<QLabel>(about, "appIcon")->pixmap().isNull());
    QTest::mouseClick(a.find<QPushButton>(about, "supportEmailButton"), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("mailto");
    QCOMPARE(m_openedUrls.size(), 1);
    QCOMPARE(m_openedUrls[0].toString(), QStringLiteral("mailto:help@example.org"));
}

QTEST_MAIN(QtFaceTest)
#include "QtFaceTest.moc"
