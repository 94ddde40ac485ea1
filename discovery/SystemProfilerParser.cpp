#include "discovery/SystemProfilerParser.h"

#include <mutex>

#include "discovery/ShellCommand.h"
#include "logging/DDLog.h"

namespace ww {

SystemProfilerTable parseSystemProfilerOutput(const std::optional<std::string>& output,
                                              std::string* error) {
    SystemProfilerTable table;
    std::string why;
    auto root = plist::parse(output ? std::string_view(*output) : std::string_view(), &why);
    if (!root) {
        if (error) *error = why;
        return table;
    }
    const plist::Value::Array* sections = root->arrayValue();
    if (!sections || sections->empty()) return table;
    const plist::Value* items = sections->front().find("_items");
    const plist::Value::Array* services = items ? items->arrayValue() : nullptr;
    if (!services) return table;
    for (const plist::Value& service : *services) {
        if (!service.isDictionary()) continue;
        const plist::Value* interface = service.find("interface");
        if (!interface || !interface->stringValue()) continue;
        table[*interface->stringValue()] = service;
    }
    return table;
}

namespace {

// The last output parsed and what it gave: the profiler prints the same
// property list check after check while nothing changes, and parsing it is
// most of a check's work.
struct LastParse {
    std::mutex mutex;
    std::optional<std::string> output;
    SystemProfilerTable table;
    std::string error;
    bool valid = false;
};

LastParse& lastParse() {
    static LastParse* last = new LastParse();  // checks may still run at exit
    return *last;
}

}  // namespace

SystemProfilerTable executeAndParseSystemProfilerCommand(const CommandTable& commands) {
    std::string error;
    auto result = runShellCommand(commands.systemProfiler, __func__, commands.builtIns.get());
    SystemProfilerTable table;
    LastParse& last = lastParse();
    {
        std::lock_guard lock(last.mutex);
        if (last.valid && last.output == result.output) {
            table = last.table;
            error = last.error;
        } else {
            table = parseSystemProfilerOutput(result.output, &error);
            last.output = std::move(result.output);
            last.table = table;
            last.error = error;
            last.valid = true;
        }
    }
    if (!error.empty()) WWLogInfo("Error: %@", error);
    return table;
}

}  // namespace ww
