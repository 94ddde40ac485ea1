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

// Suite selector bytes: OUI then type.
inline Bytes suite(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t type) {
    return {a, b, c, type};
}
inline Bytes rsnSuite(std::uint8_t type) { return suite(0x00, 0x0F, 0xAC, type); }
inline Bytes wpaSuite(std::uint8_t type) { return suite(0x00, 0x50, 0xF2, type); }

// The body after the element header (and, for WPA, after the OUI and type):
// version 1, a CCMP (or TKIP) group cipher, one pairwise cipher, the
// key-management suites.
inline Bytes suitesBody(bool wpa, std::initializer_list<std::uint8_t> akms) {
    auto s = wpa ? wpaSuite : rsnSuite;
    Bytes body = {0x01, 0x00};
    Bytes cipher = s(wpa ? 2 : 4);
    body.insert(body.end(), cipher.begin(), cipher.end());
    body.push_back(1);
    body.push_back(0);
    body.insert(body.end(), cipher.begin(), cipher.end());
    body.push_back(static_cast<std::uint8_t>(akms.size()));
    body.push_back(0);
    for (std::uint8_t a : akms) {
        Bytes sel = s(a);
        body.insert(body.end(), sel.begin(), sel.end());
    }
    return body;
}

inline Bytes rsnElement(std::initializer_list<std::uint8_t> akms) {
    Bytes body = suitesBody(false, akms);
    body.push_back(0x00);  // RSN capabilities
    body.push_back(0x00);
    return element(48, body);
}

inline Bytes wpaElement(std::initializer_list<std::uint8_t> akms) {
    Bytes body = {0x00, 0x50, 0xF2, 0x01};
    Bytes rest = suitesBody(true, akms);
    body.insert(body.end(), rest.begin(), rest.end());
    return element(221, body);
}

}  // namespace ww::test
