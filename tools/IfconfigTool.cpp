// ifconfig stand-in: prints the interfaces of the current network namespace in
// the macOS ifconfig layout.
#include <string>
#include <vector>

#include "tools/ToolOutput.h"
#include "tools/ToolSupport.h"

using namespace ww::tools;

int main(int argc, char** argv) {
    const char* kTool = "ifconfig";
    std::vector<std::string> args(argv + 1, argv + argc);
    std::optional<std::string> only;
    for (const std::string& a : args) {
        if (a == "-a") continue;
        if (!a.empty() && a.front() == '-') {
            writeStandardError(kTool, "unknown option " + a + "\nusage: ifconfig [-a] [interface]");
            return 1;
        }
        if (only) {
            writeStandardError(kTool, "usage: ifconfig [-a] [interface]");
            return 1;
        }
        only = a;
    }

    std::string error;
    auto snapshot = readNetworkSnapshot(&error);
    if (!snapshot) {
        writeStandardError(kTool, error);
        return 1;
    }
    if (only) {
        const Link* link = snapshot->findLink(*only);
        if (!link) {
            writeStandardError(kTool, "interface " + *only + " does not exist");
            return 1;
        }
        NetworkSnapshot one;
        one.links.push_back(*link);
        snapshot = std::move(one);
    }
    return writeStandardOutput(formatIfconfig(*snapshot)) ? 0 : 1;
}
