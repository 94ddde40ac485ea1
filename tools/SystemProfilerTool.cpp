// system_profiler stand-in: knows the data type SPNetworkDataType, one service
// per hardware port in service order (by default-route metric).
#include <string>
#include <vector>

#include "tools/ToolOutput.h"
#include "tools/ToolSupport.h"

using namespace ww::tools;

int main(int argc, char** argv) {
    const char* kTool = "system_profiler";
    const char* kUsage =
        "usage: system_profiler [-xml] [-detailLevel mini|basic|full] "
        "[--hardware-ports FILE] [SPNetworkDataType ...]";
    std::vector<std::string> args(argv + 1, argv + argc);
    bool ok = true;
    auto declaredFile = takeHardwarePortsFile(args, ok);
    bool xml = false;
    std::vector<std::string> dataTypes;
    for (size_t i = 0; ok && i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-xml") {
            xml = true;
        } else if (a == "-detailLevel") {
            // Every level prints the same few keys here.
            if (++i >= args.size()) ok = false;
        } else if (!a.empty() && a.front() != '-') {
            dataTypes.push_back(a);
        } else {
            ok = false;
        }
    }
    if (!ok) {
        writeStandardError(kTool, kUsage);
        return 1;
    }

    bool network = dataTypes.empty();
    for (const auto& t : dataTypes) network = network || t == "SPNetworkDataType";
    std::vector<ww::plist::Value> sections;
    if (network) {
        std::string error;
        auto snapshot = readNetworkSnapshot(&error);
        if (!snapshot) {
            writeStandardError(kTool, error);
            return 1;
        }
        auto ports = inServiceOrder(hardwarePortsFor(*snapshot, declaredFile, kTool), *snapshot);
        sections.push_back(networkDataSection(ports, *snapshot));
    }
    std::string out;
    if (xml) {
        out = formatSystemProfilerXml(sections);
    } else if (!sections.empty()) {
        out = formatSystemProfilerText(sections.front());
    }
    return writeStandardOutput(out) ? 0 : 1;
}
