#include "platform/foundation/Format.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace ww {
namespace {

struct Record {
    std::string name;
    std::string description() const { return "<" + name + ">"; }
};

TEST(FormatTest, NumericConversionsWithFlagsAndWidths) {
    struct Case {
        std::string got;
        const char* want;
    };
    const Case cases[] = {
        {format("%04ld-%02ld", 2026L, 7L), "2026-07"},
        {format("%03d", 7), "007"},
        {format("%04x", 0x5ac), "05ac"},
        {format("%x", 0x1A03u), "1a03"},
        {format("%X", 255), "FF"},
        {format("%u", 4000000000u), "4000000000"},
        {format("%lu", std::uint64_t{18446744073709551615ull}), "18446744073709551615"},
        {format("%i|%d", -5, -2147483647 - 1), "-5|-2147483648"},
        {format("%-4d|", 7), "7   |"},
        {format("%+d", 3), "+3"},
        {format("%.2f", 866.749), "866.75"},
        {format("%c%c", 'X', 'R'), "XR"},
        {format("100%%"), "100%"},
        {format("%s", "plain"), "plain"},
        {format("%5s|%-5s|", "ab", "cd"), "   ab|cd   |"},
        {format("%.3s", "abcdef"), "abc"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(FormatTest, AtSignTakesTextsRecordsAndAbsentValues) {
    EXPECT_EQ(format("%@", std::string("en0")), "en0");
    EXPECT_EQ(format("%@", std::optional<std::string>()), "(null)");
    EXPECT_EQ(format("%@", std::optional<std::string>("")), "");
    EXPECT_EQ(format("%@", "literal"), "literal");
    EXPECT_EQ(format("%@", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(format("%@", Record{"a"}), "<a>");
    EXPECT_EQ(format("%@", std::make_shared<Record>(Record{"b"})), "<b>");
    EXPECT_EQ(format("%@", std::shared_ptr<Record>()), "(null)");
    EXPECT_EQ(format("%@ dBm", -55), "-55 dBm");
    EXPECT_EQ(format("%@/%@", std::string("en0"), std::optional<std::string>("Ethernet")),
              "en0/Ethernet");
}

TEST(FormatTest, ListsAndTablesPrintOneEntryPerLine) {
    std::vector<std::shared_ptr<Record>> list = {std::make_shared<Record>(Record{"a"}),
                                                 std::make_shared<Record>(Record{"b"})};
    EXPECT_EQ(format("%@", list), "(\n    <a>,\n    <b>\n)");
    EXPECT_EQ(format("%@", std::vector<std::string>{}), "(\n)");
    std::map<std::string, std::shared_ptr<Record>> table = {
        {"en0", std::make_shared<Record>(Record{"x"})}};
    EXPECT_EQ(format("%@", table), "{\n    en0 = <x>;\n}");
    // Nested lists are indented one more step.
    std::vector<std::vector<std::string>> nested = {{"a"}};
    EXPECT_EQ(format("%@", nested), "(\n    (\n        a\n    )\n)");
}

TEST(FormatTest, OddFormatsNeverReadBeyondTheArguments) {
    EXPECT_EQ(format("%d %d %@"), "0 0 (null)");
    EXPECT_EQ(format("%@ %s", 5), "5 (null)");
    EXPECT_EQ(format("tail %"), "tail %");
    EXPECT_EQ(format("%q"), "%q");  // a length modifier with no conversion
    EXPECT_EQ(format("%y"), "%y");
    EXPECT_EQ(format("%d", std::string("12")), "0");
    // Widths are capped, so a hostile width cannot exhaust memory.
    EXPECT_LE(format("%999999999d", 1).size(), 5000u);
}

}  // namespace
}  // namespace ww
