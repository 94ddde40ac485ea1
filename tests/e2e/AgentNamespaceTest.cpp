// The agent end to end in a network namespace: the real program with the real
// tools, a wired veth end and a Wi-Fi veth end mirrored by the simulated
// Wi-Fi. Every reaction must come from the network change itself, not from
// the five-second timer: the agent's first timer tick comes five seconds after
// its banner, and each reaction here must be logged well before that.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "tests/support/e2e_AgentInNamespace.h"

namespace ww::test {
namespace {

using namespace std::chrono_literals;

// The first timer tick comes at least this long after the banner; reactions
// to a change must come well before it.
constexpr long long kFirstTickMillis = 5000;
constexpr long long kTriggeredBeforeMillis = 4000;
// A triggered check reacts within tens of milliseconds; this leaves room for
// a loaded machine and sanitizer builds.
constexpr long long kReactionLimitMillis = 2000;

bool allAre(const std::vector<std::string>& operations, std::size_t from, const std::string& op) {
    return operations.size() > from &&
           std::all_of(operations.begin() + static_cast<long>(from), operations.end(),
                       [&](const std::string& o) { return o == op; });
}

class AgentNamespaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        struct stat st {};
        ASSERT_EQ(::stat((buildDir() + "/bin/wirewatch").c_str(), &st), 0)
            << "WW_BUILD_DIR must point at a build tree with bin/wirewatch";
        agent = std::make_unique<AgentInNamespace>("wwe2e");
        if (!agent->available()) {
            GTEST_SKIP() << "the agent's namespace tests need a network namespace: "
                         << agent->whyUnavailable();
        }
    }

    void launch(const AgentInNamespace::Settings& settings) {
        std::string error;
        ASSERT_TRUE(agent->prepare(settings, error)) << error;
        ASSERT_TRUE(agent->start(error)) << error;
        banner = *agent->banner();
        // Nothing has happened yet: no check ran, Wi-Fi is joined.
        ASSERT_EQ(agent->checksSoFar(), 0);
        ASSERT_TRUE(agent->operations().empty());
        ASSERT_EQ(agent->ipv4Addresses(kWifiDevice), std::vector<std::string>{kWifiAddress});
    }

    // Adds or removes the wired address and waits until the sim has recorded
    // a further operation (and, when `associated`, has joined a network).
    void changeWired(bool present, bool associated = false,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::size_t before = agent->operations().size();
        ASSERT_TRUE(agent->setWiredAddress(present, &changed));
        ASSERT_TRUE(agent->waitForSim(
            [&](const sim::SimWifiState& s, const std::vector<std::string>& ops) {
                return ops.size() > before && (!associated || s.ssid.has_value());
            },
            after(limit)))
            << agent->agentStderr();
    }

    // Checks that the first `line` after `changed` came from the change: soon
    // after it, and well before the first timer tick.
    void expectTriggered(const std::string& line) {
        // Log stamps are cut to whole milliseconds.
        auto reaction = agent->firstLine(line, changed - 1ms);
        ASSERT_TRUE(reaction.has_value()) << "no line \"" << line << "\" after the change";
        EXPECT_LT(millisBetween(changed, *reaction), kReactionLimitMillis);
        EXPECT_LT(millisBetween(banner, *reaction), kTriggeredBeforeMillis)
            << "the reaction came too late to tell it from the first timer tick";
    }

    // The next change waits until no check has run for half a second (the
    // previous reaction's own changes start one more), so that no late check
    // can take the credit for what follows.
    void settle() { ASSERT_TRUE(agent->waitUntilIdle(500ms, after(10s))); }

    std::unique_ptr<AgentInNamespace> agent;
    SystemTime banner, changed;
};

// With the installed default tools the agent answers the four command lines
// in-process (the built-in stand-ins); rule 1 below runs the programs.
TEST_F(AgentNamespaceTest, RuleZeroDisconnectsWiFiAsSoonAsTheWiredAddressArrives) {
    AgentInNamespace::Settings settings{"0", "1", {}};
    settings.defaultTools = true;
    ASSERT_NO_FATAL_FAILURE(launch(settings));
    ASSERT_NO_FATAL_FAILURE(changeWired(true));
    expectTriggered(kDisconnectLine);
    // Disconnected, still powered; a later check may disconnect again (the
    // removed address is itself a change), but it never touches the power.
    EXPECT_TRUE(allAre(agent->operations(), 0, "disassociate"));
    auto state = agent->simState();
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->power);
    EXPECT_FALSE(state->ssid);
    EXPECT_TRUE(agent->ipv4Addresses(kWifiDevice).empty());
    EXPECT_TRUE(agent->isUp(kWifiDevice));
    // And back: joined again.
    ASSERT_NO_FATAL_FAILURE(changeWired(false, true));
    EXPECT_EQ(agent->stop(), 0) << agent->agentStderr();
    for (const auto& line : agent->logLines()) {
        EXPECT_EQ(line.text.find("could not run"), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find("error is"), std::string::npos) << line.text;
    }
}

TEST_F(AgentNamespaceTest, RuleOneSwitchesWiFiOffAndBackOnWhenTheWiredAddressGoes) {
    ASSERT_NO_FATAL_FAILURE(launch({"1", "1", {}}));
    // Wired arrives: Wi-Fi's device goes down and loses its address.
    ASSERT_NO_FATAL_FAILURE(changeWired(true));
    expectTriggered(kPowerOffLine);
    EXPECT_TRUE(allAre(agent->operations(), 0, "setPower:0"));
    auto state = agent->simState();
    ASSERT_TRUE(state);
    EXPECT_FALSE(state->power);
    EXPECT_FALSE(state->ssid);
    EXPECT_FALSE(agent->isUp(kWifiDevice));
    EXPECT_TRUE(agent->ipv4Addresses(kWifiDevice).empty());

    settle();
    if (HasFatalFailure()) return;
    std::size_t before = agent->operations().size();
    // Wired goes: nothing is connected, so Wi-Fi power comes back on and the
    // radio re-joins its network.
    ASSERT_NO_FATAL_FAILURE(changeWired(false, true));
    expectTriggered(kPowerOnLine);
    EXPECT_TRUE(allAre(agent->operations(), before, "setPower:1"));
    state = agent->simState();
    ASSERT_TRUE(state);
    EXPECT_TRUE(state->power);
    EXPECT_EQ(state->ssid, std::optional<std::string>(kWifiSsid));
    EXPECT_EQ(state->bssid, std::optional<std::string>(kWifiBssid));
    EXPECT_TRUE(agent->isUp(kWifiDevice));
    EXPECT_EQ(agent->ipv4Addresses(kWifiDevice), std::vector<std::string>{kWifiAddress});
    EXPECT_TRUE(agent->ipv4Addresses(kWiredDevice).empty());
    EXPECT_EQ(agent->stop(), 0) << agent->agentStderr();
}

// The control for the timing checks above: with the monitor turned off the
// same change waits for the first timer tick.
TEST_F(AgentNamespaceTest, WithoutTheMonitorTheTimerTickReacts) {
    ASSERT_NO_FATAL_FAILURE(launch({"0", "1", ""}));
    EXPECT_FALSE(agent->hasThread("ww.reachability"));
    ASSERT_NO_FATAL_FAILURE(changeWired(true, false, 20s));
    auto reaction = agent->firstLine(kDisconnectLine, changed - 1ms);
    ASSERT_TRUE(reaction);
    EXPECT_GE(millisBetween(banner, *reaction), kFirstTickMillis - 1);
    EXPECT_TRUE(agent->ipv4Addresses(kWifiDevice).empty());
    EXPECT_EQ(agent->stop(), 0) << agent->agentStderr();
}

}  // namespace
}  // namespace ww::test
