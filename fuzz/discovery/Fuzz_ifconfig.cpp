// ifconfig text -> records. Every record must have a usable address and sit
// under its own name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/IfconfigParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    for (const auto& [name, info] : ww::parseIfconfigOutput(text)) {
        auto address = info->IPAdress.get();
        if (!address || address->empty() || address->starts_with("127")) __builtin_trap();
        if (info->BSDName.get() != name) __builtin_trap();
        if (!info->MacAdress.get() || !info->status.get() || info->type.get() != "")
            __builtin_trap();
    }
    return 0;
}
