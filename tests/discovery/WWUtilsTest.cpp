#include <gtest/gtest.h>

#include "discovery/WWUtils.h"
#include "tests/support/reachability_Netns.h"

namespace ww {
namespace {

TEST(WWUtils, HasValue) {
    EXPECT_FALSE(WWUtils::hasValue(std::nullopt));
    EXPECT_FALSE(WWUtils::hasValue(std::string()));
    EXPECT_TRUE(WWUtils::hasValue(std::string(" ")));
    EXPECT_TRUE(WWUtils::hasValue(std::string("x")));
}

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

TEST(WWUtils, DoesContainSubstring) {
    EXPECT_TRUE(WWUtils::doesContainSubstring("My iPhone", std::string("IPHONE")));
    EXPECT_TRUE(WWUtils::doesContainSubstring("abc", std::string("abc")));
    EXPECT_FALSE(WWUtils::doesContainSubstring("abc", std::string("abcd")));
    EXPECT_FALSE(WWUtils::doesContainSubstring("", std::string("a")));
    EXPECT_FALSE(WWUtils::doesContainSubstring("abc", std::string()));
    EXPECT_FALSE(WWUtils::doesContainSubstring("abc", std::nullopt));
}

TEST(WWUtils, FilterSystemIP) {
    std::vector<std::string> in = {"127.0.0.1",       "::1",        "fe80::1%lo", "192.168.1.20",
                                   "::ffff:10.0.0.5", "10.1.2.3.4", "1270.1.1.1", "10.0.0.7"};
    EXPECT_EQ(WWUtils::filterSystemIP(in),
              (std::vector<std::string>{"192.168.1.20", "::ffff:10.0.0.5", "10.0.0.7"}));
}

TEST(WWUtils, GetSystemIPInANetworkNamespace) {
    test::Netns ns("wwutils");
    if (!ns.available()) GTEST_SKIP() << "needs a network namespace: " << ns.whyUnavailable();
    auto systemIP = [&] {
        bool entered = false;
        auto ips = ns.inside([] { return WWUtils::getSystemIP(); }, entered);
        EXPECT_TRUE(entered);
        return ips;
    };
    EXPECT_TRUE(systemIP().empty()) << "loopback only";
    ASSERT_TRUE(ns.addVethPair("wwd0", "wwd1"));
    ASSERT_EQ(ns.ip("addr add 198.51.100.7/24 dev wwd0"), 0);
    ASSERT_EQ(ns.ip("addr add 2001:db8::7/64 dev wwd0"), 0);
    EXPECT_EQ(systemIP(), std::vector<std::string>{"198.51.100.7"});
}

}  // namespace
}  // namespace ww
