// Hardware-port listing -> merge with fixed ifconfig and profiler tables. The
// result holds only ifconfig's own records, under their own names.
#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/IfconfigParser.h"
#include "discovery/NetworksetupParser.h"

namespace {

const char kIfconfig[] =
    "en0: flags=8863<UP> mtu 1500\n\tether 3c:22:fb:5a:3c:11 \n\tinet 192.168.1.23 x\n"
    "\tstatus: active\n"
    "en5: flags=8863<UP> mtu 1500\n\tinet 10.0.1.44 x\n\tstatus: active\n"
    "en6: flags=8863<UP> mtu 1500\n\tether 9a:2c:4e:a1:00:6b \n\tinet 172.20.10.2 x\n"
    "utun3: flags=8051<UP> mtu 1400\n\tinet 10.8.0.6 --> 10.8.0.5\n";

ww::SystemProfilerTable profiler() {
    ww::SystemProfilerTable table;
    auto add = [&](const char* bsd, const char* name, const char* type, std::int64_t order) {
        auto s = ww::plist::Value::dictionary();
        s.set("interface", ww::plist::Value::string(bsd));
        s.set("_name", ww::plist::Value::string(name));
        s.set("type", ww::plist::Value::string(type));
        s.set("spnetwork_service_order", ww::plist::Value::integer(order));
        table[bsd] = s;
    };
    add("en0", "Wi-Fi", "AirPort", 1);
    add("en5", "USB 10/100/1000 LAN", "Ethernet", 0);
    add("utun3", "Ethernet", "VPN", 2);
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const ww::SystemProfilerTable kProfiler = profiler();
    std::string text(reinterpret_cast<const char*>(data), size);
    auto ifconfig = ww::parseIfconfigOutput(std::string(kIfconfig));
    auto connected = ww::mergeHardwarePorts(ww::parseHardwarePorts(text), ifconfig, kProfiler);
    for (const auto& [name, info] : connected) {
        auto it = ifconfig.find(name);
        if (it == ifconfig.end() || it->second != info) __builtin_trap();
        if (info->BSDName.get() != name) __builtin_trap();
    }
    return 0;
}
