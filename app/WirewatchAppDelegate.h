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

#include "app/Shell.h"
#include "app/UserDefaults.h"
#include "app/WiFiInterface.h"
#include "discovery/CommandTable.h"
#include "discovery/NetworkState.h"
#include "platform/foundation/NotificationCenter.h"

namespace ww {

class DDFileLogger;
class Reachability;
class UsbRegistry;
class ExitPasswordWindow;

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

    // Runs on the main thread at the end of every details refresh.
    void setCheckFinishedHandler(std::function<void()> handler) { m_checkFinished = std::move(handler); }

    // Waits until the running check has finished and then ends the check
    // thread (shutdown; the next check starts it again); false when the check
    // did not finish in time.
    bool waitForCheckThread(std::chrono::milliseconds timeout);

private:
    void loadStatusMenu();
    void applyRules(std::int64_t rule);
    void updateWiFiItems();
    void updateWiredItems();
    CWInterfacePtr currentInterface() const;

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
};

}  // namespace ww
