#include "discovery/SystemProfilerParser.h"

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

SystemProfilerTable executeAndParseSystemProfilerCommand(const CommandTable& commands) {
    std::string error;
    auto result = runShellCommand(commands.systemProfiler, __func__, commands.builtIns.get());
    SystemProfilerTable table = parseSystemProfilerOutput(result.output, &error);
    if (!error.empty()) WWLogInfo("Error: %@", error);
    return table;
}

}  // namespace ww
