#include "tools/BuiltInTools.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "discovery/ShellCommand.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Text.h"
#include "tools/ToolMains.h"
#include "tools/ToolSupport.h"

namespace ww::tools {

namespace {

using ToolFunction = ToolRun (*)(const std::vector<std::string>&);
using NetworkToolFunction = ToolRun (*)(const std::vector<std::string>&, const SnapshotSource&);

// The network tools' answers and the snapshot they came from, kept until the
// kernel announces a change in the namespace they were read from: the checks
// of an idle machine then read and format nothing again, and the tools of one
// check share one read. A caller in another namespace gets a fresh answer.
class NetworkAnswers {
  public:
    BuiltInOutput answer(const std::string& line, NetworkToolFunction tool,
                         const std::vector<std::string>& args) {
        // A declared-ports file may change without any announcement.
        std::string declared = declaredPortsKey(args);
        std::lock_guard lock(m_mutex);
        if (!m_watch && !m_watchFailed) {
            m_watch = NetworkChangeWatch::open(nullptr);
            m_watchFailed = !m_watch;
        }
        if (!m_watch || !m_watch->watchesCallersNamespace()) {
            return outputOf(tool(args, readNetworkSnapshot));
        }
        if (m_watch->takeChanges()) {
            m_snapshot.reset();
            m_answers.clear();
        }
        if (auto it = m_answers.find(line); it != m_answers.end() && it->second.first == declared) {
            return it->second.second;
        }
        ToolRun run = tool(args, [this](std::string* error) {
            if (!m_snapshot) m_snapshot = readNetworkSnapshot(error);
            return m_snapshot;
        });
        const bool complete = run.status == 0;
        BuiltInOutput out = outputOf(std::move(run));
        if (complete) m_answers[line] = {declared, out};
        return out;
    }

  private:
    static BuiltInOutput outputOf(ToolRun run) {
        return BuiltInOutput{std::move(run.output), std::move(run.error)};
    }

    // The declared-ports file the tool would read, with its text or its error.
    static std::string declaredPortsKey(std::vector<std::string> args) {
        bool ok = true;
        std::optional<std::string> file = takeHardwarePortsFile(args, ok);
        if (!file) return {};
        std::string error;
        std::optional<std::string> text = file::readAll(*file, &error);
        return *file + (text ? "\n=" + *text : "\n!" + error);
    }

    std::mutex m_mutex;
    std::unique_ptr<NetworkChangeWatch> m_watch;
    bool m_watchFailed = false;
    std::optional<NetworkSnapshot> m_snapshot;
    // Command line -> (declared-ports key, answer).
    std::map<std::string, std::pair<std::string, BuiltInOutput>> m_answers;
};

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

void addNetworkTool(BuiltInCommands& commands, const std::string& line, const std::string& program,
                    NetworkToolFunction tool, const std::shared_ptr<NetworkAnswers>& answers) {
    commands.add(line, [tool, line, answers, args = argumentsOf(line, program)] {
        return answers->answer(line, tool, args);
    });
}

}  // namespace

CommandTable builtInToolsTable(const std::string& toolsDir,
                               std::function<ww::linuxwifi::WiFiDevicePtr()> wifiDevice) {
    CommandTable table = CommandTable::forToolsDirectory(toolsDir);
    const std::string dir = shellQuote(toolsDir);
    auto commands = std::make_shared<BuiltInCommands>();
    auto answers = std::make_shared<NetworkAnswers>();
    addNetworkTool(*commands, table.ifconfig, dir + "/ifconfig", ifconfigTool, answers);
    addNetworkTool(*commands, table.systemProfiler, dir + "/system_profiler", systemProfilerTool,
                   answers);
    addNetworkTool(*commands, table.networksetup, dir + "/networksetup", networksetupTool, answers);
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
