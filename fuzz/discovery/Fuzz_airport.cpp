// airport -I text -> MCS value. A value only ever comes from a line with "MCS:".
#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/AirPortParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto mcs = ww::parseAirPortMCS(text);
    if (mcs && text.find("MCS:") == std::string::npos) __builtin_trap();
    if (mcs && mcs->size() > text.size()) __builtin_trap();
    return 0;
}
