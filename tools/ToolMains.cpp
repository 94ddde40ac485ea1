#include "tools/ToolMains.h"

#include <cstdlib>
#include <optional>

#include "platform/linux/wifi/WiFiBackend.h"
#include "platform/sim/SimWifiFile.h"
#include "tools/ToolOutput.h"
#include "tools/ToolSupport.h"

namespace ww::tools {

namespace {

ToolRun failed(ToolRun run, std::string_view tool, std::string_view message, int status = 1) {
    appendError(run.error, tool, message);
    run.status = status;
    return run;
}

}  // namespace

// ifconfig [-a] [IFACE]: the interfaces of the current network namespace in
// the macOS ifconfig layout.
ToolRun ifconfigTool(const std::vector<std::string>& args) {
    return ifconfigTool(args, readNetworkSnapshot);
}

ToolRun ifconfigTool(const std::vector<std::string>& args, const SnapshotSource& source) {
    const char* kTool = "ifconfig";
    ToolRun run;
    std::optional<std::string> only;
    for (const std::string& a : args) {
        if (a == "-a") continue;
        if (!a.empty() && a.front() == '-') {
            return failed(std::move(run), kTool,
                          "unknown option " + a + "\nusage: ifconfig [-a] [interface]");
        }
        if (only) return failed(std::move(run), kTool, "usage: ifconfig [-a] [interface]");
        only = a;
    }

    std::string error;
    auto snapshot = source(&error);
    if (!snapshot) return failed(std::move(run), kTool, error);
    if (only) {
        const Link* link = snapshot->findLink(*only);
        if (!link) return failed(std::move(run), kTool, "interface " + *only + " does not exist");
        NetworkSnapshot one;
        one.links.push_back(*link);
        snapshot = std::move(one);
    }
    run.output = formatIfconfig(*snapshot);
    return run;
}

// networksetup -listallhardwareports: the hardware ports (physical network
// devices and declared ones) in the macOS layout.
ToolRun networksetupTool(const std::vector<std::string>& arguments) {
    return networksetupTool(arguments, readNetworkSnapshot);
}

ToolRun networksetupTool(const std::vector<std::string>& arguments, const SnapshotSource& source) {
    const char* kTool = "networksetup";
    const char* kUsage = "usage: networksetup [--hardware-ports FILE] -listallhardwareports";
    ToolRun run;
    std::vector<std::string> args = arguments;
    bool ok = true;
    auto declaredFile = takeHardwarePortsFile(args, ok);
    if (!ok || args.size() != 1 || args[0] != "-listallhardwareports") {
        return failed(std::move(run), kTool, kUsage);
    }
    std::string error;
    auto snapshot = source(&error);
    if (!snapshot) return failed(std::move(run), kTool, error);
    auto ports = hardwarePortsFor(*snapshot, declaredFile, kTool, run.error);
    run.output = formatHardwarePortListing(ports, *snapshot);
    return run;
}

// system_profiler: knows the data type SPNetworkDataType, one service per
// hardware port in service order (by default-route metric).
ToolRun systemProfilerTool(const std::vector<std::string>& arguments) {
    return systemProfilerTool(arguments, readNetworkSnapshot);
}

ToolRun systemProfilerTool(const std::vector<std::string>& arguments,
                           const SnapshotSource& source) {
    const char* kTool = "system_profiler";
    const char* kUsage =
        "usage: system_profiler [-xml] [-detailLevel mini|basic|full] "
        "[--hardware-ports FILE] [SPNetworkDataType ...]";
    ToolRun run;
    std::vector<std::string> args = arguments;
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
    if (!ok) return failed(std::move(run), kTool, kUsage);

    bool network = dataTypes.empty();
    for (const auto& t : dataTypes) network = network || t == "SPNetworkDataType";
    std::vector<ww::plist::Value> sections;
    if (network) {
        std::string error;
        auto snapshot = source(&error);
        if (!snapshot) return failed(std::move(run), kTool, error);
        auto ports =
            inServiceOrder(hardwarePortsFor(*snapshot, declaredFile, kTool, run.error), *snapshot);
        sections.push_back(networkDataSection(ports, *snapshot));
    }
    if (xml) {
        run.output = formatSystemProfilerXml(sections);
    } else if (!sections.empty()) {
        run.output = formatSystemProfilerText(sections.front());
    }
    return run;
}

namespace {

AirPortInfo infoOf(const ww::linuxwifi::WiFiDevicePtr& device) {
    AirPortInfo info;
    if (!device) return info;
    ww::linuxwifi::WiFiLink link = device->read(ww::linuxwifi::kLinkAll);
    info.present = true;
    info.power = link.power;
    info.interfaceMode = link.interfaceMode;
    info.security = link.security;
    info.ssid = link.ssid;
    info.bssid = link.bssid;
    if (link.channel) {
        info.channelNumber = link.channel->channelNumber;
        info.channelWidth = link.channel->channelWidth;
    }
    info.transmitRate = link.transmitRate;
    info.maxRate = link.maxRate;
    info.rssiValue = link.rssi;
    info.noiseMeasurement = link.noise;
    if (link.mcs) info.mcs = std::to_string(*link.mcs);
    return info;
}

}  // namespace

// airport -I: what the Wi-Fi backend knows. The backend is chosen like the
// agent's, by WIREWATCH_WIFI: unset, "auto" or "linux" (NetworkManager, else
// iwd, else the kernel, else none), "nm", "iwd", "kernel", "none" (no Wi-Fi:
// no output) or "sim:FILE" (the simulated Wi-Fi's state file). Every Linux
// backend reads through the same nl80211 reader where its daemon has no value.
ToolRun airportTool(const std::vector<std::string>& args) {
    const char* kTool = "airport";
    ToolRun run;
    if (args.size() != 1 || (args[0] != "-I" && args[0] != "--getinfo")) {
        return failed(std::move(run), kTool, "usage: airport -I");
    }
    const char* env = std::getenv("WIREWATCH_WIFI");
    std::string backend = env && *env ? env : "auto";
    if (backend == "none") return run;
    if (backend == "auto" || backend == "linux" || backend == "nm" || backend == "iwd" ||
        backend == "kernel") {
        std::string error;
        auto client = ww::linuxwifi::makeLinuxWiFiClient(
            backend, ww::linuxwifi::linuxWiFiOptionsFromEnvironment(), error, false);
        if (!client) return failed(std::move(run), kTool, error, 2);
        run.output = formatAirPortInfo(infoOf(client->device()));
        return run;
    }
    if (!backend.starts_with("sim:")) {
        return failed(std::move(run), kTool,
                      "WIREWATCH_WIFI must be auto, linux, nm, iwd, kernel, none or sim:FILE, "
                      "not " +
                          backend,
                      2);
    }
    std::string error;
    auto state = ww::sim::SimWifiFile(backend.substr(4)).readState(&error);
    if (!state) return failed(std::move(run), kTool, error);
    run.output = formatAirPortInfo(*state);
    return run;
}

ToolRun airportToolFor(const std::vector<std::string>& args,
                       const std::function<ww::linuxwifi::WiFiDevicePtr()>& device) {
    ToolRun run;
    if (args.size() != 1 || (args[0] != "-I" && args[0] != "--getinfo")) {
        return failed(std::move(run), "airport", "usage: airport -I");
    }
    run.output = formatAirPortInfo(infoOf(device()));
    return run;
}

int runToolProgram(ToolRun (*tool)(const std::vector<std::string>&), int argc, char** argv) {
    ToolRun run = tool(std::vector<std::string>(argv + 1, argv + argc));
    if (!run.error.empty()) writeStandardError(run.error);
    if (!writeStandardOutput(run.output)) return run.status == 0 ? 1 : run.status;
    return run.status;
}

}  // namespace ww::tools
