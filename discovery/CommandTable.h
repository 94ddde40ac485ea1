#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace ww {

// The command lines the discovery parsers hand to the shell.
class BuiltInCommands;

struct CommandTable {
    std::string ifconfig;
    std::string systemProfiler;
    std::string networksetup;
    std::string airport;
    // In-process stand-ins for some of these lines (the installed default
    // tools); the runner starts no process for them. None: every line runs
    // through /bin/sh.
    std::shared_ptr<const BuiltInCommands> builtIns{};

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
