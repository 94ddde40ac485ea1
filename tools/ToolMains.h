#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/wifi/WiFiDevice.h"
#include "tools/NetworkSnapshot.h"

namespace ww::tools {

// What one run of a stand-in tool produced: the bytes of its standard output
// and standard error, and its exit status.
struct ToolRun {
    int status = 0;
    std::string output;
    std::string error;
};

// The four stand-ins, each given its arguments (without the program name).
// The programs and the agent's built-in stand-ins both run these, so the two
// print the same bytes.
ToolRun ifconfigTool(const std::vector<std::string>& args);
ToolRun networksetupTool(const std::vector<std::string>& args);
ToolRun systemProfilerTool(const std::vector<std::string>& args);
ToolRun airportTool(const std::vector<std::string>& args);
// `airport -I` over a device the caller has already chosen (none: no output),
// instead of looking for one as the program does.
ToolRun airportToolFor(const std::vector<std::string>& args,
                       const std::function<ww::linuxwifi::WiFiDevicePtr()>& device);

// Where the three network tools take the network from: readNetworkSnapshot
// for the ones above; a caller that keeps a snapshot may hand it in.
using SnapshotSource = std::function<std::optional<NetworkSnapshot>(std::string* error)>;
ToolRun ifconfigTool(const std::vector<std::string>& args, const SnapshotSource& source);
ToolRun networksetupTool(const std::vector<std::string>& args, const SnapshotSource& source);
ToolRun systemProfilerTool(const std::vector<std::string>& args, const SnapshotSource& source);

// A program's main: runs `tool` on the command line's arguments, writes its
// outputs to the standard streams and returns its status (1 when standard
// output could not be written).
int runToolProgram(ToolRun (*tool)(const std::vector<std::string>&), int argc, char** argv);

}  // namespace ww::tools
