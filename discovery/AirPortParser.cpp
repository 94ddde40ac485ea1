#include "discovery/AirPortParser.h"

#include "discovery/NetworkInventory.h"
#include "discovery/ShellCommand.h"
#include "platform/foundation/Text.h"

namespace ww {

std::optional<std::string> parseAirPortMCS(const std::optional<std::string>& output) {
    if (!output) return std::nullopt;
    auto lines = text::splitLines(*output);
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        std::string_view line = *it;
        if (line.empty() || !text::contains(line, "MCS:")) continue;
        return std::string(text::trim(line.substr(line.find(':') + 1)));
    }
    return std::nullopt;
}

void executeAirPortCommand(const CommandTable& commands, NetworkState& state) {
    auto mcs = parseAirPortMCS(
        runShellCommand(commands.airport, __func__, commands.builtIns.get()).output);
    if (mcs) state.mcsInx.set(std::move(mcs));
}

}  // namespace ww
