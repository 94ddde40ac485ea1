#include "discovery/WWUtils.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>

#include "platform/foundation/Text.h"

namespace ww::WWUtils {

bool hasValue(const std::optional<std::string>& text) { return text && !text->empty(); }

std::vector<std::string> filterSystemIP(const std::vector<std::string>& addresses) {
    std::vector<std::string> kept;
    for (const auto& address : addresses) {
        if (address.starts_with("127")) continue;
        if (std::count(address.begin(), address.end(), '.') != 3) continue;
        kept.push_back(address);
    }
    return kept;
}

std::vector<std::string> getSystemIP() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return {};
    std::vector<std::string> addresses;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (!a->ifa_addr) continue;
        char buffer[INET6_ADDRSTRLEN] = {};
        const void* raw = nullptr;
        int family = a->ifa_addr->sa_family;
        if (family == AF_INET) {
            raw = &reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr;
        } else if (family == AF_INET6) {
            raw = &reinterpret_cast<const sockaddr_in6*>(a->ifa_addr)->sin6_addr;
        } else {
            continue;
        }
        if (!::inet_ntop(family, raw, buffer, sizeof buffer)) continue;
        // The host's address list names each address once, even when two
        // interfaces carry it.
        std::string text(buffer);
        if (std::find(addresses.begin(), addresses.end(), text) == addresses.end()) {
            addresses.push_back(std::move(text));
        }
    }
    ::freeifaddrs(list);
    return filterSystemIP(addresses);
}

bool doesContainSubstring(std::string_view text, const std::optional<std::string>& part) {
    if (text.empty() || !part || part->empty()) return false;
    return text::contains(text::toLowerAscii(text), text::toLowerAscii(*part));
}

std::string normalizeMAC(const std::optional<std::string>& address) {
    if (!address) return {};
    std::string result;
    for (std::string_view component : text::split(*address, ':')) {
        std::string piece =
            component.size() == 1 ? "0" + std::string(component) : std::string(component);
        if (!result.empty()) {
            result += ':';
            result += piece;
        } else {
            result = piece;
        }
    }
    return text::toUpperAscii(result);
}

}  // namespace ww::WWUtils
