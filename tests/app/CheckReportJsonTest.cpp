// The --json report's texts: whatever bytes a network names itself with, the
// output is valid JSON and each byte that is not UTF-8 becomes one U+FFFD.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/CheckReportJson.h"

namespace ww {
namespace {

TEST(CheckReportJsonTest, EachBadByteBecomesOneReplacementCharacter) {
    const std::string r = "\xEF\xBF\xBD";
    struct Case {
        const char* what;
        std::string ssid;
        std::string expected;
    };
    const Case cases[] = {
        {"quotes, a new line and an escape stay", "evil\"},\n\x1B[2J\\u0000",
         "evil\"},\n\x1B[2J\\u0000"},
        {"valid text stays", "Caf\xC3\xA9 \xF0\x9F\x93\xB6", "Caf\xC3\xA9 \xF0\x9F\x93\xB6"},
        {"a real U+FFFD stays", "a" + r + "b", "a" + r + "b"},
        {"truncated three-byte sequence", "Caf\xE2\x82 X", "Caf" + r + r + " X"},
        {"truncated at the end", "Caf\xE2\x82", "Caf" + r + r},
        {"truncated four-byte sequence", "x\xF0\x9F\x93y", "x" + r + r + r + "y"},
        {"overlong slash",
         "a\xC0\xAF"
         "b",
         "a" + r + r + "b"},
        {"overlong three-byte NUL",
         "a\xE0\x80\x80"
         "b",
         "a" + r + r + r + "b"},
        {"surrogate",
         "a\xED\xA0\x80"
         "b",
         "a" + r + r + r + "b"},
        {"above U+10FFFF",
         "a\xF4\x90\x80\x80"
         "b",
         "a" + r + r + r + r + "b"},
        {"lone continuation byte",
         "a\x80"
         "b",
         "a" + r + "b"},
        {"two continuation bytes", "\x80\xBF", r + r},
        {"bytes that never start a character", "\xFE\xFF", r + r},
    };
    CheckReport report;
    report.showsWiFi = true;
    report.wifi.present = true;
    report.wifi.power = true;
    report.wifi.interfaceMode = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        report.wifi.ssid = c.ssid;
        report.menu = {"SSID: " + c.ssid};
        nlohmann::json j = nlohmann::json::parse(checkReportJson(report, {}), nullptr, false);
        ASSERT_FALSE(j.is_discarded());
        EXPECT_EQ(j["wifi"]["ssid"], c.expected);
        EXPECT_EQ(j["menu"][0], "SSID: " + c.expected);
    }
}

}  // namespace
}  // namespace ww
