// airport stand-in: `airport -I` prints what the Wi-Fi backend knows. The
// backend is chosen like the agent's, by WIREWATCH_WIFI: unset, "auto" or
// "linux" (NetworkManager, else iwd, else the kernel, else none), "nm",
// "iwd", "kernel", "none" (no Wi-Fi: no output) or "sim:FILE" (the simulated
// Wi-Fi's state file). Every Linux backend reads through the same nl80211
// reader where its daemon has no value.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/wifi/WiFiBackend.h"
#include "platform/sim/SimWifiFile.h"
#include "tools/ToolOutput.h"
#include "tools/ToolSupport.h"

using namespace ww::tools;

namespace {

AirPortInfo infoOf(ww::linuxwifi::LinuxWiFiClient& client) {
    AirPortInfo info;
    ww::linuxwifi::WiFiDevicePtr device = client.device();
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

int main(int argc, char** argv) {
    const char* kTool = "airport";
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() != 1 || (args[0] != "-I" && args[0] != "--getinfo")) {
        writeStandardError(kTool, "usage: airport -I");
        return 1;
    }
    const char* env = std::getenv("WIREWATCH_WIFI");
    std::string backend = env && *env ? env : "auto";
    if (backend == "none") return 0;
    if (backend == "auto" || backend == "linux" || backend == "nm" || backend == "iwd" ||
        backend == "kernel") {
        std::string error;
        auto client = ww::linuxwifi::makeLinuxWiFiClient(
            backend, ww::linuxwifi::linuxWiFiOptionsFromEnvironment(), error, false);
        if (!client) {
            writeStandardError(kTool, error);
            return 2;
        }
        return writeStandardOutput(formatAirPortInfo(infoOf(*client))) ? 0 : 1;
    }
    if (!backend.starts_with("sim:")) {
        writeStandardError(kTool,
                           "WIREWATCH_WIFI must be auto, linux, nm, iwd, kernel, none or "
                           "sim:FILE, not " +
                               backend);
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
