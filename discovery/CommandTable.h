#pragma once

#include <string>
#include <string_view>

namespace ww {

// The command lines the discovery parsers hand to the shell.
struct CommandTable {
    std::string ifconfig;
    std::string systemProfiler;
    std::string networksetup;
    std::string airport;

    // The macOS system tools, exactly as the platform names them.
    static CommandTable macOS();
    // The stand-in tools in `toolsDir` (shell-quoted, so any path is safe).
    static CommandTable forToolsDirectory(const std::string& toolsDir);
};

// Quotes a text for /bin/sh so that it stays one word and runs nothing.
std::string shellQuote(std::string_view text);

// The installed stand-in tools: WIREWATCH_TOOLS_DIR when set, else the
// directory found beside the running program.
std::string defaultToolsDirectory();

}  // namespace ww
