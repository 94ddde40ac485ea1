// The exposure audit end to end: the real agent in a network namespace with
// the simulated Wi-Fi, its audit file read as `wirewatch --status` reads it,
// and the agent's reaction measured from outside.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/ExposureAudit.h"
#include "tests/support/e2e_AgentInNamespace.h"

namespace ww::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kBothNoRuleLine =
    "AppDelegate: both wired & wireless are connected, and no rule is configured...";

class ExposureAuditNamespaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        struct stat st {};
        ASSERT_EQ(::stat((buildDir() + "/bin/wirewatch").c_str(), &st), 0)
            << "WW_BUILD_DIR must point at a build tree with bin/wirewatch";
        agent = std::make_unique<AgentInNamespace>("wwaud");
        if (!agent->available()) {
            GTEST_SKIP() << "the exposure audit's namespace tests need a network namespace: "
                         << agent->whyUnavailable();
        }
    }

    void launch(const std::string& rule) {
        std::string error;
        ASSERT_TRUE(agent->prepare({rule, "1", {}}, error)) << error;
        ASSERT_TRUE(agent->start(error)) << error;
    }

    std::string auditPath() const { return agent->logsDir() + "/" + ExposureAudit::kFileName; }

    // The recorded exposures of today, once there are `count` of them.
    std::vector<Exposure> waitForExposures(std::size_t count) {
        std::vector<Exposure> found;
        FolderWatch watch(agent->logsDir());
        watch.waitFor(
            [&] {
                found.clear();
                for (auto& day : ExposureAudit::readFile(auditPath())) {
                    for (auto& e : day.intervals) found.push_back(e);
                }
                return found.size() >= count;
            },
            after(10s));
        return found;
    }

    // Waits for a line containing `text` stamped after `since`.
    bool waitForLine(const std::string& text, SystemTime since) {
        FolderWatch watch(agent->logsDir());
        return watch.waitFor([&] { return agent->firstLine(text, since).has_value(); }, after(10s));
    }

    std::unique_ptr<AgentInNamespace> agent;
};

TEST_F(ExposureAuditNamespaceTest, OneExposureAsLongAsTheReactionMeasuredFromOutside) {
    ASSERT_NO_FATAL_FAILURE(launch("0"));
    SystemTime changedAt;
    SteadyTime changed;
    SteadyTime seen;
    ASSERT_TRUE(agent->setWiredAddress(true, &changedAt, &changed));
    ASSERT_TRUE(agent->waitForSim(
        [&](const sim::SimWifiState&, const std::vector<std::string>& ops) {
            seen = std::chrono::steady_clock::now();
            return !ops.empty() && ops.front() == "disassociate";
        },
        after(10s)))
        << agent->agentStderr();
    // The disconnect's moment from outside the agent: when the simulated
    // device's file was written, by the file system's clock. (When this test
    // woke to see it depends on the scheduler under load.)
    struct stat st {};
    ASSERT_EQ(::stat(agent->simPath().c_str(), &st), 0);
    const SystemTime written{std::chrono::duration_cast<SystemTime::duration>(
        std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec))};
    const double outside = std::chrono::duration<double>(written - changedAt).count();
    const double woke = std::chrono::duration<double>(seen - changed).count();

    auto exposures = waitForExposures(1);
    ASSERT_EQ(exposures.size(), 1u) << readFile(auditPath());
    EXPECT_EQ(exposures[0].endedBy, "Wi-Fi disconnected by the rule");
    EXPECT_TRUE(exposures[0].startFromChange);
    std::printf("exposure %.4f s, reaction seen from outside %.4f s (test woke after %.4f s)\n",
                exposures[0].seconds, outside, woke);
    EXPECT_NEAR(exposures[0].seconds, outside, 0.020)
        << "exposure " << exposures[0].seconds << " s, reaction seen from outside " << outside
        << " s";
    EXPECT_EQ(agent->stop(), 0) << agent->agentStderr();
    // The later checks saw Wi-Fi gone: still one exposure.
    EXPECT_EQ(waitForExposures(1).size(), 1u);
}

// Without a rule an exposure lasts until the wired link goes; a kill loses
// only the one still open.
TEST_F(ExposureAuditNamespaceTest, WithoutARuleTheExposureLastsUntilTheWiredLinkGoes) {
    ASSERT_NO_FATAL_FAILURE(launch("-1"));
    SteadyTime added, removed;
    SystemTime at;
    ASSERT_TRUE(agent->setWiredAddress(true, &at, &added));
    ASSERT_TRUE(waitForLine(kBothNoRuleLine, at - 1ms)) << agent->agentStderr();
    EXPECT_TRUE(ExposureAudit::readFile(auditPath()).empty()) << "still open, not yet counted";

    ASSERT_TRUE(agent->setWiredAddress(false, nullptr, &removed));
    auto exposures = waitForExposures(1);
    ASSERT_EQ(exposures.size(), 1u) << agent->agentStderr();
    EXPECT_EQ(exposures[0].endedBy, "wired link gone");
    const double between = std::chrono::duration<double>(removed - added).count();
    EXPECT_NEAR(exposures[0].seconds, between, 0.020);

    // A second exposure is open when the agent is killed.
    ASSERT_TRUE(agent->setWiredAddress(true, &at));
    ASSERT_TRUE(waitForLine(kBothNoRuleLine, at - 1ms)) << agent->agentStderr();
    agent->killHard();

    const std::string text = readFile(auditPath());
    auto days = ExposureAudit::readFile(auditPath());
    ASSERT_EQ(days.size(), 1u) << text;
    EXPECT_EQ(days[0].exposures, 1);
    EXPECT_EQ(days[0].intervals.size(), 1u);
    // Nothing half-written is left beside it (its lock file is no copy).
    const std::string prefix = std::string(ExposureAudit::kFileName) + ".";
    for (const auto& name : listDir(agent->logsDir())) {
        if (name == prefix + "lock") continue;
        EXPECT_FALSE(name.starts_with(prefix)) << name;
    }
}

}  // namespace
}  // namespace ww::test
