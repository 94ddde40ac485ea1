#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/AgentEvents.h"
#include "app/CheckReport.h"
#include "app/Clock.h"
#include "app/Notifications.h"
#include "app/ProtectionFeatures.h"
#include "app/Shell.h"
#include "app/UserDefaults.h"
#include "app/WiFiInterface.h"
#include "discovery/CommandTable.h"
#include "discovery/InterfaceInspector.h"
#include "discovery/NetworkState.h"
#include "platform/dispatch/Timer.h"
#include "platform/foundation/NotificationCenter.h"

namespace ww {

class DDFileLogger;
class Reachability;
class UsbRegistry;
class ExitPasswordWindow;
class ReportingUsbRegistry;

// Everything the delegate needs from the outside world, chosen by main().
struct AgentConfig {
    CommandTable commands;
    // The folder for the log files (the application support folder).
    std::string logsDirectory;
    // The "Defaults" property-list resource.
    std::string defaultsResourcePath;
    std::string shortVersion = "1.0";
    std::string buildVersion = "1";
    // Install the terminal and file loggers at start-up (tests may leave them out).
    bool installLoggers = true;
    // The public web host whose reachability changes trigger checks; empty for
    // none. The monitor only looks up routes and resolves the name.
    std::string reachabilityHost;
    // The USB devices, for the hotspot guard; none leaves the guard out.
    UsbRegistry* usbRegistry = nullptr;
    // Replaces the network inventory (tests): fills the state as a pass would.
    std::function<void(NetworkState&)> inventory;
    // Where audit events go while the policy sets AuditToJournal; none: nowhere.
    AuditSink* auditSink = nullptr;
    // Wi-Fi and USB changes are only pretended (the backends say so); events
    // and reports are marked as such.
    bool dryRun = false;
    // The clock of the timing features (grace, damping, pause, audit); none:
    // the real one.
    const Clock* clock = nullptr;
    // Whether the exposure audit is kept in the logs folder (a dry run, which
    // changes nothing, must not leave evidence of actions it did not take).
    bool keepExposureAudit = true;
    // Desktop notifications; none: never shown.
    Notifier* notifier = nullptr;
    // When the latest network change reported by the monitor happened (the
    // report may come a little later); empty: the report's own moment.
    std::function<std::optional<std::chrono::steady_clock::time_point>()> networkChangeTime;
    // Starts a check after the delay on the main thread (tests); empty: a
    // one-shot timer.
    std::function<void(std::chrono::steady_clock::duration)> scheduleCheck;
};

// The application delegate: owns the run from launch to exit, the status item
// and its menu, the check cycle and the state shared between its steps.
class WirewatchAppDelegate : public ApplicationDelegate {
  public:
    static constexpr const char* kNormalIcon = "ww-menubar";
    static constexpr const char* kWarningIcon = "ww-warning-menubar";

    WirewatchAppDelegate(Shell& shell, UserDefaults& defaults, WiFiClient& wifiClient,
                         AgentConfig config);
    ~WirewatchAppDelegate() override;

    // ---- start-up and termination (main thread) ----
    void awakeFromNib();
    void applicationDidFinishLaunching();
    void setupUserPreferences();
    void setupDDLogger();
    TerminateReply applicationShouldTerminate() override;
    void userDidEnteredCorrectPassword();
    // The USB watcher's notification: shuts off the hotspots the inventory found.
    void usbDeviceDetected(const Notification& notification);

    // ---- the check cycle ----
    // The trigger (main thread): starts a check unless one runs.
    void checkInterfaceStatus();
    // The check itself, on its own thread.
    void checkInterfaceStatusRequest();

    // ---- status menu (main thread unless noted) ----
    // Any thread: queues the icon change to the main thread.
    void setMenubarStatusImageTo(const std::string& baseName);
    void menuWillOpen();
    void showHideMenuItems(bool hideWifiItems);
    void setMenuItemText(const std::string& text, MenuItem* menuItem);
    void dummyActionOnMenuItems();
    void showHideWindow();
    void openAboutPanel();
    void updateInterfaceInfo();

    // ---- state ----
    bool isRunning() const { return m_isRunning.load(); }
    bool isChanged() const { return m_isChanged.load(); }
    bool shouldShowWiFiInfo() const { return m_shouldShowWiFiInfo.load(); }
    float OSXVersion() const { return m_OSXVersion; }
    NetworkState& networkState() { return m_state; }
    Menu* statusMenu() const { return m_statusMenu.get(); }
    // The icon base name last shown (main thread).
    const std::string& currentIconBaseName() const { return m_iconBaseName; }
    std::shared_ptr<DDFileLogger> fileLogger() const { return m_fileLogger; }

    // The information items, in menu order.
    struct InfoItems {
        MenuItem *ssid, *bssid, *rssi, *noise, *channel, *mcsIndex, *security, *opMode, *phyMode,
            *txRate, *ipAddress, *macAddress, *interfaceName;
    };
    const InfoItems& infoItems() const { return m_items; }

    // The menu as text: "icon: NAME" and every visible information item's text,
    // one per line, control characters shown as "?" (main thread).
    std::string menuReport() const;

    // What the last finished check decided and showed (main thread, between checks).
    CheckReport checkReport();
    // The Wi-Fi and USB actions of the last check, in order.
    std::vector<AgentEvent> lastCheckActions() const;

    // Runs on the main thread at the end of every details refresh.
    void setCheckFinishedHandler(std::function<void()> handler) {
        m_checkFinished = std::move(handler);
    }

    // Waits until the running check has finished and then ends the check
    // thread (shutdown; the next check starts it again); false when the check
    // did not finish in time.
    bool waitForCheckThread(std::chrono::milliseconds timeout);

    // ---- beyond the rules (main thread) ----
    // Pausing protection for a while; asks for the exit password when one is
    // set and is refused while the rule is locked. A check follows at once.
    ProtectionPause::Result pauseProtection(std::chrono::seconds duration,
                                            const std::optional<std::string>& password);
    void resumeProtection();
    // The menu's pause items: pauses at once, or asks for the exit password
    // first when one is set (the pause follows the moment it is typed).
    void pauseFromMenu(std::chrono::seconds duration);
    // The inspector submenu's choices: stores the user's word on one
    // interface ("InterfaceOverrides"; Automatic removes it) and checks at
    // once. False, and nothing stored, while the policy holds the key.
    bool setInterfaceOverride(const std::string& name, InterfaceOverride choice);
    // The "Interfaces" submenu and the pause items follow the last check, the
    // policy and the pause.
    void updateBeyondItems();
    Menu* interfacesMenu() const { return m_interfacesMenu; }
    ProtectionFeatures& protection() { return *m_protection; }
    // The agent is about to exit: an open exposure ends now.
    void applicationWillTerminate();
    // A check at the earliest moment something is due, not at the next tick.
    void scheduledCheck();

  private:
    void loadStatusMenu();
    void applyRules(std::int64_t rule, bool wired, bool wireless);
    void applyPaused(bool wireless);
    void scheduleNextCheck();
    // The Wi-Fi link values the menu is to show, read on the check's thread:
    // a backend may wait on D-Bus or netlink, which must not hold the main thread.
    void readWiFiDetails();
    void updateWiFiItems();
    void updateWiredItems();
    CWInterfacePtr currentInterface() const;
    // Records an action or state change for the report and, when the policy
    // asks for it, the audit sink.
    void emitEvent(AgentEvent event);
    // Whether the policy sends audit records to the sink.
    bool auditWanted() const;
    void completeAuditContext(AuditContext& context) const;
    void auditExposure(const Exposure& exposure);
    // The About window's line with today's exposure figures.
    void showAuditLine();
    // Announces a policy that came into force since the last look.
    void notePolicy();
    // The rules' icon step, noting when the warning starts or ends.
    void showRuleIcon(const char* baseName, const char* warningWhy);
    bool powerChange(const CWInterfacePtr& iface, bool on, std::optional<std::string>* error,
                     const char* why);

    Shell& m_shell;
    UserDefaults* m_defaults = nullptr;  // set in awakeFromNib
    UserDefaults& m_store;
    WiFiClient& m_wifiClient;
    AgentConfig m_config;

    std::atomic<bool> m_isRunning{false};
    std::atomic<bool> m_isChanged{false};
    std::atomic<bool> m_shouldShowWiFiInfo{false};
    bool m_userEnteredCorrectPassword = false;
    float m_OSXVersion = 0;

    NetworkState m_state;
    mutable std::mutex m_interfaceMutex;
    CWInterfacePtr m_currentInterface;

    std::unique_ptr<Menu> m_statusMenu;
    std::unique_ptr<StatusItem> m_statusItem;
    InfoItems m_items{};
    std::string m_iconBaseName;
    std::shared_ptr<DDFileLogger> m_fileLogger;
    std::unique_ptr<ExitPasswordWindow> m_exitPasswordWindow;
    // The same gate in front of a pause; the pause chosen waits here.
    std::unique_ptr<ExitPasswordWindow> m_pausePasswordWindow;
    std::chrono::seconds m_pendingPause{0};
    Menu* m_interfacesMenu = nullptr;
    // What the submenu shows now; rebuilt only when this changes, so that an
    // open submenu is not torn down under the pointer at every check.
    std::vector<std::string> m_interfacesShown;
    MenuItem* m_pauseItems[2] = {nullptr, nullptr};
    MenuItem* m_resumeItem = nullptr;
    // Kept only to stop it when the delegate goes away: its blocks call us.
    std::shared_ptr<Reachability> m_reachability;
    NotificationCenter::Token m_usbObserver = 0;

    // One thread runs every check, one at a time; between checks it sleeps
    // until the next is asked for (a thread per check would cost a thread
    // start, a stack and an allocator arena each time).
    void checkThreadLoop();
    std::thread m_checkThread;
    std::mutex m_threadMutex;
    std::condition_variable m_threadDone;
    std::condition_variable m_checkWanted;
    bool m_checkWantedFlag = false;  // a check was asked for and not yet taken up
    bool m_checkRunning = false;     // the thread runs a check
    bool m_checkThreadStop = false;
    std::function<void()> m_checkFinished;

    // Events and report state. The check thread writes them while it runs,
    // the main thread reads them after it: the busy flag keeps them apart,
    // the mutex keeps the audit path honest when a trigger overlaps.
    mutable std::mutex m_eventsMutex;
    std::vector<AgentEvent> m_checkActions;
    AuditContext m_auditContext;
    std::string m_lastAuditedFailure;
    std::uint64_t m_policyGeneration = 0;
    std::string m_ruleIcon = kNormalIcon;  // the icon the rules last chose
    SettingReport m_ruleReport;
    WiFiReport m_wifiReport;
    WiFiReport m_wifiRead;  // written by the check before its hand-over, then read on main
    std::unique_ptr<ReportingUsbRegistry> m_reportingUsb;
    UsbRegistry* m_usbRegistry = nullptr;

    std::unique_ptr<ProtectionFeatures> m_protection;
    std::optional<std::string> m_checkIcon;        // check thread
    std::string m_toolTip = "Wirewatch";           // check thread
    std::optional<Clock::SteadyTime> m_scheduled;  // check thread
    bool m_checkAgain = false;                     // main thread
    std::shared_ptr<std::atomic<bool>> m_alive = std::make_shared<std::atomic<bool>>(true);
    dispatch::QueuePtr m_timerQueue;  // check thread
    std::mutex m_timersMutex;
    std::vector<dispatch::TimerPtr> m_timers;
};

}  // namespace ww
