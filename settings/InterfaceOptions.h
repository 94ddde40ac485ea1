#pragma once

#include <array>
#include <cstdint>

namespace ww {

// The items of the settings window's rule pop-up, in order. Each tag is the
// value stored under "selectedInterfaceOption"; the item at index n + 1 stands
// for the stored value n.
struct InterfaceOption {
    std::int64_t tag;
    const char* title;
};

inline constexpr std::array<InterfaceOption, 3> kInterfaceOptions = {{
    {-1, "Only warn me (no rule)"},
    {0, "Disconnect Wi-Fi from its network"},
    {1, "Turn Wi-Fi off"},
}};

}  // namespace ww
