#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <thread>

#include "discovery/ShellCommand.h"
#include "discovery/WWUtils.h"

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

// Runs `body` on a thread of its own that has entered the named network
// namespace (a namespace is per thread for network calls).
template <typename Body>
void inNamespace(const std::string& name, Body body) {
    std::thread t([&] {
        int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::setns(fd, CLONE_NEWNET), 0);
        ::close(fd);
        body();
    });
    t.join();
}

TEST(WWUtils, GetSystemIPInANetworkNamespace) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace";
    std::string ns = "wwutils-" + std::to_string(::getpid());
    auto r = runShellCommand("ip netns add " + ns, "test");
    if (!r.error || !r.error->empty())
        GTEST_SKIP() << "ip netns add failed: " << r.error.value_or("");
    struct Cleanup {
        std::string ns;
        ~Cleanup() { runShellCommand("ip netns del " + ns, "test"); }
    } cleanup{ns};

    runShellCommand("ip -n " + ns + " link set lo up", "test");
    inNamespace(ns, [] { EXPECT_TRUE(WWUtils::getSystemIP().empty()) << "loopback only"; });

    r = runShellCommand("ip -n " + ns + " link add wwd0 type veth peer name wwd1 && ip -n " + ns +
                            " addr add 198.51.100.7/24 dev wwd0 && ip -n " + ns +
                            " addr add 2001:db8::7/64 dev wwd0 && ip -n " + ns +
                            " link set wwd0 up",
                        "test");
    ASSERT_EQ(r.error, "");
    inNamespace(
        ns, [] { EXPECT_EQ(WWUtils::getSystemIP(), std::vector<std::string>{"198.51.100.7"}); });
}

}  // namespace
}  // namespace ww
