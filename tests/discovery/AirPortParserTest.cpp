#include <gtest/gtest.h>

#include "DiscoveryTestSupport.h"
#include "discovery/AirPortParser.h"
#include "discovery/NetworkInventory.h"

namespace ww {
namespace {

TEST(AirPortParser, FindsTheLastMcsLine) {
    const std::vector<
        std::tuple<const char*, std::optional<std::string>, std::optional<std::string>>>
        cases = {
            {"right-aligned label",
             "     agrCtlRSSI: -45\n            MCS: 9\n  guardInterval: 800\n", "9"},
            {"empty value", "MCS:\n", ""},
            {"first line", "MCS: 7\nSSID: x\nNSS: 2", "7"},
            {"trailing empty lines are skipped", "SSID: x\nMCS: 5\n\n\n", "5"},
            {"nearest the end wins", "MCS: 1\nMCS: 2\nchannel: 6\n", "2"},
            {"text after the line's first colon", "note: MCS: 3 \n", "MCS: 3"},
            {"case-sensitive", "mcs: 4\nMcs: 5\n", std::nullopt},
            {"no MCS line", "AirPort: Off\n", std::nullopt},
            {"empty output", "", std::nullopt},
            {"absent output", std::nullopt, std::nullopt},
            {"CRLF", "SSID: x\r\n            MCS: 11\r\n", "11"},
        };
    for (const auto& [what, text, expected] : cases) {
        EXPECT_EQ(parseAirPortMCS(text), expected) << what;
    }
}

TEST(ExecuteAirPortCommand, KeepsThePreviousValueWhenNoMcsLineComes) {
    NetworkState state;
    CommandTable commands;
    commands.airport = "cat '" + test::fixturePath("airport-off.txt") + "'";
    executeAirPortCommand(commands, state);
    EXPECT_FALSE(state.mcsInx.get().has_value()) << "absent until a line first came";

    commands.airport = "cat '" + test::fixturePath("airport-I.txt") + "'";
    executeAirPortCommand(commands, state);
    EXPECT_EQ(state.mcsInx.get(), "9");

    test::LogCapture log;
    for (const char* line : {"true", "/nonexistent/airport -I", "printf 'MCS: \\377'"}) {
        commands.airport = line;
        executeAirPortCommand(commands, state);
        EXPECT_EQ(state.mcsInx.get(), "9") << line;
    }
    EXPECT_EQ(log.linesContaining("error is").size(), 1u);
}

}  // namespace
}  // namespace ww
