// Fuzzes the information-element parser with arbitrary element bytes (what a
// nearby access point controls), and the security code made from them. The
// first byte picks the privacy bit; the rest is the element data, copied to a
// buffer of exactly its size so that any read past the end is caught.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/linux/wifi/InformationElements.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool privacy = data[0] & 1;
    std::vector<std::uint8_t> bytes(data + 1, data + size);
    auto elements = ww::linuxwifi::parseInformationElements(bytes.data(), bytes.size());
    auto code = ww::linuxwifi::securityCode(ww::linuxwifi::securityTraits(elements, privacy));
    // Invariants: a code is one of the platform's; an SSID fits its element.
    if (code < 0 || (code > 14 && code != ww::linuxwifi::kSecurityUnknown)) __builtin_trap();
    if (elements.ssid && elements.ssid->size() > 255) __builtin_trap();
    if (!elements.hasRsn && !elements.rsnAkms.empty()) __builtin_trap();
    return 0;
}
