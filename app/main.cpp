// The wirewatch program: parses the command line, picks the platform pieces,
// and runs the application delegate on the main run loop.

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/CheckReportJson.h"
#include "app/CommandLine.h"
#include "app/CrashReporter.h"
#include "app/DesktopSession.h"
#include "app/InfoCommands.h"
#include "app/ManagedPolicy.h"
#include "app/UserDefaults.h"
#include "app/WiFiBackends.h"
#include "app/WindowResourcesLoader.h"
#include "app/WirewatchAppDelegate.h"
#include "discovery/CommandTable.h"
#include "logging/DDLog.h"
#include "platform/dispatch/Group.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Text.h"
#include "platform/headless/HeadlessShell.h"
#include "platform/linux/autostart/XdgAutostart.h"
#include "platform/linux/journal/JournalAuditSink.h"
#include "platform/linux/netlink/NetlinkReachabilityService.h"
#include "platform/linux/notify/FreedesktopNotifier.h"
#include "platform/linux/usb/SysfsUsbRegistry.h"
#include "platform/linux/wifi/WiFiBackend.h"
#include "reachability/ReachabilityService.h"
#include "settings/AppSupportPath.h"
#include "settings/DryRunLoginItems.h"
#include "settings/ManagedExitPassword.h"
#include "tools/BuiltInTools.h"
#include "usb/DryRunUsbRegistry.h"

#ifndef WW_SHORT_VERSION
#define WW_SHORT_VERSION "1.0"
#endif
#ifndef WW_BUILD_NUMBER
#define WW_BUILD_NUMBER "1"
#endif
#ifndef WW_SUPPORT_EMAIL
#define WW_SUPPORT_EMAIL "support@wirewatch.invalid"
#endif

namespace {

std::string executableDirectory() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = '\0';
    return ww::file::dirName(buf);
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int badValue(const std::string& message) {
    std::fprintf(stderr, "wirewatch: %s\n", message.c_str());
    return 2;
}

// --hash-password: the password is standard input up to the first newline
// (a final carriage return is dropped too); the hash goes to standard output.
int hashPasswordFromStandardInput() {
    std::string password;
    if (!std::getline(std::cin, password) && password.empty()) {
        std::fprintf(stderr, "wirewatch: --hash-password reads the password from standard input; "
                             "none was given\n");
        return 1;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    if (password.empty()) {
        std::fprintf(stderr, "wirewatch: the password is empty\n");
        return 1;
    }
    std::optional<std::string> hash = ww::exitpassword::hashPassword(password);
    if (!hash) {
        std::fprintf(stderr, "wirewatch: the password could not be hashed\n");
        return 1;
    }
    std::printf("%s\n", hash->c_str());
    return 0;
}

// The lock that keeps a second resident agent of the session from running:
// held in $XDG_RUNTIME_DIR (the logs folder without one) for the process's
// life, with the holder's process ID inside. False when another agent holds
// it; a lock that cannot be taken at all does not keep the agent from its work.
bool lockResidentAgent(const std::string& logsDir, std::unique_ptr<ww::file::FileLock>* lock) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = runtime && runtime[0] == '/' && isDirectory(runtime) ? runtime : logsDir;
    ww::file::makeDirectories(folder);
    std::string path = folder + "/wirewatch-agent.lock";
    std::string why;
    bool busy = false;
    *lock = ww::file::FileLock::acquire(path, ww::file::FileLock::Wait::Try, &why, &busy);
    if (*lock) {
        (*lock)->setContent(std::to_string(::getpid()) + "\n");
        return true;
    }
    if (!busy) {
        std::fprintf(stderr, "wirewatch: the agent lock cannot be taken (%s)\n", why.c_str());
        return true;
    }
    std::string text = ww::file::readAll(path).value_or("");
    std::string holder(ww::text::trim(text));
    std::fprintf(stderr,
                 "wirewatch: an agent already runs in this session (process %s); this one "
                 "exits\n",
                 holder.empty() ? "unknown" : holder.c_str());
    return false;
}

// Start-up that never finishes (a file that blocks, a service that hangs) must
// not outlive a stop signal: the run loop that would see the stop does not run
// yet. Static, so that it outlives main() for the detached signal thread.
ww::dispatch::Group& startingUp() {
    static ww::dispatch::Group group;
    return group;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace ww;

    process::configureAllocatorForLongRuns();
    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLineResult parsed = parseCommandLine(args, [](const char* n) { return std::getenv(n); });
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "%s\n", parsed.error.c_str());
        return 2;
    }
    const CommandLineOptions& o = parsed.options;
    if (o.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (o.version) {
        std::printf("wirewatch %s (%s)\n", WW_SHORT_VERSION, WW_BUILD_NUMBER);
        return 0;
    }
    if (o.hashPassword) return hashPasswordFromStandardInput();

    // Resolve every setting once and hand it down to the tools we start.
    std::string toolsDir = o.toolsDir.value_or(defaultToolsDirectory());
    if (!isDirectory(toolsDir)) return badValue("tools directory '" + toolsDir + "' does not exist");
    std::string wifiSpec = o.wifi.value_or(kDefaultWiFiBackend);
    std::string prefsPath = o.prefs.value_or(UserDefaults::defaultPath());
    std::string policyPath = o.policy.value_or(ManagedPolicy::kDefaultPath);
    std::string logsDir = o.logsDir.value_or(WWUtils::getAppSupportDirPath());
    // A FIFO or a device (say /dev/zero behind a link) would be read for ever:
    // only a regular file, or none yet, can hold preferences.
    if (struct stat st {}; ::stat(prefsPath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        return badValue("preferences '" + prefsPath + "' is not a regular file");
    }
    std::string usbRoot = o.usbRoot.value_or("/sys");
    if (!isDirectory(usbRoot)) return badValue("USB root '" + usbRoot + "' does not exist");
    ::setenv("WIREWATCH_TOOLS_DIR", toolsDir.c_str(), 1);
    ::setenv("WIREWATCH_WIFI", wifiSpec.c_str(), 1);
    ::setenv("WIREWATCH_PREFS", prefsPath.c_str(), 1);
    ::setenv("WIREWATCH_POLICY", policyPath.c_str(), 1);
    ::setenv("WIREWATCH_LOGS_DIR", logsDir.c_str(), 1);
    ::setenv("WIREWATCH_USB_ROOT", usbRoot.c_str(), 1);

    // The installed default tools answer in-process (same bytes, no process);
    // a folder named by --tools-dir or WIREWATCH_TOOLS_DIR runs its programs.
    CommandTable commands = o.toolsDir ? CommandTable::forToolsDirectory(toolsDir)
                                       : tools::builtInToolsTable(toolsDir);

    if (o.interfaces || o.status) {
        UserDefaults readOnly(prefsPath);
        // What the administrator fixes holds here as in the agent (overrides
        // above all); a policy that cannot be used says why on standard error.
        readOnly.setManagedPolicy(
            std::make_shared<ManagedPolicy>(policyPath, [](const std::string& line) {
                std::fprintf(stderr, "wirewatch: %s\n", line.c_str());
            }));
        if (o.interfaces) {
            return runInterfacesCommand(commands, readOnly, o.json, stdout);
        }
        return runStatusCommand(logsDir, readOnly, o.json, stdout);
    }

    // One resident agent per user session; --once runs beside it.
    std::unique_ptr<file::FileLock> agentLock;
    if (!o.once && !lockResidentAgent(logsDir, &agentLock)) return 1;

    std::string why;
    std::unique_ptr<WiFiClient> wifi = makeWiFiClient(wifiSpec, &why);
    if (!wifi) return badValue("--wifi " + wifiSpec + ": " + why);
    // The built-in `airport -I` reads the device the check chose, rather than
    // looking (and waiting for a daemon that hangs) a second time.
    if (auto* linuxWiFi = dynamic_cast<linuxwifi::LinuxWiFiClient*>(wifi.get());
        linuxWiFi && !o.toolsDir) {
        commands =
            tools::builtInToolsTable(toolsDir, [linuxWiFi] { return linuxWiFi->lastDevice(); });
    }
    if (o.dryRun) wifi = makeDryRunWiFiClient(std::move(wifi));

    // SIGINT and SIGTERM end the run loop through a thread that waits for
    // them; every other thread (and the tools we start, whose runner resets
    // the mask) keeps them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    // The tray where there is a display; headless otherwise. (After the mask:
    // the toolkit starts threads of its own, which must not take the signals.)
    std::unique_ptr<DesktopSession> desktop;
    if (!o.headless && !o.once) {
        std::string noDesktop;
        desktop = DesktopSession::create(argc, argv, &noDesktop);
        if (!desktop) {
            std::fprintf(stderr, "wirewatch: %s; running headless (stop it with Ctrl-C)\n",
                         noDesktop.c_str());
        }
    }
    startingUp().enter();
    std::thread([stopSignals, session = desktop.get()] {
        int sig = 0;
        if (sigwait(&stopSignals, &sig) != 0) return;
        if (session) {
            session->stop();
        } else {
            dispatch::RunLoop::main().stop();
        }
        // A start-up that finishes soon still ends cleanly through the run
        // loop; one that does not ends here, of the signal itself.
        if (!startingUp().waitFor(std::chrono::seconds(5))) {
            std::fprintf(stderr, "wirewatch: start-up did not finish; ending on signal %d\n", sig);
            ::signal(sig, SIG_DFL);
            sigset_t one;
            sigemptyset(&one);
            sigaddset(&one, sig);
            pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
            ::raise(sig);
        }
    }).detach();

    file::makeDirectories(logsDir);
    installCrashReporter(logsDir, std::string(WW_SHORT_VERSION) + " (" + WW_BUILD_NUMBER + ")");

    // Route and address changes reach the agent through rtnetlink.
    std::string netlinkError;
    std::shared_ptr<netlink::NetlinkReachabilityService> netlinkService =
        netlink::NetlinkReachabilityService::create({}, netlinkError);
    if (netlinkService) {
        setReachabilityService(netlinkService);
    } else {
        std::fprintf(stderr, "wirewatch: no network change notifications (%s); checking every "
                             "five seconds only\n", netlinkError.c_str());
    }

    // The USB devices; with --dry-run the hotspot guard only says what it would write.
    sysfs::SysfsUsbRegistry sysfsUsb(usbRoot);
    DryRunUsbRegistry dryRunUsb(sysfsUsb);
    UsbRegistry& usb = o.dryRun ? static_cast<UsbRegistry&>(dryRunUsb) : sysfsUsb;

    // Shown only for the kinds switched on in the preferences.
    notify::FreedesktopNotifier notifier;

    AgentConfig config;
    config.usbRegistry = &usb;
    config.notifier = &notifier;
    config.keepExposureAudit = !o.dryRun;
    // The exposure audit times a change from its first event, not its report.
    if (netlinkService) {
        config.networkChangeTime = [netlinkService] { return netlinkService->lastChangeStarted(); };
    }
    // Unset: the default host; empty: no monitor, the timer alone starts checks.
    const char* reachabilityHost = std::getenv("WIREWATCH_REACHABILITY_HOST");
    config.reachabilityHost = reachabilityHost ? reachabilityHost : "www.debian.org";
    config.commands = commands;
    config.logsDirectory = logsDir;
    config.defaultsResourcePath = executableDirectory() + "/../share/wirewatch/Defaults.plist";
    config.shortVersion = WW_SHORT_VERSION;
    config.buildVersion = WW_BUILD_NUMBER;
    config.dryRun = o.dryRun;
    // Audit events reach the journal only while the policy sets AuditToJournal.
    journal::JournalAuditSink journalSink;
    config.auditSink = &journalSink;

    HeadlessShell headlessShell(dispatch::RunLoop::main());
    Shell& shell = desktop ? desktop->shell() : headlessShell;
    UserDefaults defaults(prefsPath);
    // The policy's lines go to the log once it is up (and to the terminal).
    auto policy = std::make_shared<ManagedPolicy>(policyPath, [](const std::string& line) {
        WWLogErrorIn("ManagedPolicy", "%@", line);
    });
    defaults.setManagedPolicy(policy);
    WirewatchAppDelegate delegate(shell, defaults, *wifi, config);

    // Start at login: the XDG autostart folder, and this program as the item.
    xdg::XdgAutostart autostart(xdg::XdgAutostart::defaultFolder().value_or(""),
                                std::getenv("PATH") ? std::getenv("PATH") : "");
    // A dry run changes no file outside the logs: autostart entries included.
    DryRunLoginItems dryRunAutostart(autostart);
    LoginItems& loginItems = o.dryRun ? static_cast<LoginItems&>(dryRunAutostart) : autostart;
    WindowResourcesLoader::Options nib;
    nib.settings.mainBundlePath = xdg::XdgAutostart::runningProgramPath();
    // Settings the administrator's policy fixes are shown locked.
    nib.settings.isLocked = [&defaults](const std::string& key) { return defaults.isManaged(key); };
    nib.about = {WW_SHORT_VERSION, WW_BUILD_NUMBER, WW_SUPPORT_EMAIL, {}};
    WindowResourcesLoader resources(shell, defaults, loginItems, nib);
    resources.load(delegate);
    delegate.applicationDidFinishLaunching();

    if (o.once) {
        delegate.setCheckFinishedHandler([] { dispatch::RunLoop::main().stop(); });
        dispatch::RunLoop::main().post([&delegate] { delegate.checkInterfaceStatus(); });
    }
    startingUp().leave();
    if (desktop) {
        desktop->run();
    } else {
        dispatch::RunLoop::main().run();
    }

    // A check still running has its tools' time limit; do not wait for ever.
    delegate.waitForCheckThread(std::chrono::seconds(3));
    delegate.applicationWillTerminate();
    if (o.once && o.json) {
        RunFacts run;
        run.version = std::string(WW_SHORT_VERSION) + "." + WW_BUILD_NUMBER;
        run.backend = wifi->backendName();
        run.backendRequested = wifiSpec.substr(0, wifiSpec.find(':'));
        run.dryRun = o.dryRun;
        std::fputs(checkReportJson(delegate.checkReport(), run).c_str(), stdout);
    } else if (o.once) {
        std::fputs(delegate.menuReport().c_str(), stdout);
    }
    std::fflush(stdout);
    DDLog::flushLog();
    return 0;
}
