#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Small text and address helpers shared across the agent. Other layers add
// their own helpers to this namespace in their own headers.
namespace ww::WWUtils {

// True when the text is present and not empty (a single blank counts).
bool hasValue(const std::optional<std::string>& text);

// The host's IPv4 addresses, in interface order, without loopback ("127...")
// ones. An IPv6 address is kept only in the form with exactly three dots
// (IPv4-mapped, such as ::ffff:10.0.0.5).
std::vector<std::string> getSystemIP();
// The filtering step of getSystemIP over a list of address texts.
std::vector<std::string> filterSystemIP(const std::vector<std::string>& addresses);

// True when both texts are non-empty and `text` contains `part`, ignoring case.
bool doesContainSubstring(std::string_view text, const std::optional<std::string>& part);

// Pads every one-character component of a colon-separated hardware address
// with a leading "0" and upper-cases the whole: "0:1c:a" -> "00:1C:0A". Longer
// components are kept whole; an empty first component leaves no leading colon.
// An absent address gives the empty text.
std::string normalizeMAC(const std::optional<std::string>& address);

}  // namespace ww::WWUtils
