#include "discovery/NetworksetupParser.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>

#include "discovery/ShellCommand.h"
#include "platform/foundation/Text.h"

namespace ww {

namespace {

// The text two characters after the line's first ":" (the colon and the blank
// after it skipped), untrimmed; empty when the line ends before that.
std::string valueOf(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon + 2 >= line.size()) return {};
    return std::string(line.substr(colon + 2));
}

std::optional<std::string> serviceText(const plist::Value* service, const char* key) {
    if (!service) return std::nullopt;
    const plist::Value* v = service->find(key);
    if (!v || !v->stringValue()) return std::nullopt;
    return *v->stringValue();
}

// Read like a number's integer value: numbers directly, texts by their leading
// decimal digits; anything else, or nothing, is 0.
std::int64_t serviceOrderOf(const plist::Value* service) {
    if (!service) return 0;
    const plist::Value* v = service->find("spnetwork_service_order");
    if (!v) return 0;
    if (v->isNumber()) return v->integerValue().value_or(0);
    if (const std::string* s = v->stringValue()) {
        std::string_view t = text::trim(*s);
        bool negative = !t.empty() && t.front() == '-';
        if (!t.empty() && (t.front() == '-' || t.front() == '+')) t.remove_prefix(1);
        std::int64_t n = 0;
        for (char c : t) {
            if (!std::isdigit(static_cast<unsigned char>(c))) break;
            if (n > (INT64_MAX - (c - '0')) / 10) return negative ? INT64_MIN : INT64_MAX;
            n = n * 10 + (c - '0');
        }
        return negative ? -n : n;
    }
    return 0;
}

}  // namespace

std::vector<HardwarePort> parseHardwarePorts(const std::optional<std::string>& output) {
    std::vector<HardwarePort> ports;
    if (!output) return ports;
    std::optional<std::string> portName;
    std::optional<std::string> device;
    std::string ethernetAddress;
    auto finishPort = [&] {
        ports.push_back({*portName, device, ethernetAddress});
        portName.reset();
        device = std::string();
        // Each port starts without an address: a port that lists none must not
        // show the hardware address of the port before it.
        ethernetAddress.clear();
    };
    for (std::string_view line : text::splitLines(*output)) {
        if (text::contains(line, "Hardware Port:")) {
            if (portName) finishPort();
            portName = valueOf(line);
        } else if (text::contains(line, "Device:")) {
            device = valueOf(line);
        } else if (text::contains(line, "Ethernet Address:")) {
            ethernetAddress = std::string(text::trim(valueOf(line)));
        }
    }
    if (portName) finishPort();
    return ports;
}

InterfaceTable mergeHardwarePorts(const std::vector<HardwarePort>& ports,
                                  const InterfaceTable& ifconfigInterfaces,
                                  const SystemProfilerTable& systemProfilerInterfaces) {
    InterfaceTable connectedInterfaces;
    std::map<std::string, std::string> hardwarePorts;  // port name -> device

    for (const HardwarePort& port : ports) {
        if (!port.device) continue;
        if (auto it = ifconfigInterfaces.find(*port.device); it != ifconfigInterfaces.end()) {
            const InterfaceInfoPtr& record = it->second;
            record->displayName.set(port.name);
            auto mac = record->MacAdress.get();
            if (!mac || mac->empty()) record->MacAdress.set(port.ethernetAddress);
            connectedInterfaces[*port.device] = record;
        }
        hardwarePorts[port.name] = *port.device;
    }

    std::vector<std::string> devices;
    for (const auto& [name, device] : hardwarePorts) devices.push_back(device);
    auto isDevice = [&](const std::optional<std::string>& name) {
        return name && std::find(devices.begin(), devices.end(), *name) != devices.end();
    };
    auto isPortName = [&](const std::optional<std::string>& name) {
        return name && hardwarePorts.contains(*name);
    };

    for (const auto& [bsdName, record] : ifconfigInterfaces) {
        auto found = systemProfilerInterfaces.find(bsdName);
        const plist::Value* service =
            found == systemProfilerInterfaces.end() ? nullptr : &found->second;
        auto serviceName = serviceText(service, "_name");
        if (connectedInterfaces.contains(bsdName)) {
            record->sysProfilerName.set(serviceName);
            record->serviceOrder = serviceOrderOf(service);
            record->type.set(serviceText(service, "type"));
            continue;
        }
        record->type.set(serviceText(service, "type"));
        record->displayName.set(serviceName);
        record->sysProfilerName.set(serviceName);
        record->serviceOrder = serviceOrderOf(service);
        record->status.set("active");
        if (isPortName(bsdName) || isDevice(serviceName) || isPortName(serviceName) ||
            isDevice(bsdName)) {
            connectedInterfaces[bsdName] = record;
        }
    }
    return connectedInterfaces;
}

InterfaceTable executeAndParseNetworksetupCommand(
    const CommandTable& commands, const InterfaceTable& ifconfigInterfaces,
    const SystemProfilerTable& systemProfilerInterfaces, std::vector<HardwarePort>* ports) {
    auto result = runShellCommand(commands.networksetup, __func__, commands.builtIns.get());
    std::vector<HardwarePort> parsed = parseHardwarePorts(result.output);
    InterfaceTable connected =
        mergeHardwarePorts(parsed, ifconfigInterfaces, systemProfilerInterfaces);
    if (ports) *ports = std::move(parsed);
    return connected;
}

}  // namespace ww
