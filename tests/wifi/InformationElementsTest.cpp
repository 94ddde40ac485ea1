// The information-element parser: the SSID and the key management of every
// security class, and elements cut short or malformed at every length.

#include <gtest/gtest.h>

#include "platform/linux/wifi/InformationElements.h"
#include "tests/wifi/WiFiTestSupport.h"

namespace ww::linuxwifi {
namespace {

using test::Bytes;
using test::concat;
using test::element;
using test::rsnElement;
using test::ssidElement;
using test::wpaElement;

InformationElements parse(const Bytes& b) { return parseInformationElements(b.data(), b.size()); }

std::int64_t securityOf(const Bytes& b, bool privacy = true) {
    return securityCode(securityTraits(parse(b), privacy));
}

TEST(InformationElementsTest, SsidAndOtherElements) {
    Bytes rates = element(1, {0x82, 0x84, 0x8b, 0x96});
    auto e = parse(concat({ssidElement("Flowers By Irene"), rates, rsnElement({2})}));
    EXPECT_EQ(e.ssid, std::optional<std::string>("Flowers By Irene"));
    EXPECT_TRUE(e.hasRsn);
    EXPECT_FALSE(e.hasWpa);
    EXPECT_EQ(e.rsnAkms, std::vector<SuiteSelector>{0x000FAC02});
    EXPECT_FALSE(e.malformed);

    // A hidden network's empty SSID is present and empty; the first SSID counts.
    e = parse(concat({ssidElement(""), ssidElement("second")}));
    EXPECT_EQ(e.ssid, std::optional<std::string>(""));
    // Bytes that are no UTF-8 (or hold a zero) are kept as they are.
    e = parse(element(0, {'a', 0x00, 0xff}));
    EXPECT_EQ(e.ssid, std::optional<std::string>(std::string("a\0\xff", 3)));
    e = parse({});
    EXPECT_FALSE(e.ssid);
    EXPECT_FALSE(e.malformed);
}

// Every security class the lab's access points (WPA2 PSK, SAE, open) do not
// show.
TEST(InformationElementsTest, EverySecurityClass) {
    struct Row {
        Bytes elements;
        bool privacy;
        std::int64_t code;
        const char* what;
    };
    const std::vector<Row> rows = {
        {ssidElement("wep"), true, kSecurityWEP, "privacy bit alone"},
        {wpaElement({2}), true, kSecurityWPAPersonal, "WPA PSK"},
        {concat({rsnElement({2}), wpaElement({2})}), true, kSecurityWPAPersonalMixed,
         "WPA and WPA2 PSK"},
        {rsnElement({6}), true, kSecurityWPA2Personal, "PSK SHA-256"},
        {rsnElement({4, 2}), true, kSecurityWPA2Personal, "FT PSK and PSK"},
        {rsnElement({24}), true, kSecurityWPA3Personal, "SAE with extended key"},
        {rsnElement({2, 8}), true, kSecurityWPA3Transition, "PSK and SAE"},
        {rsnElement({1}), true, kSecurityWPA2Enterprise, "802.1X"},
        {rsnElement({5}), true, kSecurityWPA2Enterprise, "802.1X SHA-256"},
        {wpaElement({1}), true, kSecurityWPAEnterprise, "WPA 802.1X"},
        {concat({wpaElement({1}), rsnElement({1})}), true, kSecurityWPAEnterpriseMixed,
         "WPA and WPA2 802.1X"},
        {rsnElement({12}), true, kSecurityWPA3Enterprise, "Suite-B 192"},
        {rsnElement({11}), true, kSecurityWPA3Enterprise, "Suite-B"},
        {rsnElement({18}), false, kSecurityOWE, "OWE"},
        {rsnElement({99}), true, kSecurityUnknown, "an unknown suite"},
        {element(48, {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x01,
                      0x00, 0x00, 0x11, 0x22, 0x02}),
         true, kSecurityUnknown, "PSK of another OUI"},
        // The standard's defaults: an RSN element that stops after a field
        // offers 802.1X.
        {element(48, {0x01, 0x00}), true, kSecurityWPA2Enterprise, "version only"},
        {element(48, {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04}), true, kSecurityWPA2Enterprise,
         "no cipher lists"},
        {element(221, {0x00, 0x50, 0xf2, 0x02, 0x01, 0x01}), true, kSecurityWEP,
         "a WMM element is no WPA element"},
    };
    for (const Row& r : rows) EXPECT_EQ(securityOf(r.elements, r.privacy), r.code) << r.what;
}

TEST(InformationElementsTest, TruncatedAtEveryLength) {
    const Bytes full = concat({ssidElement("Lab"), rsnElement({2, 8}), wpaElement({2})});
    ASSERT_EQ(securityOf(full), kSecurityWPA3Transition);
    for (size_t n = 0; n < full.size(); ++n) {
        // An exact copy on the heap, so that a read past the end is caught.
        std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<long>(n));
        auto e = parseInformationElements(cut.data(), cut.size());
        // The cut falls inside an element (ours end exactly at element
        // boundaries only at 5 and at the RSN element's end).
        bool boundary = n == 0 || n == 5 || n == 5 + rsnElement({2, 8}).size();
        EXPECT_EQ(e.malformed, !boundary) << n;
        if (n >= 5) {
            EXPECT_EQ(e.ssid, std::optional<std::string>("Lab")) << n;
        }
        // Never a made-up security: what was read, else "unknown" for an RSN
        // element that was seen.
        std::int64_t code = securityCode(securityTraits(e, true));
        if (n < 5) {
            EXPECT_EQ(code, kSecurityWEP) << n;
        }
    }
}

TEST(InformationElementsTest, MalformedElements) {
    struct Row {
        Bytes elements;
        bool malformed;
        std::int64_t code;
        const char* what;
    };
    const std::vector<Row> rows = {
        {{48}, true, kSecurityWEP, "a lone element ID"},
        {{0, 5, 'a', 'b'}, true, kSecurityWEP, "an SSID longer than the data"},
        {element(48, {0x01}), true, kSecurityUnknown, "version cut in half"},
        {element(48, {0x01, 0x00, 0x00, 0x0f}), true, kSecurityUnknown, "group cipher cut"},
        {element(48, {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x05, 0x00, 0x00, 0x0f, 0xac, 0x04}),
         true, kSecurityUnknown, "five pairwise ciphers announced, one there"},
        {element(48, {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0x02,
                      0x00, 0x00, 0x0f, 0xac, 0x08}),
         true, kSecurityWPA3Personal, "two suites announced, one there: the one read counts"},
        {element(48, {0x01, 0x00, 0x00, 0x0f, 0xac, 0x04, 0xff, 0xff}), true, kSecurityUnknown,
         "65535 pairwise ciphers announced"},
        {element(221, {0x00, 0x50, 0xf2, 0x01, 0x01}), true, kSecurityUnknown,
         "a WPA element cut in its version"},
        {element(221, {0x00, 0x50}), false, kSecurityWEP, "a vendor element too short for an OUI"},
    };
    for (const Row& r : rows) {
        auto e = parse(r.elements);
        EXPECT_EQ(e.malformed, r.malformed) << r.what;
        EXPECT_EQ(securityCode(securityTraits(e, true)), r.code) << r.what;
    }
    // A second RSN element is ignored; so is a second WPA element.
    auto e = parse(concat({rsnElement({2}), rsnElement({8}), wpaElement({2}), wpaElement({1})}));
    EXPECT_EQ(e.rsnAkms, std::vector<SuiteSelector>{0x000FAC02});
    EXPECT_EQ(e.wpaAkms, std::vector<SuiteSelector>{0x0050F202});
    EXPECT_EQ(parseInformationElements(nullptr, 10).malformed, false);
}

}  // namespace
}  // namespace ww::linuxwifi
