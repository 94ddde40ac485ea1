#include "app/CommandLine.h"

#include <map>

namespace ww {

namespace {

struct ValueOption {
    std::optional<std::string> CommandLineOptions::*field;
    const char* environment;
};

const std::map<std::string, ValueOption>& valueOptions() {
    static const std::map<std::string, ValueOption> kOptions = {
        {"--tools-dir", {&CommandLineOptions::toolsDir, "WIREWATCH_TOOLS_DIR"}},
        {"--wifi", {&CommandLineOptions::wifi, "WIREWATCH_WIFI"}},
        {"--prefs", {&CommandLineOptions::prefs, "WIREWATCH_PREFS"}},
        {"--policy", {&CommandLineOptions::policy, "WIREWATCH_POLICY"}},
        {"--logs-dir", {&CommandLineOptions::logsDir, "WIREWATCH_LOGS_DIR"}},
        {"--usb-root", {&CommandLineOptions::usbRoot, "WIREWATCH_USB_ROOT"}},
    };
    return kOptions;
}

}  // namespace

CommandLineResult parseCommandLine(const std::vector<std::string>& args,
                                   const std::function<const char*(const char*)>& getenv) {
    CommandLineResult result;
    CommandLineOptions& o = result.options;
    auto fail = [&](const std::string& message) {
        result.error = "wirewatch: " + message + "\nTry 'wirewatch --help' for more information.";
        return result;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (arg.rfind("--", 0) == 0) {
            if (size_t eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                inlineValue = arg.substr(eq + 1);
            }
        }
        if (auto v = valueOptions().find(name); v != valueOptions().end()) {
            std::string value;
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return fail("option '" + name + "' needs a value");
            }
            if (value.empty()) return fail("option '" + name + "' needs a non-empty value");
            o.*(v->second.field) = value;
            continue;
        }
        if (inlineValue) return fail("option '" + name + "' takes no value");
        if (name == "--headless") {
            o.headless = true;
        } else if (name == "--once") {
            o.once = true;
        } else if (name == "--dry-run") {
            o.dryRun = true;
        } else if (name == "--json") {
            o.json = true;
        } else if (name == "--hash-password") {
            o.hashPassword = true;
        } else if (name == "--version") {
            o.version = true;
        } else if (name == "--interfaces") {
            o.interfaces = true;
        } else if (name == "--status") {
            o.status = true;
        } else if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name.rfind("-", 0) == 0) {
            return fail("unknown option '" + name + "'");
        } else {
            return fail("unexpected argument '" + name + "'");
        }
    }
    if (o.json && !o.once && !o.interfaces && !o.status) {
        return fail("option '--json' needs '--once', '--interfaces' or '--status'");
    }
    for (const auto& [name, option] : valueOptions()) {
        if (o.*(option.field)) continue;
        const char* env = getenv(option.environment);
        if (env && *env) o.*(option.field) = std::string(env);
    }
    return result;
}

std::string usageText() {
    return R"(Usage: wirewatch [OPTION]...
Keeps this computer from being on a wired network and Wi-Fi at the same time.

  --headless         run without a tray icon until SIGINT or SIGTERM
  --once             start, run one check at once, print the menu as text, exit
  --json             with --once: print the check as one JSON object instead
  --dry-run          log what would be done to Wi-Fi and USB devices, change nothing
  --tools-dir DIR    where the ifconfig, system_profiler, networksetup and airport
                     tools are (default: the installed ones)
  --wifi BACKEND     the Wi-Fi backend (default: auto):
                       auto    nm if NetworkManager manages a Wi-Fi device, else
                               iwd if it runs, else kernel if there is a
                               wireless device, else none (linux: the same)
                       nm      NetworkManager over D-Bus (no root; the active
                               desktop user may switch Wi-Fi and disconnect)
                       iwd     iwd over D-Bus (root or the group iwd admits:
                               netdev on Debian, wheel elsewhere)
                       kernel  nl80211 and the device's rfkill switch (writing
                               /dev/rfkill and disconnecting need root, or the
                               desktop seat for /dev/rfkill)
                       none    no Wi-Fi
                       sim:FILE  a simulated Wi-Fi kept in a property list
  --prefs FILE       the preferences file
                     (default: $XDG_CONFIG_HOME/wirewatch/preferences.plist)
  --policy FILE      the administrator's policy (default: /etc/wirewatch/policy.plist;
                     honoured only when owned by root and not group/other-writable)
  --logs-dir DIR     the log folder (default: $XDG_DATA_HOME/Wirewatch)
  --usb-root DIR     the sysfs root for USB devices (default: /sys)
  --interfaces       print every network interface, how it counts and why, and exit
                     (with --json: as JSON)
  --status           print today's exposure figures (and a pause), and exit
                     (with --json: as JSON)
  --hash-password    read a password from standard input, print its argon2id
                     hash for the policy key ExitPasswordHash, and exit
  --version          print the version and exit
  --help             print this help and exit

Each option can also be given in the environment: WIREWATCH_TOOLS_DIR,
WIREWATCH_WIFI, WIREWATCH_PREFS, WIREWATCH_POLICY, WIREWATCH_LOGS_DIR,
WIREWATCH_USB_ROOT.
Exit status: 0 on success, 1 when --hash-password has no password to hash,
2 for a bad command line or option value.
)";
}

}  // namespace ww
