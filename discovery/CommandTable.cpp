#include "discovery/CommandTable.h"

#include <cstdlib>
#include <filesystem>

namespace ww {

CommandTable CommandTable::macOS() {
    return {
        "/sbin/ifconfig",
        "system_profiler -xml SPNetworkDataType  -detailLevel mini",
        "networksetup -listallhardwareports",
        "/System/Library/PrivateFrameworks/Apple80211.framework/Versions/Current/Resources/"
        "airport  /usr/sbin/airport -I",
    };
}

CommandTable CommandTable::forToolsDirectory(const std::string& toolsDir) {
    const std::string dir = shellQuote(toolsDir);
    return {
        dir + "/ifconfig",
        dir + "/system_profiler -xml SPNetworkDataType  -detailLevel mini",
        dir + "/networksetup -listallhardwareports",
        dir + "/airport -I",
    };
}

std::string shellQuote(std::string_view text) {
    // Inside single quotes the shell takes every byte literally; a single quote
    // itself is closed, escaped and reopened.
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string defaultToolsDirectory() {
    if (const char* env = std::getenv("WIREWATCH_TOOLS_DIR"); env && *env) return env;
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "/usr/libexec/wirewatch";
    return (exe.parent_path() / ".." / "libexec" / "wirewatch").lexically_normal().string();
}

}  // namespace ww
