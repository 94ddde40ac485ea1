#include "app/WirewatchAppDelegate.h"

#include <cmath>

#include "discovery/NetworkInventory.h"
#include "discovery/WWUtils.h"
#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"
#include "logging/DDTTYLogger.h"
#include "menu/MenuTexts.h"
#include "menu/WiFiValueNames.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Text.h"
#include "reachability/Reachability.h"
#include "settings/ExitPasswordWindow.h"
#include "usb/HotspotDisabling.h"
#include "usb/UsbWatcher.h"

namespace ww {

namespace {

// Built-in copy of the Defaults resource, used only when the file is missing
// or unreadable, so that a damaged installation still behaves as shipped.
// The rules are part of the check; their lines carry the check's name.
constexpr const char* kCheckFn = "checkInterfaceStatusRequest";

plist::Value::Dictionary builtInDefaults() {
    return {
        {"selectedInterfaceOption", plist::Value::string("0")},
        {"enableWireless", plist::Value::string("1")},
        {"loadOnStartUp", plist::Value::string("0")},
    };
}

}  // namespace

WirewatchAppDelegate::WirewatchAppDelegate(Shell& shell, UserDefaults& defaults,
                                           WiFiClient& wifiClient, AgentConfig config)
    : m_shell(shell), m_store(defaults), m_wifiClient(wifiClient), m_config(std::move(config)) {
    loadStatusMenu();
    WindowResources& r = m_shell.resources();
    if (r.exitPasswordWindow && r.exitPasswordField) {
        m_exitPasswordWindow =
            std::make_unique<ExitPasswordWindow>(*r.exitPasswordWindow, *r.exitPasswordField, m_store);
    }
    m_shell.setApplicationDelegate(this);
}

WirewatchAppDelegate::~WirewatchAppDelegate() {
    if (m_reachability) m_reachability->stopNotifier();
    if (m_usbObserver) NotificationCenter::defaultCenter().removeObserver(m_usbObserver);
    m_shell.setApplicationDelegate(nullptr);
    {
        std::lock_guard lock(m_threadMutex);
        m_checkThreadStop = true;
        m_checkWanted.notify_all();
    }
    if (m_checkThread.joinable()) m_checkThread.join();
}

// The status menu as laid out in the window resources: the information items
// (the Wi-Fi group, then the wired group), then the actions.
void WirewatchAppDelegate::loadStatusMenu() {
    m_statusMenu = m_shell.createMenu();
    Menu& menu = *m_statusMenu;
    auto info = [&](const char* title) {
        return menu.addItem(title, [this] { dummyActionOnMenuItems(); });
    };
    m_items.ssid = info("SSID:");
    m_items.bssid = info("BSSID:");
    m_items.rssi = info("RSSI:");
    m_items.noise = info("Noise:");
    m_items.channel = info("Channel:");
    m_items.mcsIndex = info("MCS Index:");
    m_items.security = info("Security:");
    m_items.opMode = info("Op Mode:");
    m_items.phyMode = info("PHY Mode:");
    m_items.txRate = info("Transmit Rate:");
    m_items.ipAddress = info("IP address:");
    m_items.macAddress = info("MAC address:");
    m_items.interfaceName = info("Interface name:");
    for (MenuItem* wired : {m_items.ipAddress, m_items.macAddress, m_items.interfaceName}) {
        wired->setHidden(true);
    }
    menu.addSeparator();
    menu.addItem("Settings…", [this] { showHideWindow(); });
    menu.addItem("About Wirewatch", [this] { openAboutPanel(); });
    menu.addSeparator();
    menu.addItem("Quit Wirewatch", [this] { m_shell.terminate(); });
    menu.setWillOpenHandler([this] { menuWillOpen(); });
}

// ---- start-up -------------------------------------------------------------------------

void WirewatchAppDelegate::awakeFromNib() {
    m_defaults = &m_store;
    m_isChanged = false;
}

void WirewatchAppDelegate::applicationDidFinishLaunching() {
    m_isRunning = false;
    setupUserPreferences();
    m_OSXVersion = WWUtils::GetOSVersion();
    setupDDLogger();
    // Crash reports are written by the fatal-signal handler main() installs;
    // nothing is sent anywhere.

    // Reachability changes trigger a check at once. Without a monitor the
    // timer stays the only periodic trigger.
    if (!m_config.reachabilityHost.empty()) {
        m_reachability = Reachability::reachabilityWithHostname(m_config.reachabilityHost);
        if (m_reachability) {
            auto trigger = [this](Reachability&) {
                m_shell.mainThread().post([this] { checkInterfaceStatus(); });
            };
            m_reachability->setReachableBlock(trigger);
            m_reachability->setUnreachableBlock(trigger);
            m_reachability->startNotifier();
        }
    }

    m_statusItem = m_shell.createStatusItem(-1);
    m_statusItem->setMenu(m_statusMenu.get());
    setMenubarStatusImageTo(kNormalIcon);
    m_statusItem->setToolTip("Wirewatch");
    m_statusItem->setHighlightMode(true);

    m_shell.addRepeatingTimer(5.0, [this] { checkInterfaceStatus(); });

    WindowResources& r = m_shell.resources();
    if (WWUtils::hasValue(m_store.stringForKey("EXIT_PASSWORD")) && r.setupPasswordButton) {
        r.setupPasswordButton->setTag(1);
        r.setupPasswordButton->setTitle("Change Exit Password");
    }
    if (r.exitPasswordWindow) r.exitPasswordWindow->setLevel(25);
    if (m_exitPasswordWindow) {
        m_exitPasswordWindow->setExtendedDelegate([this] { userDidEnteredCorrectPassword(); });
    }

    // The handler runs on the posting thread: the check's, inside the inventory.
    m_usbObserver = NotificationCenter::defaultCenter().addObserver(
        kDetectedConnectedUSBHotspotNotification, nullptr,
        [this](const Notification& n) { usbDeviceDetected(n); });
}

void WirewatchAppDelegate::usbDeviceDetected(const Notification& notification) {
    if (!m_config.usbRegistry) return;
    ww::usbDeviceDetected(notification, m_state.hotspotInterfacesToDelete(), *m_config.usbRegistry);
}

void WirewatchAppDelegate::setupUserPreferences() {
    std::string why;
    std::optional<plist::Value> defaults;
    if (auto bytes = file::readAll(m_config.defaultsResourcePath, &why)) {
        defaults = plist::parse(*bytes, &why);
        if (defaults && !defaults->isDictionary()) {
            defaults.reset();
            why = "the root is not a dictionary";
        }
    }
    if (defaults) {
        m_store.registerDefaults(*defaults->dictionaryValue());
    } else {
        std::fprintf(stderr, "Wirewatch: the Defaults resource %s could not be read (%s); using "
                             "the built-in defaults.\n",
                     m_config.defaultsResourcePath.c_str(), why.c_str());
        m_store.registerDefaults(builtInDefaults());
    }
    m_store.synchronize();
}

void WirewatchAppDelegate::setupDDLogger() {
    if (m_config.installLoggers) {
        DDLog::addLogger(DDTTYLogger::sharedInstance());
        auto manager = DDLogFileManagerDefault::create(m_config.logsDirectory);
        m_fileLogger = DDFileLogger::create(manager);
        m_fileLogger->setRollingFrequency(86400);
        manager->setMaximumNumberOfLogFiles(7);
        DDLog::addLogger(m_fileLogger);
    }
    WWLogInfo("---------------------------------------------------------------------------------------");
    WWLogInfo("Starting Wirewatch Version %@.%@", m_config.shortVersion, m_config.buildVersion);
    WWLogInfo("OS Version %@", WWUtils::GetOSVersionString());
}

TerminateReply WirewatchAppDelegate::applicationShouldTerminate() {
    if (WWUtils::hasValue(m_store.stringForKey("EXIT_PASSWORD")) && !m_userEnteredCorrectPassword) {
        if (Window* w = m_shell.resources().exitPasswordWindow) w->makeKeyAndOrderFront();
        return TerminateReply::Cancel;
    }
    return TerminateReply::Now;
}

void WirewatchAppDelegate::userDidEnteredCorrectPassword() {
    m_userEnteredCorrectPassword = true;
    m_shell.terminate();
}

// ---- the check cycle ---------------------------------------------------------------------

void WirewatchAppDelegate::checkInterfaceStatus() {
    if (m_isRunning) return;
    m_shouldShowWiFiInfo = false;
    m_state.viaEthernet = false;
    m_state.viaWifi = false;
    m_isRunning = true;
    // The previous check has handed over already (isRunning was false); its
    // thread is at most on its way back to sleep.
    std::lock_guard lock(m_threadMutex);
    m_checkWantedFlag = true;
    if (m_checkThread.joinable()) {
        m_checkWanted.notify_one();
    } else {
        m_checkThreadStop = false;
        m_checkThread = std::thread([this] { checkThreadLoop(); });
    }
}

void WirewatchAppDelegate::checkThreadLoop() {
    std::unique_lock lock(m_threadMutex);
    for (;;) {
        m_checkWanted.wait(lock, [this] { return m_checkWantedFlag || m_checkThreadStop; });
        if (!m_checkWantedFlag) return;
        // Taken up: a check asked for from now on (the previous one hands over
        // before its thread is back here) runs next.
        m_checkWantedFlag = false;
        m_checkRunning = true;
        lock.unlock();
        // Named while a check runs (tools and tests see a check by this name).
        process::setCurrentThreadName("wirewatch-check");
        checkInterfaceStatusRequest();
        process::setCurrentThreadName("wirewatch-idle");
        // What the check freed goes back to the system before the thread sleeps.
        process::releaseFreeMemory();
        lock.lock();
        m_checkRunning = false;
        m_threadDone.notify_all();
    }
}

bool WirewatchAppDelegate::waitForCheckThread(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_threadMutex);
    if (!m_threadDone.wait_for(lock, timeout,
                               [this] { return !m_checkWantedFlag && !m_checkRunning; })) {
        return false;
    }
    m_checkThreadStop = true;
    m_checkWanted.notify_all();
    lock.unlock();
    if (m_checkThread.joinable()) m_checkThread.join();
    return true;
}

CWInterfacePtr WirewatchAppDelegate::currentInterface() const {
    std::lock_guard lock(m_interfaceMutex);
    return m_currentInterface;
}

void WirewatchAppDelegate::checkInterfaceStatusRequest() {
    if (m_config.inventory) {
        m_config.inventory(m_state);
    } else {
        NetworkInventory::Hooks hooks;
        hooks.hotspotShutOffEnabled = [this] {
            return m_store.boolForKey("DisableUSBConnectedPersonalHotspot");
        };
        if (m_config.usbRegistry) {
            hooks.detectConnectedUSBHotspot = [registry = m_config.usbRegistry] {
                WWUtils::detectConnectedUSBHotspot(*registry);
            };
        }
        NetworkInventory(m_config.commands, m_state, std::move(hooks)).getAllNetworksDetails();
    }
    std::int64_t rule = m_store.integerForKey("selectedInterfaceOption");
    {
        CWInterfacePtr iface = m_wifiClient.interface();
        std::lock_guard lock(m_interfaceMutex);
        m_currentInterface = std::move(iface);
    }
    applyRules(rule);
    m_store.synchronize();
    if (m_isRunning) {
        m_shell.mainThread().postAndWait([this] { updateInterfaceInfo(); });
    }
}

void WirewatchAppDelegate::applyRules(std::int64_t rule) {
    const bool wired = m_state.viaEthernet;
    const bool wireless = m_state.viaWifi;
    CWInterfacePtr iface = currentInterface();
    std::optional<std::string> error;

    auto disconnectWiFi = [&] {
        WWLogErrorIn(kCheckFn, "AppDelegate: disconnecting wireless as wired is connected, rule is configured to do so.. ");
        if (m_isChanged) {
            wifi::setPower(iface, true, &error);
            m_isChanged = false;
        }
        wifi::disassociate(iface);
    };
    auto powerOffWiFi = [&] {
        if (!wifi::setPower(iface, false, &error)) {
            WWLogInfoIn(kCheckFn, "CoreWLAN returend error as :%@ ", error);
        }
    };

    if (wired && wireless) {
        WWLogErrorIn(kCheckFn, "AppDelegate: both wireless and wired are connected on system, applying rule....");
        m_shouldShowWiFiInfo = true;
        if (rule == 0) {
            disconnectWiFi();
            setMenubarStatusImageTo(kNormalIcon);
        } else if (rule == 1) {
            m_isChanged = true;
            WWLogErrorIn(kCheckFn, "AppDelegate: disabling wireless as wired is connected, rule is configured to do so.. ");
            powerOffWiFi();
            setMenubarStatusImageTo(kNormalIcon);
        } else {
            WWLogErrorIn(kCheckFn, "AppDelegate: both wired & wireless are connected, and no rule is configured...");
            setMenubarStatusImageTo(kWarningIcon);
        }
    } else if (wired) {
        WWLogErrorIn(kCheckFn, "AppDelegate: only wired are connected on system, applying rule....");
        if (rule == 0) {
            disconnectWiFi();
            m_shouldShowWiFiInfo = false;
            setMenubarStatusImageTo(kNormalIcon);
        } else if (rule == 1) {
            WWLogErrorIn(kCheckFn, "AppDelegate: disabling wireless as wired is connected, rule is configured to do so.. ");
            m_isChanged = true;
            powerOffWiFi();
            m_shouldShowWiFiInfo = false;
            setMenubarStatusImageTo(kNormalIcon);
        } else {
            WWLogErrorIn(kCheckFn, "AppDelegate: only connected via wired and no rule is configured...");
            m_shouldShowWiFiInfo = false;
            setMenubarStatusImageTo(kWarningIcon);
        }
    } else if (wireless) {
        WWLogErrorIn(kCheckFn, "AppDelegate: system is not connected via wired may be wifi or hotspot, applying rule....");
        WWLogErrorIn(kCheckFn, "AppDelegate: system is connected via wifi only so no rule will be executed......");
        m_shouldShowWiFiInfo = true;
        setMenubarStatusImageTo(kNormalIcon);
    } else {
        WWLogErrorIn(kCheckFn, "AppDelegate: system is not connected via wired may be wifi or hotspot, applying rule....");
        WWLogErrorIn(kCheckFn, "AppDelegate: system is not connected via wireless and checking if wireless needs to be enabled..");
        if (m_store.integerForKey("enableWireless") == 1) {
            WWLogErrorIn(kCheckFn, "AppDelegate: enabling wireless as enable wireless is true...");
            if (!wifi::setPower(iface, true, &error)) {
                WWLogInfoIn(kCheckFn, "CoreWLAN returend error as :%@ ", error);
            }
            m_shouldShowWiFiInfo = true;
            setMenubarStatusImageTo(kNormalIcon);
        } else if (m_store.integerForKey("enableWireless") == 0) {
            WWLogInfoIn(kCheckFn, "AppDelegate: no connectivity to internet and user havent' selected to enable wireless so nothing to do..");
            m_shouldShowWiFiInfo = true;
            setMenubarStatusImageTo(kWarningIcon);
        }
    }
}

// ---- status menu ---------------------------------------------------------------------------

void WirewatchAppDelegate::setMenubarStatusImageTo(const std::string& baseName) {
    m_shell.mainThread().post([this, baseName] {
        if (!m_statusItem) return;
        m_statusItem->setImage(baseName + ".tif");
        m_statusItem->setAlternateImage(baseName + "-selected.tif");
        m_iconBaseName = baseName;
    });
}

void WirewatchAppDelegate::menuWillOpen() {
    m_shell.mainThread().post([this] {
        if (!m_isRunning) checkInterfaceStatus();
    });
}

void WirewatchAppDelegate::showHideMenuItems(bool hideWifiItems) {
    for (MenuItem* item : {m_items.ssid, m_items.bssid, m_items.rssi, m_items.noise, m_items.channel,
                           m_items.mcsIndex, m_items.security, m_items.opMode, m_items.phyMode,
                           m_items.txRate}) {
        item->setHidden(hideWifiItems);
    }
    for (MenuItem* item : {m_items.ipAddress, m_items.macAddress, m_items.interfaceName}) {
        item->setHidden(!hideWifiItems);
    }
}

void WirewatchAppDelegate::setMenuItemText(const std::string& text, MenuItem* menuItem) {
    if (!menuItem) return;
    menuItem->setAttributedTitle(text, menuTextColorName(m_OSXVersion));
}

void WirewatchAppDelegate::dummyActionOnMenuItems() {}

void WirewatchAppDelegate::showHideWindow() {
    m_shell.activateIgnoringOtherApps();
    if (Window* w = m_shell.resources().window) w->makeKeyAndOrderFront();
}

void WirewatchAppDelegate::openAboutPanel() {
    m_shell.activateIgnoringOtherApps();
    if (Window* w = m_shell.resources().aboutWindow) w->makeKeyAndOrderFront();
}

void WirewatchAppDelegate::updateInterfaceInfo() {
    m_isRunning = true;
    if (m_shouldShowWiFiInfo) {
        updateWiFiItems();
    } else {
        updateWiredItems();
    }
    m_isRunning = false;
    m_store.synchronize();
    if (m_checkFinished) m_checkFinished();
}

void WirewatchAppDelegate::updateWiFiItems() {
    executeAirPortCommand(m_config.commands, m_state);
    showHideMenuItems(false);
    CWInterfacePtr iface = currentInterface();
    const bool p = iface && iface->powerOn();
    const std::int64_t mode = iface ? iface->interfaceMode() : 0;
    if (mode == 0) return;

    // Every value but the mode is read afresh just before its item is set.
    setMenuItemText(menuTexts::opMode(p, WWUtils::stringForOpMode(mode, m_OSXVersion)), m_items.opMode);
    setMenuItemText(menuTexts::security(p, WWUtils::stringForSecurityMode(iface->security(), m_OSXVersion)),
                    m_items.security);
    setMenuItemText(menuTexts::phyMode(p, WWUtils::stringForPHYMode(iface->activePHYMode(), m_OSXVersion)),
                    m_items.phyMode);
    setMenuItemText(menuTexts::ssid(p, iface->ssid()), m_items.ssid);
    setMenuItemText(menuTexts::channel(p, iface->wlanChannel()), m_items.channel);
    setMenuItemText(menuTexts::bssid(p, WWUtils::normalizeMAC(iface->bssid())), m_items.bssid);
    setMenuItemText(menuTexts::transmitRate(p, iface->transmitRate()), m_items.txRate);
    setMenuItemText(menuTexts::rssi(p, iface->rssiValue()), m_items.rssi);
    setMenuItemText(menuTexts::noise(p, iface->noiseMeasurement()), m_items.noise);
    setMenuItemText(menuTexts::mcsIndex(p, m_state.mcsInx.get()), m_items.mcsIndex);
}

void WirewatchAppDelegate::updateWiredItems() {
    setMenuItemText(menuTexts::wiredLine(m_state.unknownInterfaceIP.get(), "IP address: "),
                    m_items.ipAddress);
    setMenuItemText(menuTexts::wiredLine(m_state.ethernetMacAddress.get(), "MAC address: "),
                    m_items.macAddress);
    setMenuItemText(menuTexts::interfaceName(m_state.ethernetInterfaceName.get(),
                                             m_state.unknonInterfaceName.get()),
                    m_items.interfaceName);
    showHideMenuItems(true);
}

std::string WirewatchAppDelegate::menuReport() const {
    std::string out = "icon: " + m_iconBaseName + "\n";
    for (MenuItem* item : {m_items.ssid, m_items.bssid, m_items.rssi, m_items.noise, m_items.channel,
                           m_items.mcsIndex, m_items.security, m_items.opMode, m_items.phyMode,
                           m_items.txRate, m_items.ipAddress, m_items.macAddress,
                           m_items.interfaceName}) {
        // One line per item, whatever a network calls itself: scripts read this.
        if (!item->isHidden()) out += text::singleLine(item->title()) + "\n";
    }
    return out;
}

}  // namespace ww
