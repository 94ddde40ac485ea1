#pragma once

#include <optional>
#include <string>

namespace ww {

// The MCS index from `airport -I` output: the text after the first ":" of the
// last line that contains "MCS:", trimmed. Absent when no line has it.
std::optional<std::string> parseAirPortMCS(const std::optional<std::string>& output);

}  // namespace ww
