#include <gtest/gtest.h>

#include "discovery/WWUtils.h"

namespace ww {
namespace {

TEST(WWUtils, NormalizeMAC) {
    const std::vector<std::pair<std::optional<std::string>, std::string>> cases = {
        {std::nullopt, ""},
        {"", ""},
        {"a:b:c", "0A:0B:0C"},
        {"00:1C:42:AA:BB:CC", "00:1C:42:AA:BB:CC"},
        {"0:1c:42:a:b:ff", "00:1C:42:0A:0B:FF"},
        {"4c:43:41:4:1c:bc", "4C:43:41:04:1C:BC"},
        {":a:b", "0A:0B"},
        {"a::b", "0A::0B"},
        {"a:", "0A:"},
        {"abc:d", "ABC:0D"},
        {"f", "0F"},
        {"no colons here", "NO COLONS HERE"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(WWUtils::normalizeMAC(in), out) << in.value_or("(absent)");
    }
}

}  // namespace
}  // namespace ww
