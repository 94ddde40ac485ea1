#include <gtest/gtest.h>

#include <climits>

#include "menu/MenuTexts.h"
#include "menu/WiFiValueNames.h"

namespace ww {
namespace {

using namespace WWUtils;
using O = std::optional<std::string>;

// The last name of each table and the values just past it (and below it):
// whether a backend's code has a name at all is the Wi-Fi codes test's.
TEST(ValueNamesTest, EachTableEndsWhereItsNamesEnd) {
    EXPECT_EQ(stringForOpMode(3, 0), O("Host Access Point"));
    EXPECT_EQ(stringForOpMode(4, 0), std::nullopt);
    EXPECT_EQ(stringForOpMode(-1, 0), std::nullopt);
    EXPECT_EQ(stringForSecurityMode(15, 0), "OWE Transition");
    EXPECT_EQ(stringForSecurityMode(16, 0), "Unknown");
    EXPECT_EQ(stringForSecurityMode(-1, 0), "Unknown");
    EXPECT_EQ(stringForSecurityMode(INT64_MAX, 0), "Unknown");
    // Only the low 32 bits count: 2^32 + 4 names like 4.
    EXPECT_EQ(stringForSecurityMode((std::int64_t{1} << 32) + 4, 0), "WPA2 Personal");
    EXPECT_EQ(stringForPHYMode(0, 0), std::nullopt);
    EXPECT_EQ(stringForPHYMode(6, 0), O("802.11ax"));
    EXPECT_EQ(stringForPHYMode(7, 0), std::nullopt);
    EXPECT_EQ(stringForChannelBand(3), O("6 GHz"));
    EXPECT_EQ(stringForChannelBand(4), std::nullopt);
    EXPECT_EQ(stringForChannelWidth(5), O("320 MHz"));
    EXPECT_EQ(stringForChannelWidth(6), std::nullopt);
    // The reverse table is exact and knows only the old names.
    EXPECT_EQ(securityModeForString("802.1X WEP"), 6);
    EXPECT_EQ(securityModeForString("wep"), 0);
    EXPECT_EQ(securityModeForString("WPA3 Personal"), 0);
}

TEST(ValueNamesTest, OsVersion) {
    EXPECT_FLOAT_EQ(osVersionFromRelease("6.1.0-18-amd64"), 6.1f);
    EXPECT_FLOAT_EQ(osVersionFromRelease("5.15.0"), 5.15f);
    EXPECT_FLOAT_EQ(osVersionFromRelease("10.10"), 10.1f);  // minor written plainly, as on macOS
    EXPECT_FLOAT_EQ(osVersionFromRelease("garbage"), 0.0f);
    EXPECT_EQ(osVersionString("NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
                              "6.1.0"),
              "Debian GNU/Linux 12 (bookworm), kernel 6.1.0");
    EXPECT_EQ(osVersionString("", "6.1.0"), "Linux, kernel 6.1.0");
    EXPECT_GT(GetOSVersion(), 0.0f);
}

// Absent and out-of-range values, and rates no integer holds.
TEST(ValueNamesTest, MenuTexts) {
    EXPECT_EQ(menuTexts::channelText(std::nullopt), "0/Unknown (Unknown)");
    EXPECT_EQ(menuTexts::channelText(WiFiChannel{37, 4, 6}), "37/Unknown (Unknown)");
    EXPECT_EQ(menuTexts::transmitRate(true, -1.9), "Transmit Rate: -1 Mbps");
    EXPECT_EQ(menuTexts::transmitRate(true, 1e300), "Transmit Rate: 0 Mbps");
    EXPECT_EQ(menuTexts::transmitRate(false, 866.7), "Transmit Rate:");
    EXPECT_EQ(menuTexts::opMode(true, std::nullopt), "Op Mode:");
    EXPECT_EQ(menuTexts::mcsIndex(true, std::string("")), "MCS Index: ");
    EXPECT_EQ(menuTexts::mcsIndex(false, std::string("9")), "MCS Index: N/A");
}

}  // namespace
}  // namespace ww
