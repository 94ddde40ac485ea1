#pragma once

// Information elements as an access point sends them, for the parser and
// nl80211 tests.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace ww::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes element(std::uint8_t id, const Bytes& body) {
    Bytes out = {id, static_cast<std::uint8_t>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline Bytes ssidElement(const std::string& ssid) {
    return element(0, Bytes(ssid.begin(), ssid.end()));
}

// The body after the element header (and, for WPA, after the OUI and type):
// version 1, a CCMP (or TKIP) group cipher, one pairwise cipher, the
// key-management suites.
inline Bytes suitesBody(bool wpa, std::initializer_list<std::uint8_t> akms) {
    const Bytes oui = wpa ? Bytes{0x00, 0x50, 0xF2} : Bytes{0x00, 0x0F, 0xAC};
    auto suite = [&](std::uint8_t type) { return concat({oui, {type}}); };
    const Bytes cipher = suite(wpa ? 2 : 4);
    Bytes body = concat({{0x01, 0x00}, cipher, {1, 0}, cipher});
    body = concat({body, {static_cast<std::uint8_t>(akms.size()), 0}});
    for (std::uint8_t a : akms) body = concat({body, suite(a)});
    return body;
}

// RSN capabilities 0 close the RSN element.
inline Bytes rsnElement(std::initializer_list<std::uint8_t> akms) {
    return element(48, concat({suitesBody(false, akms), {0x00, 0x00}}));
}

inline Bytes wpaElement(std::initializer_list<std::uint8_t> akms) {
    return element(221, concat({{0x00, 0x50, 0xF2, 0x01}, suitesBody(true, akms)}));
}

}  // namespace ww::test
