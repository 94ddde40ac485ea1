#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ww::sysfs {

// Reads a USB device's raw descriptors as sysfs gives them in `descriptors`:
// the 18-byte device descriptor, then each configuration's whole block (its
// configuration descriptor with the interface and endpoint descriptors that
// follow), in index order. A block's length is its wTotalLength (bytes 2-3,
// little-endian) and byte 5 is its bConfigurationValue.

// The bConfigurationValue of the configuration at `index`, reached by walking
// the blocks by their total lengths (values are not index + 1). Nothing when
// the device descriptor, a block before it or the block's own 9-byte header
// is missing, truncated or malformed.
std::optional<std::uint8_t> configurationValueAt(std::string_view descriptors, std::size_t index);

}  // namespace ww::sysfs
