// networksetup stand-in: lists the hardware ports (physical network devices
// and declared ones) in the macOS layout.
#include <string>
#include <vector>

#include "tools/ToolOutput.h"
#include "tools/ToolSupport.h"

using namespace ww::tools;

int main(int argc, char** argv) {
    const char* kTool = "networksetup";
    const char* kUsage = "usage: networksetup [--hardware-ports FILE] -listallhardwareports";
    std::vector<std::string> args(argv + 1, argv + argc);
    bool ok = true;
    auto declaredFile = takeHardwarePortsFile(args, ok);
    if (!ok || args.size() != 1 || args[0] != "-listallhardwareports") {
        writeStandardError(kTool, kUsage);
        return 1;
    }
    std::string error;
    auto snapshot = readNetworkSnapshot(&error);
    if (!snapshot) {
        writeStandardError(kTool, error);
        return 1;
    }
    auto ports = hardwarePortsFor(*snapshot, declaredFile, kTool);
    return writeStandardOutput(formatHardwarePortListing(ports, *snapshot)) ? 0 : 1;
}
