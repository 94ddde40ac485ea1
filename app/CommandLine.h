#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ww {

struct CommandLineOptions {
    bool headless = false;
    bool once = false;
    bool dryRun = false;
    bool json = false;          // --json: the --once, --interfaces or --status report as JSON
    bool hashPassword = false;  // --hash-password: hash standard input for the policy
    bool version = false;
    bool help = false;
    // Inspecting instead of running: --interfaces, --status.
    bool interfaces = false;
    bool status = false;
    std::optional<std::string> toolsDir;  // --tools-dir / WIREWATCH_TOOLS_DIR
    std::optional<std::string> wifi;      // --wifi / WIREWATCH_WIFI
    std::optional<std::string> prefs;     // --prefs / WIREWATCH_PREFS
    std::optional<std::string> policy;    // --policy / WIREWATCH_POLICY
    std::optional<std::string> logsDir;   // --logs-dir / WIREWATCH_LOGS_DIR
    std::optional<std::string> usbRoot;   // --usb-root / WIREWATCH_USB_ROOT
};

struct CommandLineResult {
    CommandLineOptions options;
    // Empty when the command line is good; else the message for standard error.
    std::string error;
};

// Parses the arguments (without the program name). Options take their value
// as the next argument or after "="; an option given on the command line wins
// over its environment variable, read through `getenv`.
CommandLineResult parseCommandLine(const std::vector<std::string>& args,
                                   const std::function<const char*(const char*)>& getenv);

std::string usageText();

}  // namespace ww
