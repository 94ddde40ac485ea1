#include "platform/linux/wifi/InformationElements.h"

namespace ww::linuxwifi {

namespace {

constexpr std::uint8_t kElementSsid = 0;
constexpr std::uint8_t kElementRates = 1;
constexpr std::uint8_t kElementHtCapabilities = 45;
constexpr std::uint8_t kElementRsn = 48;
constexpr std::uint8_t kElementExtendedRates = 50;
constexpr std::uint8_t kElementVhtCapabilities = 191;
constexpr std::uint8_t kElementVendor = 221;
constexpr std::uint8_t kElementExtension = 255;
constexpr std::uint8_t kExtensionHeCapabilities = 35;
constexpr std::uint8_t kExtensionEhtCapabilities = 108;

// A bounded reader over one element's body.
class Cursor {
  public:
    Cursor(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    std::size_t left() const { return m_size - m_at; }
    bool u16(std::uint16_t& v) {
        if (left() < 2) return false;
        v = static_cast<std::uint16_t>(m_data[m_at] | (m_data[m_at + 1] << 8));  // little-endian
        m_at += 2;
        return true;
    }
    bool suite(SuiteSelector& s) {
        if (left() < 4) return false;
        s = (SuiteSelector{m_data[m_at]} << 24) | (SuiteSelector{m_data[m_at + 1]} << 16) |
            (SuiteSelector{m_data[m_at + 2]} << 8) | SuiteSelector{m_data[m_at + 3]};
        m_at += 4;
        return true;
    }

  private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// The body shared by the RSN and WPA elements after their headers: version,
// group cipher, pairwise cipher list, key-management list (the rest, such as
// the RSN capabilities, is not needed). Fields may end early at a field
// boundary; then the key management defaults to 802.1X of `oui`. False when
// the body ends inside a field or a list.
bool parseSuites(Cursor c, SuiteSelector oui, std::vector<SuiteSelector>& akms) {
    std::uint16_t version = 0;
    if (!c.u16(version)) return false;
    SuiteSelector suite = 0;
    if (c.left() == 0) {
        akms.push_back(oui | 1);
        return true;
    }
    if (!c.suite(suite)) return false;  // group cipher
    if (c.left() == 0) {
        akms.push_back(oui | 1);
        return true;
    }
    std::uint16_t count = 0;
    if (!c.u16(count)) return false;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (!c.suite(suite)) return false;  // pairwise ciphers
    }
    if (c.left() == 0) {
        akms.push_back(oui | 1);
        return true;
    }
    if (!c.u16(count)) return false;
    for (std::uint16_t i = 0; i < count; ++i) {
        if (!c.suite(suite)) return false;
        akms.push_back(suite);
    }
    return true;
}

}  // namespace

InformationElements parseInformationElements(const std::uint8_t* data, std::size_t size) {
    InformationElements out;
    if (!data) return out;
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 2) {
            out.malformed = true;
            break;
        }
        const std::uint8_t id = data[at];
        const std::size_t length = data[at + 1];
        if (length > size - at - 2) {
            out.malformed = true;
            break;
        }
        const std::uint8_t* body = data + at + 2;
        at += 2 + length;
        if (id == kElementSsid) {
            if (!out.ssid) out.ssid = std::string(reinterpret_cast<const char*>(body), length);
        } else if (id == kElementRates || id == kElementExtendedRates) {
            // Units of 500 kb/s; the top bit marks a basic rate.
            for (std::size_t i = 0; i < length; ++i) {
                if ((body[i] & 0x7F) > 22) out.ofdmRates = true;
            }
        } else if (id == kElementHtCapabilities) {
            out.phy.ht = true;
        } else if (id == kElementVhtCapabilities) {
            out.phy.vht = true;
        } else if (id == kElementExtension && length >= 1) {
            if (body[0] == kExtensionHeCapabilities) out.phy.he = true;
            if (body[0] == kExtensionEhtCapabilities) out.phy.eht = true;
        } else if (id == kElementRsn) {
            if (out.hasRsn) continue;  // the first one counts
            out.hasRsn = true;
            if (!parseSuites(Cursor(body, length), kRsnOui, out.rsnAkms)) out.malformed = true;
        } else if (id == kElementVendor && length >= 4 && body[0] == 0x00 && body[1] == 0x50 &&
                   body[2] == 0xF2 && body[3] == 0x01) {
            if (out.hasWpa) continue;
            out.hasWpa = true;
            if (!parseSuites(Cursor(body + 4, length - 4), kWpaOui, out.wpaAkms)) {
                out.malformed = true;
            }
        }
    }
    return out;
}

SecurityTraits securityTraits(const InformationElements& e, bool privacy) {
    SecurityTraits t;
    t.privacy = privacy;
    t.rsn = e.hasRsn;
    t.wpa = e.hasWpa;
    for (SuiteSelector s : e.rsnAkms) {
        if ((s & 0xFFFFFF00) != kRsnOui) continue;
        switch (s & 0xFF) {
            case 1:   // 802.1X
            case 3:   // FT over 802.1X
            case 5:   // 802.1X SHA-256
            case 14:  // FILS SHA-256
            case 15:  // FILS SHA-384
            case 16:  // FT over FILS SHA-256
            case 17:  // FT over FILS SHA-384
            case 22:  // 802.1X SHA-384
            case 23:  // FT over 802.1X SHA-384 (new number)
                t.rsnEap = true;
                break;
            case 2:   // PSK
            case 4:   // FT PSK
            case 6:   // PSK SHA-256
            case 19:  // FT PSK SHA-384
            case 20:  // PSK SHA-384
                t.rsnPsk = true;
                break;
            case 8:   // SAE
            case 9:   // FT SAE
            case 24:  // SAE with extended key
            case 25:  // FT SAE with extended key
                t.rsnSae = true;
                break;
            case 11:  // Suite B
            case 12:  // Suite B 192
            case 13:  // FT over 802.1X SHA-384
                t.rsnSuiteB = true;
                break;
            case 18:  // OWE
                t.rsnOwe = true;
                break;
            default:
                break;
        }
    }
    for (SuiteSelector s : e.wpaAkms) {
        if (s == (kWpaOui | 1)) t.wpaEap = true;
        if (s == (kWpaOui | 2)) t.wpaPsk = true;
    }
    return t;
}

}  // namespace ww::linuxwifi
