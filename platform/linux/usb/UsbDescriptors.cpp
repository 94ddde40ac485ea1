#include "platform/linux/usb/UsbDescriptors.h"

namespace ww::sysfs {

namespace {

constexpr std::size_t kDeviceDescriptorLength = 18;
constexpr std::uint8_t kDeviceDescriptorType = 1;
constexpr std::uint8_t kConfigurationDescriptorType = 2;
constexpr std::size_t kConfigurationHeaderLength = 9;

std::uint8_t byteAt(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

bool validDeviceDescriptor(std::string_view d) {
    return d.size() >= kDeviceDescriptorLength && byteAt(d, 0) == kDeviceDescriptorLength &&
           byteAt(d, 1) == kDeviceDescriptorType;
}

// The header of the block at `offset`: its total length, or nothing when the
// header is cut off or not a configuration descriptor. A total length shorter
// than the header would never move the walk forward, so it is malformed too.
std::optional<std::size_t> blockLength(std::string_view d, std::size_t offset) {
    if (offset > d.size() || d.size() - offset < kConfigurationHeaderLength) return std::nullopt;
    if (byteAt(d, offset) < kConfigurationHeaderLength ||
        byteAt(d, offset + 1) != kConfigurationDescriptorType) {
        return std::nullopt;
    }
    const std::size_t total = byteAt(d, offset + 2) | (std::size_t{byteAt(d, offset + 3)} << 8);
    if (total < byteAt(d, offset)) return std::nullopt;
    return total;
}

}  // namespace

std::optional<std::uint8_t> configurationValueAt(std::string_view descriptors, std::size_t index) {
    if (!validDeviceDescriptor(descriptors)) return std::nullopt;
    std::size_t offset = kDeviceDescriptorLength;
    for (std::size_t i = 0;; ++i) {
        const std::optional<std::size_t> total = blockLength(descriptors, offset);
        if (!total) return std::nullopt;
        if (i == index) return byteAt(descriptors, offset + 5);
        if (*total > descriptors.size() - offset) return std::nullopt;  // the block is cut off
        offset += *total;
    }
}

}  // namespace ww::sysfs
