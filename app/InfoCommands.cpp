#include "app/InfoCommands.h"

#include <nlohmann/json.hpp>

#include "app/ExposureAudit.h"
#include "app/ProtectionPause.h"
#include "discovery/InterfaceInspector.h"
#include "discovery/NetworkInventory.h"

namespace ww {

int runInterfacesCommand(const CommandTable& commands, UserDefaults& defaults, bool json,
                         std::FILE* out) {
    NetworkState state;
    // Only looking: the hotspot guard stays out of it.
    NetworkInventory inventory(commands, state, {[] { return false; }, {}});
    inventory.setInterfaceOverrides(
        parseInterfaceOverrides(defaults.objectForKey("InterfaceOverrides")));
    inventory.getAllNetworksDetails();
    InterfaceReports reports = state.interfaceReports();
    if (json) {
        std::fputs(inspectorJson(reports).c_str(), out);
    } else {
        for (const auto& line : inspectorLines(reports)) std::fprintf(out, "%s\n", line.c_str());
    }
    return 0;
}

int runStatusCommand(const std::string& dataDirectory, UserDefaults& defaults, bool json,
                     std::FILE* out, const Clock& clock) {
    ExposureDay today;
    today.date = ExposureAudit::localDate(clock.wallNow());
    for (auto& day : ExposureAudit::readFile(dataDirectory + "/" + ExposureAudit::kFileName)) {
        if (day.date == today.date) today = std::move(day);
    }
    ProtectionPause pause(defaults, clock);
    auto until = pause.pausedUntil();
    if (json) {
        nlohmann::json j = nlohmann::json::parse(exposureSummaryJson(today));
        if (until) {
            j["paused_until"] =
                std::chrono::duration_cast<std::chrono::seconds>(until->time_since_epoch()).count();
        } else {
            j["paused_until"] = nullptr;
        }
        std::fputs((j.dump(2) + "\n").c_str(), out);
    } else {
        std::fprintf(out, "%s\n", exposureSummaryLine(today).c_str());
        if (until) {
            std::fprintf(out, "protection paused until %s\n", localClockTime(*until).c_str());
        }
    }
    return 0;
}

}  // namespace ww
