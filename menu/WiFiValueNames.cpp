#include "menu/WiFiValueNames.h"

#include <sys/utsname.h>

#include <array>
#include <cstdlib>

#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/Text.h"

namespace ww::WWUtils {

namespace {

std::int32_t low32(std::int64_t v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)));
}

template <size_t N>
std::optional<std::string> lookup(const std::array<const char*, N>& names, std::int64_t v) {
    std::int32_t i = low32(v);
    if (i < 0 || static_cast<size_t>(i) >= N || names[static_cast<size_t>(i)] == nullptr) {
        return std::nullopt;
    }
    return std::string(names[static_cast<size_t>(i)]);
}

}  // namespace

std::optional<std::string> stringForOpMode(std::int64_t mode, float /*osVersion*/) {
    static const std::array<const char*, 4> kNames = {"None", "Infrastructure", "IBSS",
                                                      "Host Access Point"};
    return lookup(kNames, mode);
}

std::string stringForSecurityMode(std::int64_t security, float /*osVersion*/) {
    // 11 to 15 are WPA3 and OWE, which today's networks use.
    static const std::array<const char*, 16> kNames = {"Open",
                                                       "WEP",
                                                       "WPA Personal",
                                                       "WPA2 Personal Mixed",
                                                       "WPA2 Personal",
                                                       "Personal",
                                                       "802.1X WEP",
                                                       "WPA Enterprise",
                                                       "WPA/WPA2 Enterprise",
                                                       "WPA2 Enterprise",
                                                       "Enterprise",
                                                       "WPA3 Personal",
                                                       "WPA3 Enterprise",
                                                       "WPA3 Personal Mixed",
                                                       "OWE",
                                                       "OWE Transition"};
    return lookup(kNames, security).value_or("Unknown");
}

std::optional<std::string> stringForPHYMode(std::int64_t phyMode, float /*osVersion*/) {
    // 6 names 802.11ax (HE links, and EHT links, which the backends report as 6).
    static const std::array<const char*, 7> kNames = {nullptr,   "802.11a",  "802.11b", "802.11g",
                                                      "802.11n", "802.11ac", "802.11ax"};
    return lookup(kNames, phyMode);
}

std::optional<std::string> stringForChannelWidth(std::int64_t width) {
    static const std::array<const char*, 6> kNames = {"Unknown", "20 MHz",  "40 MHz",
                                                      "80 MHz",  "160 MHz", "320 MHz"};
    return lookup(kNames, width);
}

std::optional<std::string> stringForChannelBand(std::int64_t band) {
    static const std::array<const char*, 4> kNames = {"Unknown", "2.4 GHz", "5 GHz", "6 GHz"};
    return lookup(kNames, band);
}

std::int64_t securityModeForString(const std::string& name) {
    static const std::array<std::pair<const char*, std::int64_t>, 6> kTable = {{
        {"WEP", 1},
        {"WPA Personal", 2},
        {"WPA2 Personal", 4},
        {"WPA Enterprise", 7},
        {"WPA2 Enterprise", 9},
        {"802.1X WEP", 6},
    }};
    for (const auto& [n, v] : kTable) {
        if (name == n) return v;
    }
    return 0;
}

float osVersionFromRelease(const std::string& release) {
    // Leading decimal digits of a piece, 0 when there are none.
    auto number = [](std::string_view s) {
        long v = 0;
        for (char c : s) {
            if (c < '0' || c > '9' || v > 100000) break;
            v = v * 10 + (c - '0');
        }
        return v;
    };
    auto parts = text::split(release, '.');
    long major = number(parts[0]);
    long minor = parts.size() > 1 ? number(parts[1]) : 0;
    std::string formatted = ww::format("%d.%d", major, minor);
    return std::strtof(formatted.c_str(), nullptr);
}

std::string osVersionString(const std::string& osRelease, const std::string& kernelRelease) {
    std::string pretty;
    for (auto line : text::splitLines(osRelease)) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        std::string_view v = line.substr(12);
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
            v = v.substr(1, v.size() - 2);
        }
        pretty = std::string(v);
    }
    if (pretty.empty()) pretty = "Linux";
    return pretty + ", kernel " + kernelRelease;
}

namespace {

std::string kernelRelease() {
    struct utsname u {};
    if (::uname(&u) != 0) return "unknown";
    return u.release;
}

}  // namespace

float GetOSVersion() { return osVersionFromRelease(kernelRelease()); }

std::string GetOSVersionString() {
    auto osRelease = file::readAll("/etc/os-release");
    if (!osRelease) osRelease = file::readAll("/usr/lib/os-release");
    return osVersionString(osRelease.value_or(""), kernelRelease());
}

}  // namespace ww::WWUtils
