// airport stand-in: `airport -I` prints what the Wi-Fi backend knows. The
// backend is chosen like the agent's, by WIREWATCH_WIFI: unset or "none" (no
// Wi-Fi: no output), "sim:FILE" (the simulated Wi-Fi's state file) or "linux"
// (not read by this tool yet: no output).
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/sim/SimWifiFile.h"
#include "tools/ToolOutput.h"
#include "tools/ToolSupport.h"

using namespace ww::tools;

int main(int argc, char** argv) {
    const char* kTool = "airport";
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() != 1 || (args[0] != "-I" && args[0] != "--getinfo")) {
        writeStandardError(kTool, "usage: airport -I");
        return 1;
    }
    const char* env = std::getenv("WIREWATCH_WIFI");
    std::string backend = env ? env : "";
    if (backend.empty() || backend == "none" || backend == "linux") return 0;
    if (!backend.starts_with("sim:")) {
        writeStandardError(kTool, "WIREWATCH_WIFI must be none, linux or sim:FILE, not " + backend);
        return 2;
    }
    std::string error;
    auto state = ww::sim::SimWifiFile(backend.substr(4)).readState(&error);
    if (!state) {
        writeStandardError(kTool, error);
        return 1;
    }
    return writeStandardOutput(formatAirPortInfo(*state)) ? 0 : 1;
}
