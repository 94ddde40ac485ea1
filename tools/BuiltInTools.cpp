#include "tools/BuiltInTools.h"

#include <memory>
#include <vector>

#include "discovery/ShellCommand.h"
#include "platform/foundation/Text.h"
#include "tools/ToolMains.h"

namespace ww::tools {

namespace {

using ToolFunction = ToolRun (*)(const std::vector<std::string>&);

// The words after the program on one of the table's lines, as the shell splits
// them (the table's arguments are plain words separated by blanks).
std::vector<std::string> argumentsOf(const std::string& line, const std::string& program) {
    std::vector<std::string> args;
    for (std::string_view word : text::split(std::string_view(line).substr(program.size()), ' ')) {
        if (!word.empty()) args.emplace_back(word);
    }
    return args;
}

void addTool(BuiltInCommands& commands, const std::string& line, const std::string& program,
             ToolFunction tool) {
    commands.add(line, [tool, args = argumentsOf(line, program)] {
        ToolRun run = tool(args);
        return BuiltInOutput{std::move(run.output), std::move(run.error)};
    });
}

}  // namespace

CommandTable builtInToolsTable(const std::string& toolsDir,
                               std::function<ww::linuxwifi::WiFiDevicePtr()> wifiDevice) {
    CommandTable table = CommandTable::forToolsDirectory(toolsDir);
    const std::string dir = shellQuote(toolsDir);
    auto commands = std::make_shared<BuiltInCommands>();
    addTool(*commands, table.ifconfig, dir + "/ifconfig", ifconfigTool);
    addTool(*commands, table.systemProfiler, dir + "/system_profiler", systemProfilerTool);
    addTool(*commands, table.networksetup, dir + "/networksetup", networksetupTool);
    if (wifiDevice) {
        commands->add(table.airport, [args = argumentsOf(table.airport, dir + "/airport"),
                                      wifiDevice = std::move(wifiDevice)] {
            ToolRun run = airportToolFor(args, wifiDevice);
            return BuiltInOutput{std::move(run.output), std::move(run.error)};
        });
    } else {
        addTool(*commands, table.airport, dir + "/airport", airportTool);
    }
    table.builtIns = std::move(commands);
    return table;
}

}  // namespace ww::tools
