#include "tools/HardwarePorts.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <set>

#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Text.h"

namespace fs = std::filesystem;

namespace ww::tools {

namespace {

std::string linkTargetName(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    return ec ? std::string() : target.filename().string();
}

}  // namespace

std::optional<HardwarePortInfo> classifyNetDevice(const std::string& netDir,
                                                  const std::string& name) {
    std::error_code ec;
    const fs::path dir = fs::path(netDir) / name;
    const fs::path device = dir / "device";
    if (!fs::exists(device, ec)) return std::nullopt;

    HardwarePortInfo port{name, "Ethernet", "Ethernet", false};
    if (fs::exists(dir / "phy80211", ec)) {
        port.portName = "Wi-Fi";
        port.serviceType = "AirPort";
        port.wireless = true;
        return port;
    }
    if (linkTargetName(device / "driver") == "ipheth") {
        // The device link points at the USB interface; its parent is the
        // phone itself, which carries the product name.
        fs::path usbDevice = fs::weakly_canonical(device, ec).parent_path();
        auto product = file::readAll((usbDevice / "product").string());
        bool iPad = product && text::contains(text::toLowerAscii(*product), "ipad");
        port.portName = iPad ? "iPad USB" : "iPhone USB";
        return port;
    }
    if (linkTargetName(device / "subsystem") == "usb") port.portName = "USB 10/100/1000 LAN";
    return port;
}

bool isWirelessServiceType(std::string_view type) {
    return type == "AirPort" || type == "Wi-Fi" || type == "airPort" || type == "IEEE80211";
}

std::vector<DeclaredPort> parseDeclaredPorts(std::string_view text,
                                             std::vector<std::string>* problems) {
    std::vector<DeclaredPort> ports;
    int number = 0;
    for (std::string_view line : text::split(text, '\n')) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view content = text::trim(line);
        if (content.empty() || content.front() == '#') continue;
        auto fields = text::split(line, '\t');
        std::string device(text::trim(fields[0]));
        std::string portName(fields.size() > 1 ? text::trim(fields[1]) : std::string_view());
        std::string type(fields.size() > 2 ? text::trim(fields[2]) : std::string_view());
        if (device.empty() || portName.empty() || fields.size() > 3) {
            if (problems) {
                problems->push_back("line " + std::to_string(number) +
                                    ": expected DEVICE<TAB>PORT NAME[<TAB>TYPE]");
            }
            continue;
        }
        ports.push_back({device, portName, type.empty() ? "Ethernet" : type});
    }
    return ports;
}

std::vector<HardwarePortInfo> listHardwarePorts(const NetworkSnapshot& snapshot,
                                                const std::string& netDir,
                                                const std::vector<DeclaredPort>& declared) {
    std::vector<HardwarePortInfo> ports;
    std::set<std::string> usedNames;
    for (const Link& link : snapshot.links) {
        std::optional<HardwarePortInfo> port;
        // The last declaration of a device wins, like a later line in a config file.
        for (const DeclaredPort& d : declared) {
            if (d.device == link.name) {
                port = HardwarePortInfo{link.name, d.portName, d.serviceType,
                                        isWirelessServiceType(d.serviceType)};
            }
        }
        if (!port) port = classifyNetDevice(netDir, link.name);
        if (!port) continue;
        if (usedNames.contains(port->portName)) {
            int n = 2;
            while (usedNames.contains(port->portName + " " + std::to_string(n))) ++n;
            port->portName += " " + std::to_string(n);
        }
        usedNames.insert(port->portName);
        ports.push_back(std::move(*port));
    }
    return ports;
}

std::vector<HardwarePortInfo> inServiceOrder(std::vector<HardwarePortInfo> ports,
                                             const NetworkSnapshot& snapshot) {
    constexpr std::uint64_t kNoRoute = std::numeric_limits<std::uint64_t>::max();
    auto bestMetric = [&](const HardwarePortInfo& port) {
        const Link* link = snapshot.findLink(port.device);
        std::uint64_t best = kNoRoute;
        if (!link) return best;
        for (const DefaultRoute& r : snapshot.defaultRoutes) {
            if (r.interfaceIndex == link->index) best = std::min<std::uint64_t>(best, r.metric);
        }
        return best;
    };
    std::stable_sort(ports.begin(), ports.end(),
                     [&](const HardwarePortInfo& a, const HardwarePortInfo& b) {
                         return bestMetric(a) < bestMetric(b);
                     });
    return ports;
}

}  // namespace ww::tools
