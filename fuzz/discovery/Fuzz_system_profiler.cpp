// Property-list text -> services. Every service is a dictionary filed under
// its own "interface" text; a failure always comes with a description.
#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/SystemProfilerParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto table = ww::parseSystemProfilerOutput(text, &error);
    if (!error.empty() && !table.empty()) __builtin_trap();
    for (const auto& [name, service] : table) {
        const ww::plist::Value* interface = service.find("interface");
        if (!interface || !interface->stringValue() || *interface->stringValue() != name) {
            __builtin_trap();
        }
    }
    return 0;
}
