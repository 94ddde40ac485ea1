// The desktop face on real Qt widgets (offscreen), for what only real widgets
// show: their object names (as a user finds them by their labels), typing into
// real fields, window flags, the menu's real actions (radio groups, hidden
// items, "&"), the tray icon, the timer and the Qt main thread. What the face
// decides is tested on the headless shell (SettingsTabTest, TrayMenuTest).

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

QAction* actionIn(QMenu* menu, const QString& text) {
    for (QAction* a : menu->actions()) {
        if (a->text() == text) return a;
    }
    qFatal("no menu item %s", qPrintable(text));
}

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
            s.viaWifi = true;
        };
        delegate = std::make_unique<WirewatchAppDelegate>(shell, *defaults, *wifi, config);
        WindowResourcesLoader::Options options;
        options.settings = {kProgram, [](const std::string&) {}, std::move(isLocked)};
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
    QMenu* menu() { return static_cast<qt::QtMenu*>(delegate->statusMenu())->menu(); }
    QAction* menuAction(const QString& text) { return actionIn(menu(), text); }
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
    std::vector<Alert> alerts;
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

void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }

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
    void passwordIsSetChangedAndClearedInRealFields();
    void exitWindowEndsOnTheKeystrokeThatMatches();
    void settingsControlsWriteAtAClickAndLock();
    void menuGroupsSwitchOnTheRealActions();
    void interfacesSubmenuAndPauseOnTheRealActions();
    void whileTheMenuIsOpenTheIconShowsTheAlternateAndTimersFire();
    void iconsDifferInShapeNotOnlyColour();
    void mainThreadRunsInOrderAndWaits();
    void aboutWindowShowsVersionAndOpensMail();

  private:
    QList<QUrl> m_openedUrls;
};

void QtFaceTest::passwordIsSetChangedAndClearedInRealFields() {
    Agent a;
    a.delegate->showHideWindow();
    auto* button = a.find<QPushButton>(a.shell.settingsWindow(), "setupPasswordButton");
    click(button);
    QWidget* setup = a.shell.setupPasswordWindow();
    QVERIFY(setup->isVisible());
    auto* field = a.find<QLineEdit>(setup, "setupNewPasswordTextField");
    QCOMPARE(field->echoMode(), QLineEdit::Password);
    auto* save = a.find<QPushButton>(setup, "saveNewPasswordButton");
    type(field, "ab");
    click(save);
    QCOMPARE(a.alerts.size(), size_t(1));  // through a real message box
    QCOMPARE(a.alerts[0].icon, QMessageBox::Critical);
    QCOMPARE(a.alerts[0].informativeText,
             QStringLiteral("Password should be at least three characters long."));
    QVERIFY(!a.stored("EXIT_PASSWORD"));
    // A space is part of the password as typed (trimmed, this one is too short).
    type(field, " ");
    click(save);
    QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>("ab "));
    QVERIFY(!setup->isVisible());
    QCOMPARE(button->text(), QStringLiteral("Change Exit Password"));

    // The next click opens the change window with its fields emptied.
    QWidget* change = a.shell.changePasswordWindow();
    auto* oldField = a.find<QLineEdit>(change, "oldPasswordTextField");
    auto* newField = a.find<QLineEdit>(change, "NewPasswordTextField");
    auto* confirm = a.find<QLineEdit>(change, "confirmNewPasswordTextField");
    auto* saveChange = a.find<QPushButton>(change, "saveChangedPasswordButton");
    oldField->setText("left over");
    click(button);
    QVERIFY(change->isVisible());
    QCOMPARE(oldField->text(), QString());
    type(oldField, "ab ");
    type(newField, "abcd");
    type(confirm, "abce");
    click(saveChange);
    QCOMPARE(a.alerts.back().text, QStringLiteral("Password Mismatch"));
    QVERIFY(change->isVisible());
    replaceText(confirm, "abcd");
    click(saveChange);
    QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>("abcd"));
    QVERIFY(!change->isVisible());

    // Cleared with the old password: kept as the empty string, and quitting
    // from the menu ends at once.
    click(button);
    type(oldField, "abcd");
    click(a.find<QPushButton>(change, "resetPasswordButton"));
    QCOMPARE(a.alerts.size(), size_t(2));
    QCOMPARE(a.stored("EXIT_PASSWORD"), std::optional<std::string>(""));
    QCOMPARE(button->text(), QStringLiteral("Setup Exit Password"));
    a.menuAction("Quit Wirewatch")->trigger();
    QVERIFY(a.shell.terminated());
    QVERIFY(!a.shell.exitPasswordWindow()->isVisible());
}

void QtFaceTest::exitWindowEndsOnTheKeystrokeThatMatches() {
    Agent a([](UserDefaults& d) { d.setObject(plist::Value::string(" abc"), "EXIT_PASSWORD"); });
    QWidget* exitWindow = a.shell.exitPasswordWindow();
    QVERIFY(exitWindow->windowFlags() & Qt::WindowStaysOnTopHint);
    a.menuAction("Quit Wirewatch")->trigger();
    QVERIFY(!a.shell.terminated());
    QVERIFY(exitWindow->isVisible());
    auto* field = a.find<QLineEdit>(exitWindow, "passwordField");
    QCOMPARE(field->echoMode(), QLineEdit::Password);
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
    replaceText(field, "abc");  // the leading space counts
    QCOMPARE(quits, 0);
    replaceText(field, " abcdef");
    QCOMPARE(quits, 1);
    QCOMPARE(textAtQuit, QStringLiteral(" abc"));
}

void QtFaceTest::settingsControlsWriteAtAClickAndLock() {
    Agent a({}, [](const std::string& key) { return key == "enableWireless"; });
    QWidget* settings = a.shell.settingsWindow();
    a.delegate->showHideWindow();
    for (const char* name : {"notifyWarningState", "notifyHotspotDisabled", "notifyFlapDamping"}) {
        QVERIFY(!a.find<QCheckBox>(settings, name)->isChecked());
    }
    auto* rule = a.find<QComboBox>(settings, "interfaceOptions");
    QCOMPARE(rule->count(), 3);
    QCOMPARE(rule->currentIndex(), 1);  // rule 0, as stored
    // Picked with the keyboard: the item's tag is stored, as a string.
    rule->setFocus();
    QTest::keyClick(rule, Qt::Key_Up);
    QCOMPARE(a.stored("selectedInterfaceOption"), std::optional<std::string>("-1"));
    QTest::keyClick(rule, Qt::Key_End);
    QCOMPARE(a.stored("selectedInterfaceOption"), std::optional<std::string>("1"));

    // A locked key's box is disabled, says why, and ignores a click.
    auto* wifiBack = a.find<QCheckBox>(settings, "enableWireless");
    QVERIFY(!wifiBack->isEnabled());
    QVERIFY(wifiBack->isChecked());
    auto* note = a.find<QLabel>(settings, "enableWirelessNote");
    QVERIFY(note->isVisible());
    QCOMPARE(note->text(), QStringLiteral("Set by your administrator"));
    QVERIFY(!a.find<QLabel>(settings, "interfaceOptionsNote")->isVisible());
    click(wifiBack);
    QCOMPARE(a.stored("enableWireless"), std::optional<std::string>("1"));

    // Open boxes write at a click: a notification as a boolean, the login item.
    click(a.find<QCheckBox>(settings, "notifyWiFiCut"));
    QVERIFY(UserDefaults(a.defaults->path()).boolForKey("NotifyWiFiCut"));
    click(a.find<QCheckBox>(settings, "loadOnStartup"));
    QCOMPARE(a.loginItems.paths(), std::vector<std::string>{kProgram});
    QCOMPARE(a.stored("loadOnStartUp"), std::optional<std::string>("1"));
}

void QtFaceTest::menuGroupsSwitchOnTheRealActions() {
    Agent a;
    const WirewatchAppDelegate::InfoItems& items = a.delegate->infoItems();
    auto action = [](MenuItem* item) { return static_cast<qt::QtMenuItem*>(item)->action(); };
    QMenu* menu = a.menu();
    a.delegate->showHideMenuItems(false);
    QVERIFY(action(items.txRate)->isVisible());
    QVERIFY(!action(items.interfaceName)->isVisible());
    int wifiHeight = menu->sizeHint().height();
    a.delegate->showHideMenuItems(true);
    QVERIFY(!action(items.txRate)->isVisible());
    QVERIFY(action(items.interfaceName)->isVisible());
    QVERIFY(menu->sizeHint().height() < wifiHeight);  // hidden items take no space

    // A name with "&" is shown as written, not as a shortcut, in the values colour.
    a.delegate->setMenuItemText("SSID: Tom & Jerry", items.ssid);
    QCOMPARE(action(items.ssid)->text(), QStringLiteral("SSID: Tom && Jerry"));
    QCOMPARE(items.ssid->title(), std::string("SSID: Tom & Jerry"));
    QCOMPARE(action(items.ssid)->property(qt::QtMenuItem::kColorProperty).toString(),
             QStringLiteral("values-color"));
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
    QVERIFY(a.runCheck());  // through the Qt event loop
    QMenu* interfaces = a.menuAction("Interfaces")->menu();
    QVERIFY(interfaces);
    QCOMPARE(interfaces->actions().size(), 2);
    QCOMPARE(interfaces->actions()[1]->text().replace(QStringLiteral("&&"), QStringLiteral("&")),
             qt::toQString(inspectorLine(dock)));
    auto choice = [&](const QString& title) {
        return actionIn(interfaces->actions()[0]->menu(), title);
    };
    // One choice among three: radio buttons in one group.
    QVERIFY(choice("Automatic")->isCheckable());
    QVERIFY(choice("Automatic")->actionGroup());
    QCOMPARE(choice("Automatic")->actionGroup(), choice("Ignore")->actionGroup());
    QVERIFY(choice("Automatic")->isChecked());

    choice("Count as wired")->trigger();
    QVERIFY(QTest::qWaitFor([&] { return !a.delegate->isRunning() && a.inventories >= 2; }, 20000));
    QVERIFY(a.delegate->waitForCheckThread(std::chrono::seconds(10)));
    auto stored = UserDefaults(a.defaults->path()).objectForKey("InterfaceOverrides");
    QVERIFY(stored && stored->isDictionary());
    QCOMPARE(*stored->find("docker0")->stringValue(), std::string("wired"));
    // The inventory's next report is what the submenu shows.
    a.reports[0].override = InterfaceOverride::Wired;
    QVERIFY(a.runCheck());
    QVERIFY(choice("Count as wired")->isChecked());
    QVERIFY(!choice("Automatic")->isChecked());

    // Pausing asks for the exit password in a window of its own.
    a.defaults->setObject(plist::Value::string("abc"), "EXIT_PASSWORD");
    a.defaults->synchronize();
    QAction* resume = a.menuAction("Resume");
    QVERIFY(!resume->isVisible());
    a.menuAction("Pause protection for 15 minutes")->trigger();
    QWidget* window = a.shell.pausePasswordWindow();
    QVERIFY(window->isVisible());
    QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(window->windowTitle(), QStringLiteral("Pause Protection"));
    auto* field = a.find<QLineEdit>(window, "passwordField");
    type(field, "abc");
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

void QtFaceTest::whileTheMenuIsOpenTheIconShowsTheAlternateAndTimersFire() {
    Agent a;
    qt::QtStatusItem* item = a.shell.statusItem();
    QVERIFY(item);
    QCOMPARE(item->trayIcon()->toolTip(), QStringLiteral("Wirewatch"));
    QVERIFY(!item->trayIcon()->icon().isNull());
    QMenu* menu = item->trayIcon()->contextMenu();
    QVERIFY(menu == a.menu());
    int ticks = 0;
    a.shell.addRepeatingTimer(0.02, [&] { ++ticks; });
    // Opening the menu shows the alternate image and starts a check.
    QCOMPARE(a.inventories.load(), 0);
    menu->popup(QPoint(10, 10));
    QTRY_VERIFY(menu->isVisible());
    QVERIFY(item->showsAlternate());
    QTRY_COMPARE(a.inventories.load(), 1);
    int atOpen = ticks;
    QTRY_VERIFY(ticks >= atOpen + 3);
    QVERIFY(menu->isVisible());
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
    QVERIFY(!a.find<QLabel>(about, "appIcon")->pixmap().isNull());
    click(a.find<QPushButton>(about, "supportEmailButton"));
    QDesktopServices::unsetUrlHandler("mailto");
    QCOMPARE(m_openedUrls.size(), 1);
    QCOMPARE(m_openedUrls[0].toString(), QStringLiteral("mailto:help@example.org"));
}

QTEST_MAIN(QtFaceTest)
#include "QtFaceTest.moc"
