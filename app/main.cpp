// The wirewatch program: parses the command line, picks the platform pieces,
// and runs the application delegate on the main run loop.

#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/CommandLine.h"
#include "app/CrashReporter.h"
#include "app/UserDefaults.h"
#include "app/WiFiBackends.h"
#include "app/WirewatchAppDelegate.h"
#include "discovery/CommandTable.h"
#include "logging/DDLog.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/headless/HeadlessShell.h"
#include "platform/linux/netlink/NetlinkReachabilityService.h"
#include "platform/linux/usb/SysfsUsbRegistry.h"
#include "reachability/ReachabilityService.h"
#include "settings/AppSupportPath.h"
#include "tools/BuiltInTools.h"
#include "usb/DryRunUsbRegistry.h"

#ifndef WW_SHORT_VERSION
#define WW_SHORT_VERSION "1.0"
#endif
#ifndef WW_BUILD_NUMBER
#define WW_BUILD_NUMBER "1"
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

    // Resolve every setting once and hand it down to the tools we start.
    std::string toolsDir = o.toolsDir.value_or(defaultToolsDirectory());
    if (!isDirectory(toolsDir)) return badValue("tools directory '" + toolsDir + "' does not exist");
    std::string wifiSpec = o.wifi.value_or("none");
    std::string prefsPath = o.prefs.value_or(UserDefaults::defaultPath());
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
    ::setenv("WIREWATCH_LOGS_DIR", logsDir.c_str(), 1);
    ::setenv("WIREWATCH_USB_ROOT", usbRoot.c_str(), 1);

    std::string why;
    std::unique_ptr<WiFiClient> wifi = makeWiFiClient(wifiSpec, &why);
    if (!wifi) return badValue("--wifi " + wifiSpec + ": " + why);
    if (o.dryRun) wifi = makeDryRunWiFiClient(std::move(wifi));

    if (!o.headless && !o.once) {
        std::fprintf(stderr, "wirewatch: this build has no tray; running headless "
                             "(stop it with Ctrl-C)\n");
    }

    // SIGINT and SIGTERM end the run loop through a thread that waits for
    // them; every other thread (and the tools we start, whose runner resets
    // the mask) keeps them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::thread([stopSignals] {
        int sig = 0;
        if (sigwait(&stopSignals, &sig) == 0) dispatch::RunLoop::main().stop();
    }).detach();

    file::makeDirectories(logsDir);
    installCrashReporter(logsDir, std::string(WW_SHORT_VERSION) + " (" + WW_BUILD_NUMBER + ")");

    // Route and address changes reach the agent through rtnetlink.
    std::string netlinkError;
    if (auto service = netlink::NetlinkReachabilityService::create({}, netlinkError)) {
        setReachabilityService(service);
    } else {
        std::fprintf(stderr, "wirewatch: no network change notifications (%s); checking every "
                             "five seconds only\n", netlinkError.c_str());
    }

    // The USB devices; with --dry-run the hotspot guard only says what it would write.
    sysfs::SysfsUsbRegistry sysfsUsb(usbRoot);
    DryRunUsbRegistry dryRunUsb(sysfsUsb);
    UsbRegistry& usb = o.dryRun ? static_cast<UsbRegistry&>(dryRunUsb) : sysfsUsb;

    AgentConfig config;
    config.usbRegistry = &usb;
    // Unset: the default host; empty: no monitor, the timer alone starts checks.
    const char* reachabilityHost = std::getenv("WIREWATCH_REACHABILITY_HOST");
    config.reachabilityHost = reachabilityHost ? reachabilityHost : "www.debian.org";
    // The installed default tools answer in-process (same bytes, no process);
    // a folder named by --tools-dir or WIREWATCH_TOOLS_DIR runs its programs.
    config.commands = o.toolsDir ? CommandTable::forToolsDirectory(toolsDir)
                                 : tools::builtInToolsTable(toolsDir);
    config.logsDirectory = logsDir;
    config.defaultsResourcePath = executableDirectory() + "/../share/wirewatch/Defaults.plist";
    config.shortVersion = WW_SHORT_VERSION;
    config.buildVersion = WW_BUILD_NUMBER;

    HeadlessShell shell(dispatch::RunLoop::main());
    UserDefaults defaults(prefsPath);
    WirewatchAppDelegate delegate(shell, defaults, *wifi, config);
    delegate.awakeFromNib();
    delegate.applicationDidFinishLaunching();

    if (o.once) {
        delegate.setCheckFinishedHandler([] { dispatch::RunLoop::main().stop(); });
        dispatch::RunLoop::main().post([&delegate] { delegate.checkInterfaceStatus(); });
    }
    dispatch::RunLoop::main().run();

    // A check still running has its tools' time limit; do not wait for ever.
    delegate.waitForCheckThread(std::chrono::seconds(3));
    if (o.once) std::fputs(delegate.menuReport().c_str(), stdout);
    std::fflush(stdout);
    DDLog::flushLog();
    return 0;
}
