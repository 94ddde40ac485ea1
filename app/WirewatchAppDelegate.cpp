#include "app/WirewatchAppDelegate.h"

#include <cmath>

#include "app/ManagedPolicy.h"
#include "app/ReportingUsbRegistry.h"
#include "discovery/NetworkInventory.h"
#include "discovery/WWUtils.h"
#include "logging/DDFileLogger.h"
#include "logging/DDLog.h"
#include "logging/DDTTYLogger.h"
#include "menu/MenuTexts.h"
#include "menu/WiFiValueNames.h"
#include "platform/dispatch/SerialQueue.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Text.h"
#include "reachability/Reachability.h"
#include "settings/ExitPasswordWindow.h"
#include "settings/ManagedExitPassword.h"
#include "usb/HotspotDisabling.h"
#include "usb/UsbWatcher.h"

namespace ww {

namespace {

// Why a Wi-Fi link the inventory counts could not be acted on at all.
constexpr const char* kNoWiFiBackend =
    "no Wi-Fi backend reaches the Wi-Fi device (the log's \"Wi-Fi backend:\" line says why)";

// Built-in copy of the Defaults resource, used only when the file is missing
// or unreadable, so that a damaged installation still behaves as shipped.
// The rules are part of the check; their lines carry the check's name.
constexpr const char* kCheckFn = "checkInterfaceStatusRequest";

// A wired or MAC line of the menu without its label; absent when not available.
std::optional<std::string> lineValue(const std::optional<std::string>& line,
                                     const std::string& label) {
    if (!line || line->rfind(label, 0) != 0) return std::nullopt;
    std::string value = line->substr(label.size());
    if (value == "Not Available") return std::nullopt;
    return value;
}

bool isWifiAction(AgentEventKind kind) {
    return kind == AgentEventKind::WifiDisconnected || kind == AgentEventKind::WifiSwitchedOff ||
           kind == AgentEventKind::WifiSwitchedOn || kind == AgentEventKind::HotspotDisabled;
}

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
    m_protection = std::make_unique<ProtectionFeatures>(
        m_store, m_config.clock ? *m_config.clock : Clock::system(), m_config.notifier,
        m_config.logsDirectory.empty() || !m_config.keepExposureAudit
            ? std::string()
            : m_config.logsDirectory + "/" + ExposureAudit::kFileName);
    if (m_config.usbRegistry) {
        // Every configuration change of the hotspot guard becomes an event.
        m_reportingUsb = std::make_unique<ReportingUsbRegistry>(
            *m_config.usbRegistry, [this](const std::string& bsdName, const UsbResult& result) {
                AgentEvent e;
                e.kind = AgentEventKind::HotspotDisabled;
                e.interface = bsdName;
                e.ok = result.ok();
                if (result.kind == UsbResult::Kind::ExclusiveAccess) {
                    e.error = "another program holds the device";
                } else if (!result.ok()) {
                    e.error = "error " + std::to_string(result.code);
                }
                e.message =
                    e.ok ? "Personal hotspot shared over USB shut off"
                         : "Personal hotspot shared over USB could not be shut off: " + *e.error;
                emitEvent(std::move(e));
                if (result.ok()) {
                    m_protection->notifications().post(
                        NotificationKind::HotspotDisabled, "Hotspot switched off",
                        format("Wirewatch switched off the personal hotspot on %@.", bsdName));
                }
            });
        m_usbRegistry = m_reportingUsb.get();
    }
    // Each exposure also goes to the journal while the policy asks for it.
    m_protection->audit().setExposureHandler(
        [this](const Exposure& exposure) { auditExposure(exposure); });
    loadStatusMenu();
    WindowResources& r = m_shell.resources();
    if (r.exitPasswordWindow && r.exitPasswordField) {
        m_exitPasswordWindow = std::make_unique<ExitPasswordWindow>(*r.exitPasswordWindow,
                                                                    *r.exitPasswordField, m_store);
    }
    if (r.pausePasswordWindow && r.pausePasswordField) {
        m_pausePasswordWindow = std::make_unique<ExitPasswordWindow>(
            *r.pausePasswordWindow, *r.pausePasswordField, m_store);
        m_pausePasswordWindow->setExtendedDelegate([this] {
            TextField& field = m_pausePasswordWindow->passwordField();
            std::string typed = field.stringValue();
            // Left empty, so that the next pause asks afresh.
            field.setStringValue("");
            m_pausePasswordWindow->window().close();
            if (m_pendingPause.count() > 0) pauseProtection(m_pendingPause, typed);
            m_pendingPause = std::chrono::seconds(0);
        });
    }
    m_shell.setApplicationDelegate(this);
}

WirewatchAppDelegate::~WirewatchAppDelegate() {
    m_alive->store(false);
    {
        std::lock_guard lock(m_timersMutex);
        for (auto& timer : m_timers) timer->cancel();
    }
    if (m_reachability) m_reachability->stopNotifier();
    if (m_usbObserver) NotificationCenter::defaultCenter().removeObserver(m_usbObserver);
    m_shell.setApplicationDelegate(nullptr);
    {
        std::lock_guard lock(m_threadMutex);
        m_checkThreadStop = true;
        m_checkWanted.notify_all();
    }
    if (m_checkThread.joinable()) m_checkThread.join();
    m_protection->audit().agentStopping();
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
    m_interfacesMenu = menu.addSubmenu("Interfaces");
    m_interfacesMenu->addItem("No check has run yet", nullptr);
    using namespace std::chrono_literals;
    m_pauseItems[0] =
        menu.addItem("Pause protection for 15 minutes", [this] { pauseFromMenu(15min); });
    m_pauseItems[1] = menu.addItem("Pause protection for 1 hour", [this] { pauseFromMenu(1h); });
    m_resumeItem = menu.addItem("Resume", [this] { resumeProtection(); });
    m_resumeItem->setHidden(true);
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
                m_protection->audit().networkChanged(
                    m_config.networkChangeTime ? m_config.networkChangeTime() : std::nullopt);
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
    if (r.pausePasswordWindow) r.pausePasswordWindow->setLevel(25);
    if (m_exitPasswordWindow) {
        m_exitPasswordWindow->setExtendedDelegate([this] { userDidEnteredCorrectPassword(); });
    }

    // A policy found at start is announced once the log is up.
    notePolicy();

    // The handler runs on the posting thread: the check's, inside the inventory.
    m_usbObserver = NotificationCenter::defaultCenter().addObserver(
        kDetectedConnectedUSBHotspotNotification, nullptr,
        [this](const Notification& n) { usbDeviceDetected(n); });
}

void WirewatchAppDelegate::usbDeviceDetected(const Notification& notification) {
    if (!m_usbRegistry) return;
    ww::usbDeviceDetected(notification, m_state.hotspotInterfacesToDelete(), *m_usbRegistry);
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
        std::fprintf(stderr,
                     "Wirewatch: the Defaults resource %s could not be read (%s); using "
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
    WWLogInfo(
        "---------------------------------------------------------------------------------------");
    WWLogInfo("Starting Wirewatch Version %@.%@", m_config.shortVersion, m_config.buildVersion);
    WWLogInfo("OS Version %@", WWUtils::GetOSVersionString());
}

TerminateReply WirewatchAppDelegate::applicationShouldTerminate() {
    if (exitpassword::isExitGuarded(m_store) && !m_userEnteredCorrectPassword) {
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
    std::unique_lock lock(m_threadMutex);
    m_checkWantedFlag = true;
    if (m_checkThread.joinable()) {
        // Woken once the lock is free, or it would wake only to wait for it.
        lock.unlock();
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
    UserDefaults::OneLook oneLook(m_store);
    m_protection->checkStarted();
    {
        std::lock_guard lock(m_eventsMutex);
        m_checkActions.clear();
    }
    notePolicy();
    if (m_config.inventory) {
        m_config.inventory(m_state);
    } else {
        NetworkInventory::Hooks hooks;
        hooks.hotspotShutOffEnabled = [this] {
            return m_store.boolForKey("DisableUSBConnectedPersonalHotspot");
        };
        if (m_usbRegistry) {
            hooks.detectConnectedUSBHotspot = [registry = m_usbRegistry] {
                WWUtils::detectConnectedUSBHotspot(*registry);
            };
        }
        NetworkInventory inventory(m_config.commands, m_state, std::move(hooks));
        inventory.setInterfaceOverrides(
            parseInterfaceOverrides(m_store.objectForKey("InterfaceOverrides")));
        inventory.getAllNetworksDetails();
    }
    // The rule and where it came from, in one read.
    SettingSource source = SettingSource::None;
    std::optional<plist::Value> ruleValue =
        m_store.objectForKey("selectedInterfaceOption", &source);
    std::int64_t rule = ruleValue ? integerValueOf(*ruleValue) : 0;
    {
        std::lock_guard lock(m_eventsMutex);
        m_ruleReport = SettingReport{rule, source};
        m_auditContext.rule = std::to_string(rule);
        m_auditContext.ruleSource = settingSourceName(source);
        m_auditContext.dryRun = m_config.dryRun;
    }
    {
        CWInterfacePtr iface = m_wifiClient.interface();
        std::lock_guard lock(m_interfaceMutex);
        m_currentInterface = std::move(iface);
    }
    auto inputs = m_protection->beforeRules(m_state.viaEthernet, m_state.viaWifi);
    m_checkIcon.reset();
    if (inputs.paused) {
        applyPaused(inputs.wireless);
    } else {
        applyRules(rule, inputs.wired, inputs.wireless);
    }
    m_protection->afterRules(m_checkIcon, m_checkIcon == std::string(kWarningIcon));
    if (std::string tip = m_protection->toolTip(); tip != m_toolTip) {
        m_toolTip = tip;
        m_shell.mainThread().post([this, tip] {
            if (m_statusItem) m_statusItem->setToolTip(tip);
        });
    }
    scheduleNextCheck();
    m_store.synchronize();
    if (m_shouldShowWiFiInfo) readWiFiDetails();
    if (m_isRunning) {
        m_shell.mainThread().postAndWait([this] { updateInterfaceInfo(); });
    }
}

// While paused no rule acts; the icon warns that nothing protects.
void WirewatchAppDelegate::applyPaused(bool wireless) {
    m_shouldShowWiFiInfo = wireless;
    showRuleIcon(kWarningIcon, "protection is paused");
}

void WirewatchAppDelegate::applyRules(std::int64_t rule, bool wired, bool wireless) {
    CWInterfacePtr iface = currentInterface();
    std::optional<std::string> error;

    auto disconnectWiFi = [&] {
        WWLogErrorIn(kCheckFn,
                     "AppDelegate: disconnecting wireless as wired is connected, rule is "
                     "configured to do so.. ");
        if (m_isChanged) {
            powerChange(iface, true, &error, "before disconnecting it");
            m_isChanged = false;
        }
        const bool ok = wifi::disassociate(iface, &error);
        if (!iface && wireless) error = kNoWiFiBackend;
        if (iface || wireless) {
            AgentEvent e;
            e.kind = AgentEventKind::WifiDisconnected;
            e.interface = m_state.wifiInterfaceName.get().value_or("");
            e.ok = ok;
            // Only a Wi-Fi that the inventory saw connected had a network to leave.
            e.changed = ok && wireless;
            if (!ok) e.error = error.value_or("the interface gave no reason");
            e.message = ok ? "Wi-Fi disconnected from its network because a wired link is up"
                           : "Wi-Fi could not be disconnected: " + *e.error;
            emitEvent(std::move(e));
        }
        m_protection->didCut(false, ok, wireless);
    };
    auto powerOffWiFi = [&] {
        bool ok = powerChange(iface, false, &error, "because a wired link is up");
        if (!ok) {
            WWLogInfoIn(kCheckFn, "CoreWLAN returend error as :%@ ", error);
        }
        m_protection->didCut(true, ok, wireless);
    };

    if (wired && wireless) {
        WWLogErrorIn(
            kCheckFn,
            "AppDelegate: both wireless and wired are connected on system, applying rule....");
        m_shouldShowWiFiInfo = true;
        if (rule == 0) {
            disconnectWiFi();
            showRuleIcon(kNormalIcon, nullptr);
        } else if (rule == 1) {
            m_isChanged = true;
            WWLogErrorIn(kCheckFn,
                         "AppDelegate: disabling wireless as wired is connected, rule is "
                         "configured to do so.. ");
            powerOffWiFi();
            showRuleIcon(kNormalIcon, nullptr);
        } else {
            WWLogErrorIn(
                kCheckFn,
                "AppDelegate: both wired & wireless are connected, and no rule is configured...");
            showRuleIcon(kWarningIcon,
                         "a wired link and Wi-Fi are both up and no rule is configured");
        }
    } else if (wired) {
        WWLogErrorIn(kCheckFn,
                     "AppDelegate: only wired are connected on system, applying rule....");
        if (rule == 0) {
            disconnectWiFi();
            m_shouldShowWiFiInfo = false;
            showRuleIcon(kNormalIcon, nullptr);
        } else if (rule == 1) {
            WWLogErrorIn(kCheckFn,
                         "AppDelegate: disabling wireless as wired is connected, rule is "
                         "configured to do so.. ");
            m_isChanged = true;
            powerOffWiFi();
            m_shouldShowWiFiInfo = false;
            showRuleIcon(kNormalIcon, nullptr);
        } else {
            WWLogErrorIn(kCheckFn,
                         "AppDelegate: only connected via wired and no rule is configured...");
            m_shouldShowWiFiInfo = false;
            showRuleIcon(kWarningIcon, "a wired link is up and no rule is configured");
        }
    } else if (wireless) {
        WWLogErrorIn(kCheckFn,
                     "AppDelegate: system is not connected via wired may be wifi or hotspot, "
                     "applying rule....");
        WWLogErrorIn(
            kCheckFn,
            "AppDelegate: system is connected via wifi only so no rule will be executed......");
        m_shouldShowWiFiInfo = true;
        showRuleIcon(kNormalIcon, nullptr);
    } else {
        WWLogErrorIn(kCheckFn,
                     "AppDelegate: system is not connected via wired may be wifi or hotspot, "
                     "applying rule....");
        WWLogErrorIn(kCheckFn,
                     "AppDelegate: system is not connected via wireless and checking if wireless "
                     "needs to be enabled..");
        if (m_store.integerForKey("enableWireless") == 1) {
            // Flap damping may hold Wi-Fi off; it never holds it on.
            if (m_protection->mayRestore()) {
                WWLogErrorIn(kCheckFn,
                             "AppDelegate: enabling wireless as enable wireless is true...");
                if (!powerChange(iface, true, &error, "because nothing is connected")) {
                    WWLogInfoIn(kCheckFn, "CoreWLAN returend error as :%@ ", error);
                }
                m_protection->didRestore();
            }
            m_shouldShowWiFiInfo = true;
            showRuleIcon(kNormalIcon, nullptr);
        } else if (m_store.integerForKey("enableWireless") == 0) {
            WWLogInfoIn(kCheckFn,
                        "AppDelegate: no connectivity to internet and user havent' selected to "
                        "enable wireless so nothing to do..");
            m_shouldShowWiFiInfo = true;
            showRuleIcon(kWarningIcon, "nothing is connected and Wi-Fi is not to be switched on");
        }
    }
}

bool WirewatchAppDelegate::powerChange(const CWInterfacePtr& iface, bool on,
                                       std::optional<std::string>* error, const char* why) {
    const bool before = iface && iface->powerOn();
    const bool ok = wifi::setPower(iface, on, error);
    // No device and no Wi-Fi link either: no Wi-Fi hardware, nothing to act on.
    if (!iface && !m_state.viaWifi) return ok;
    if (!iface && error) *error = kNoWiFiBackend;
    AgentEvent e;
    e.kind = on ? AgentEventKind::WifiSwitchedOn : AgentEventKind::WifiSwitchedOff;
    e.interface = m_state.wifiInterfaceName.get().value_or("");
    e.ok = ok;
    e.changed = ok && before != on;
    if (!ok) e.error = error && *error ? **error : std::string("the interface gave no reason");
    e.message =
        ok ? std::string("Wi-Fi switched ") + (on ? "on " : "off ") + why
           : std::string("Wi-Fi could not be switched ") + (on ? "on" : "off") + ": " + *e.error;
    emitEvent(std::move(e));
    return ok;
}

void WirewatchAppDelegate::showRuleIcon(const char* baseName, const char* warningWhy) {
    const bool warning = std::string(baseName) == kWarningIcon;
    const bool wasWarning = m_ruleIcon == kWarningIcon;
    m_ruleIcon = baseName;
    m_checkIcon = baseName;
    setMenubarStatusImageTo(baseName);
    if (warning == wasWarning) return;
    AgentEvent e;
    e.kind = warning ? AgentEventKind::WarningEntered : AgentEventKind::WarningLeft;
    e.interface = warning && m_state.viaEthernet ? m_state.ethernetInterfaceName.get().value_or("")
                                                 : std::string();
    e.message = warning ? std::string("Warning: ") + warningWhy : "Warning cleared";
    emitEvent(std::move(e));
}

void WirewatchAppDelegate::notePolicy() {
    std::shared_ptr<ManagedPolicy> policy = m_store.managedPolicy();
    if (!policy) return;
    std::uint64_t generation = policy->generation();
    plist::Value::Dictionary inForce = policy->current();
    {
        std::lock_guard lock(m_eventsMutex);
        if (generation == m_policyGeneration) return;
        m_policyGeneration = generation;
    }
    if (inForce.empty()) return;
    std::string keys;
    for (const auto& [key, value] : inForce) keys += (keys.empty() ? "" : ", ") + key;
    AgentEvent e;
    e.kind = AgentEventKind::PolicyApplied;
    e.message = "Policy " + policy->path() + " applied: " + keys;
    emitEvent(std::move(e));
}

void WirewatchAppDelegate::emitEvent(AgentEvent event) {
    if (m_config.dryRun && isWifiAction(event.kind)) event.message = "Dry run: " + event.message;
    AuditContext context;
    bool audit = false;
    {
        std::lock_guard lock(m_eventsMutex);
        if (isWifiAction(event.kind)) m_checkActions.push_back(event);
        context = m_auditContext;
        // Rules repeat every five seconds: only a change, or a new failure,
        // is worth a record.
        if (event.ok) {
            audit = event.changed;
            if (audit) m_lastAuditedFailure.clear();
        } else {
            std::string key =
                std::string(agentEventName(event.kind)) + "|" + event.error.value_or("");
            audit = key != m_lastAuditedFailure;
            m_lastAuditedFailure = key;
        }
    }
    if (!audit || !auditWanted()) return;
    completeAuditContext(context);
    m_config.auditSink->record(event, context);
}

bool WirewatchAppDelegate::auditWanted() const {
    if (!m_config.auditSink) return false;
    std::optional<plist::Value> wanted = m_store.policyValueForKey("AuditToJournal");
    return wanted && boolValueOf(*wanted);
}

void WirewatchAppDelegate::completeAuditContext(AuditContext& context) const {
    if (!context.rule.empty()) return;
    // Before the first check (a policy found at start): read the rule now.
    SettingSource source = m_store.sourceForKey("selectedInterfaceOption");
    context.rule = std::to_string(m_store.integerForKey("selectedInterfaceOption"));
    context.ruleSource = settingSourceName(source);
    context.dryRun = m_config.dryRun;
}

void WirewatchAppDelegate::auditExposure(const Exposure& exposure) {
    if (!auditWanted()) return;
    AuditContext context;
    {
        std::lock_guard lock(m_eventsMutex);
        context = m_auditContext;
    }
    completeAuditContext(context);
    m_config.auditSink->recordExposure(exposure, context);
}

std::vector<AgentEvent> WirewatchAppDelegate::lastCheckActions() const {
    std::lock_guard lock(m_eventsMutex);
    return m_checkActions;
}

CheckReport WirewatchAppDelegate::checkReport() {
    CheckReport r;
    r.icon = m_iconBaseName;
    r.viaEthernet = m_state.viaEthernet;
    r.viaWifi = m_state.viaWifi;
    {
        std::lock_guard lock(m_eventsMutex);
        r.rule = m_ruleReport;
        r.actions = m_checkActions;
        r.wifi = m_wifiReport;
    }
    r.enableWireless = {m_store.integerForKey("enableWireless"),
                        m_store.sourceForKey("enableWireless")};
    r.hotspotShutOff = m_store.boolForKey("DisableUSBConnectedPersonalHotspot");
    r.hotspotShutOffSource = m_store.sourceForKey("DisableUSBConnectedPersonalHotspot");
    r.showsWiFi = m_shouldShowWiFiInfo;
    r.wired.interface = m_state.ethernetInterfaceName.get();
    r.wired.displayName = m_state.unknonInterfaceName.get();
    r.wired.ipAddress = lineValue(m_state.unknownInterfaceIP.get(), "IP address: ");
    r.wired.macAddress = lineValue(m_state.ethernetMacAddress.get(), "MAC address: ");
    for (MenuItem* item :
         {m_items.ssid, m_items.bssid, m_items.rssi, m_items.noise, m_items.channel,
          m_items.mcsIndex, m_items.security, m_items.opMode, m_items.phyMode, m_items.txRate,
          m_items.ipAddress, m_items.macAddress, m_items.interfaceName}) {
        if (!item->isHidden()) r.menu.push_back(item->title());
    }
    if (std::shared_ptr<ManagedPolicy> policy = m_store.managedPolicy()) {
        plist::Value::Dictionary inForce = policy->current();
        if (!inForce.empty()) {
            r.policyPath = policy->path();
            for (const auto& [key, value] : inForce) r.policyKeys.push_back(key);
        }
    }
    return r;
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
    updateBeyondItems();
    m_shell.mainThread().post([this] {
        if (!m_isRunning) checkInterfaceStatus();
    });
}

void WirewatchAppDelegate::showHideMenuItems(bool hideWifiItems) {
    for (MenuItem* item :
         {m_items.ssid, m_items.bssid, m_items.rssi, m_items.noise, m_items.channel,
          m_items.mcsIndex, m_items.security, m_items.opMode, m_items.phyMode, m_items.txRate}) {
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
    showAuditLine();
    if (Window* w = m_shell.resources().aboutWindow) w->makeKeyAndOrderFront();
}

void WirewatchAppDelegate::showAuditLine() {
    if (TextField* line = m_shell.resources().appAuditText) {
        line->setStringValue(exposureSummaryLine(m_protection->audit().today()));
    }
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
    updateBeyondItems();
    // An About window left open keeps today's figures current.
    if (Window* about = m_shell.resources().aboutWindow; about && about->isVisible()) {
        showAuditLine();
    }
    if (m_checkFinished) m_checkFinished();
    if (m_checkAgain) {
        m_checkAgain = false;
        m_shell.mainThread().post([this] { checkInterfaceStatus(); });
    }
}

// ---- beyond the rules --------------------------------------------------------------------

void WirewatchAppDelegate::scheduledCheck() {
    // A check that runs now saw the state before the moment that is due.
    if (m_isRunning) {
        m_checkAgain = true;
        return;
    }
    checkInterfaceStatus();
}

void WirewatchAppDelegate::scheduleNextCheck() {
    auto next = m_protection->nextDeadline();
    if (!next) return;
    const auto now = m_protection->clock().now();
    // One pending timer per moment: a check before it changes nothing.
    if (m_scheduled && *m_scheduled > now && *m_scheduled <= *next) return;
    m_scheduled = *next;
    auto delay = std::max(*next - now, Clock::SteadyTime::duration::zero());
    if (m_config.scheduleCheck) {
        m_config.scheduleCheck(delay);
        return;
    }
    if (!m_timerQueue) m_timerQueue = dispatch::SerialQueue::create("ww.schedule");
    std::weak_ptr<std::atomic<bool>> alive = m_alive;
    auto timer = dispatch::OneShotTimer::schedule(m_timerQueue, delay, [this, alive] {
        auto a = alive.lock();
        if (!a || !a->load()) return;
        m_shell.mainThread().post([this, alive] {
            auto a = alive.lock();
            if (a && a->load()) scheduledCheck();
        });
    });
    std::lock_guard lock(m_timersMutex);
    auto timerNow = dispatch::OneShotTimer::Clock::now();
    std::erase_if(m_timers,
                  [timerNow](const dispatch::TimerPtr& t) { return t->deadline() < timerNow; });
    m_timers.push_back(timer);
}

ProtectionPause::Result WirewatchAppDelegate::pauseProtection(
    std::chrono::seconds duration, const std::optional<std::string>& password) {
    auto result = m_protection->pause().pause(duration, password);
    if (result == ProtectionPause::Result::Done) scheduledCheck();
    updateBeyondItems();
    return result;
}

void WirewatchAppDelegate::resumeProtection() {
    m_protection->pause().resume();
    scheduledCheck();
    updateBeyondItems();
}

void WirewatchAppDelegate::pauseFromMenu(std::chrono::seconds duration) {
    ProtectionPause& pause = m_protection->pause();
    if (pause.isRuleLocked()) {
        // The item is disabled then; a policy that arrived since it was drawn
        // still wins.
        updateBeyondItems();
        return;
    }
    if (pause.needsPassword() && m_pausePasswordWindow) {
        m_pendingPause = duration;
        m_pausePasswordWindow->passwordField().setStringValue("");
        m_shell.activateIgnoringOtherApps();
        m_pausePasswordWindow->window().makeKeyAndOrderFront();
        return;
    }
    pauseProtection(duration, std::nullopt);
}

bool WirewatchAppDelegate::setInterfaceOverride(const std::string& name, InterfaceOverride choice) {
    constexpr const char* kKey = "InterfaceOverrides";
    if (m_store.isManaged(kKey)) return false;
    // Only the user's own dictionary is edited; entries it holds that this
    // agent does not understand are kept as they are.
    plist::Value overrides = plist::Value::dictionary();
    if (auto stored = m_store.objectForKey(kKey); stored && stored->isDictionary()) {
        overrides = *stored;
    }
    plist::Value::Dictionary& entries = *overrides.dictionaryValue();
    if (choice == InterfaceOverride::Automatic) {
        entries.erase(name);
    } else {
        entries[name] = plist::Value::string(interfaceOverrideName(choice));
    }
    if (entries.empty()) {
        m_store.removeObjectForKey(kKey);
    } else {
        m_store.setObject(overrides, kKey);
    }
    m_store.synchronize();
    // Drawn afresh after the check, also when the choice was the one in force
    // (a toolkit may have toggled its mark).
    m_interfacesShown.clear();
    WWLogInfo("Interface %@ set to %@ from the menu", text::singleLine(name),
              interfaceOverrideName(choice));
    scheduledCheck();
    return true;
}

void WirewatchAppDelegate::updateBeyondItems() {
    ProtectionPause& pause = m_protection->pause();
    const bool locked = pause.isRuleLocked();
    for (MenuItem* item : m_pauseItems) {
        if (item) item->setEnabled(!locked);
    }
    if (m_resumeItem) m_resumeItem->setHidden(!pause.isPaused());

    if (!m_interfacesMenu) return;
    InterfaceReports reports = m_state.interfaceReports();
    const bool overridesLocked = m_store.isManaged("InterfaceOverrides");
    std::vector<std::string> shown;
    for (const InterfaceReport& r : reports) {
        shown.push_back(inspectorLine(r) + '\n' + interfaceOverrideName(r.override));
    }
    shown.push_back(overridesLocked ? "locked" : "open");
    if (shown == m_interfacesShown) return;
    m_interfacesShown = shown;

    Menu& menu = *m_interfacesMenu;
    menu.removeAllItems();
    if (reports.empty()) {
        menu.addItem("No interfaces seen", nullptr);
        return;
    }
    for (const InterfaceReport& r : reports) {
        Menu* choices = menu.addSubmenu(inspectorLine(r));
        static constexpr std::pair<const char*, InterfaceOverride> kChoices[] = {
            {"Count as wired", InterfaceOverride::Wired},
            {"Ignore", InterfaceOverride::Ignore},
            {"Automatic", InterfaceOverride::Automatic},
        };
        for (const auto& [title, choice] : kChoices) {
            MenuItem* item = choices->addItem(title, [this, name = r.name, choice = choice] {
                setInterfaceOverride(name, choice);
            });
            item->setChecked(r.override == choice);
            item->setEnabled(!overridesLocked);
        }
    }
    if (overridesLocked) {
        menu.addSeparator();
        menu.addItem("Set by your administrator", nullptr);
    }
}

void WirewatchAppDelegate::applicationWillTerminate() { m_protection->audit().agentStopping(); }

void WirewatchAppDelegate::readWiFiDetails() {
    executeAirPortCommand(m_config.commands, m_state);
    CWInterfacePtr iface = currentInterface();
    WiFiReport w;
    w.present = static_cast<bool>(iface);
    w.interface = m_state.wifiInterfaceName.get();
    w.power = iface && iface->powerOn();
    w.interfaceMode = iface ? iface->interfaceMode() : 0;
    if (w.interfaceMode != 0) {
        w.security = iface->security();
        w.phyMode = iface->activePHYMode();
        w.ssid = iface->ssid();
        w.channel = iface->wlanChannel();
        w.bssid = iface->bssid();
        w.transmitRate = iface->transmitRate();
        w.rssi = iface->rssiValue();
        w.noise = iface->noiseMeasurement();
    }
    w.mcsIndex = m_state.mcsInx.get();
    m_wifiRead = std::move(w);
}

void WirewatchAppDelegate::updateWiFiItems() {
    showHideMenuItems(false);
    // The values were read by the check (readWiFiDetails); only names and
    // texts are made here.
    WiFiReport w = m_wifiRead;
    const bool p = w.power;
    const std::int64_t mode = w.interfaceMode;
    auto keep = [this, &w] {
        std::lock_guard lock(m_eventsMutex);
        m_wifiReport = w;
    };
    if (mode == 0) {
        w.mcsIndex.reset();
        return keep();
    }

    w.opModeName = WWUtils::stringForOpMode(mode, m_OSXVersion);
    setMenuItemText(menuTexts::opMode(p, w.opModeName), m_items.opMode);
    w.securityName = WWUtils::stringForSecurityMode(w.security, m_OSXVersion);
    setMenuItemText(menuTexts::security(p, w.securityName), m_items.security);
    w.phyModeName = WWUtils::stringForPHYMode(w.phyMode, m_OSXVersion);
    setMenuItemText(menuTexts::phyMode(p, w.phyModeName), m_items.phyMode);
    setMenuItemText(menuTexts::ssid(p, w.ssid), m_items.ssid);
    setMenuItemText(menuTexts::channel(p, w.channel), m_items.channel);
    std::optional<std::string> bssid = w.bssid;
    w.bssid.reset();
    if (bssid) w.bssid = WWUtils::normalizeMAC(bssid);
    setMenuItemText(menuTexts::bssid(p, WWUtils::normalizeMAC(bssid)), m_items.bssid);
    setMenuItemText(menuTexts::transmitRate(p, w.transmitRate), m_items.txRate);
    setMenuItemText(menuTexts::rssi(p, w.rssi), m_items.rssi);
    setMenuItemText(menuTexts::noise(p, w.noise), m_items.noise);
    setMenuItemText(menuTexts::mcsIndex(p, w.mcsIndex), m_items.mcsIndex);
    keep();
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
    for (MenuItem* item :
         {m_items.ssid, m_items.bssid, m_items.rssi, m_items.noise, m_items.channel,
          m_items.mcsIndex, m_items.security, m_items.opMode, m_items.phyMode, m_items.txRate,
          m_items.ipAddress, m_items.macAddress, m_items.interfaceName}) {
        // One line per item, whatever a network calls itself: scripts read this.
        if (!item->isHidden()) out += text::singleLine(item->title()) + "\n";
    }
    return out;
}

}  // namespace ww
