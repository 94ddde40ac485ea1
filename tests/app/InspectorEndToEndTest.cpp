// The built program's inspecting modes: `wirewatch --interfaces [--json]` over
// captured tool output, and `wirewatch --status [--json]` over an audit file.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "platform/foundation/Text.h"
#include "tests/support/app_TestSupport.h"

namespace ww::test {
namespace {

// A Linux desk: a docked USB Ethernet adapter, Wi-Fi, an iPhone sharing its
// connection over USB, a Docker bridge and a VPN tunnel.
const std::string kDesk = std::string(WW_SOURCE_ROOT) + "/tests/fixtures/discovery/linux-desk/";
using V = plist::Value;

class InspectorEndToEndTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tools = writeCapturedTools(dir, kDesk, kDesk + "ifconfig.txt");
        ASSERT_FALSE(tools.empty());
        logs = dir.file("logs");
        file::makeDirectories(logs);
    }

    void writePrefs(const plist::Value::Dictionary& keys) {
        writePlist(dir.file("prefs.plist"), keys, 0600);
    }

    ProgramRun run(const std::string& mode) {
        // A policy of our own: the machine's may not leak in.
        return runAgent(dir, mode + " --tools-dir '" + tools + "' --prefs '" +
                                 dir.file("prefs.plist") + "' --policy '" +
                                 dir.file("policy.plist") + "' --logs-dir '" + logs + "'");
    }

    static std::string today() {
        std::time_t now = std::time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        char buf[16];
        std::strftime(buf, sizeof buf, "%Y-%m-%d", &tm);
        return buf;
    }

    TempDir dir;
    std::string tools, logs;
};

TEST_F(InspectorEndToEndTest, InterfacesWithAnOverrideAsTextAndAsJson) {
    writePrefs({{"InterfaceOverrides",
                 V::dictionary({{"docker0", V::string("wired")}, {"usb0", V::string("ignore")}})}});

    // Each interface on a line, the user's overrides applied (how each one is
    // classified is the inventory's tests').
    ProgramRun text = run("--interfaces");
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 7) << text.out;
    EXPECT_NE(text.out.find("\ndocker0: wired (overridden; automatically not counted"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("\nusb0 \"iPhone USB\": not counted (overridden;"), std::string::npos)
        << text.out;

    ProgramRun json = run("--interfaces --json");
    ASSERT_EQ(json.status, 0) << json.err;
    auto doc = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << json.out;
    ASSERT_EQ(doc["interfaces"].size(), 7u);
    EXPECT_EQ(doc["interfaces"][5]["name"], "docker0");
    EXPECT_EQ(doc["interfaces"][5]["override"], "wired");
    // Nothing is logged or acted on: the log folder stays empty.
    EXPECT_TRUE(listDir(logs).empty());
}

TEST_F(InspectorEndToEndTest, ThePolicysOverridesWinOverTheUsersAsInTheAgent) {
    if (::getuid() != 0) GTEST_SKIP() << "a policy must be owned by root";
    writePrefs({{"InterfaceOverrides", V::dictionary({{"docker0", V::string("wired")}})}});
    writePlist(dir.file("policy.plist"),
               {{"InterfaceOverrides", V::dictionary({{"enx00e04c680001", V::string("ignore")}})}});

    ProgramRun text = run("--interfaces");
    ASSERT_EQ(text.status, 0) << text.err;
    // The policy's dictionary replaces the user's whole.
    EXPECT_NE(text.out.find("enx00e04c680001 \"USB 10/100/1000 LAN\": not counted (overridden; "
                            "automatically wired"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("docker0: not counted (virtual"), std::string::npos) << text.out;
    auto doc = nlohmann::json::parse(run("--interfaces --json").out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded());
    EXPECT_EQ(doc["interfaces"][3]["override"], "ignore");
    EXPECT_EQ(doc["interfaces"][5]["override"], "automatic");

    // A policy the agent would refuse is refused here too, and says so.
    ASSERT_EQ(::chown(dir.file("policy.plist").c_str(), 65534, 65534), 0);
    ProgramRun refused = run("--interfaces");
    ASSERT_EQ(refused.status, 0) << refused.err;
    EXPECT_NE(refused.out.find("docker0: wired (overridden;"), std::string::npos) << refused.out;
    EXPECT_NE(refused.out.find("enx00e04c680001 \"USB 10/100/1000 LAN\": wired (hardware"),
              std::string::npos)
        << refused.out;
    EXPECT_NE(refused.err.find("is ignored: it is owned by uid 65534, not by root"),
              std::string::npos)
        << refused.err;
}

TEST_F(InspectorEndToEndTest, StatusReadsTodaysFiguresThePauseAndSkipsDamagedLines) {
    // A pause that has ended is no pause; one an hour ahead (a property-list
    // date: seconds since 2001) is said.
    const double inAnHour = static_cast<double>(std::time(nullptr)) + 3600 - 978307200.0;
    writePrefs({{"ProtectionPausedUntil", V::date(inAnHour - 7200)}});
    ProgramRun none = run("--status");
    ASSERT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(none.out, "0 exposures today\n");
    writePrefs({{"ProtectionPausedUntil", V::date(inAnHour)}});
    ProgramRun paused = run("--status");
    auto lines = text::split(paused.out, '\n');
    ASSERT_EQ(lines.size(), 3u) << paused.out;
    EXPECT_EQ(lines[0], "0 exposures today");
    EXPECT_TRUE(std::string(lines[1]).starts_with("protection paused until ")) << paused.out;

    writePrefs({});
    writeFile(logs + "/exposure-audit.jsonl",
              "{\"date\":\"2001-01-01\",\"exposures\":9,\"longest_seconds\":5.0}\n"
              "{\"date\":\"" +
                  today() +
                  "\",\"exposures\":2,\"longest_seconds\":0.0641,\"total_seconds\":0.09,"
                  "\"intervals\":[]}\n"
                  "{\"date\":\"" +
                  today() + "\",\"expos\n");
    ProgramRun two = run("--status");
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(two.out, "2 exposures today, longest 0.06 s\n");

    ProgramRun json = run("--status --json");
    ASSERT_EQ(json.status, 0) << json.err;
    auto doc = nlohmann::json::parse(json.out, nullptr, false);
    ASSERT_FALSE(doc.is_discarded()) << json.out;
    EXPECT_EQ(doc["date"], today());
    EXPECT_EQ(doc["exposures"], 2);
    EXPECT_DOUBLE_EQ(doc["longest_seconds"].get<double>(), 0.064);
    EXPECT_TRUE(doc["paused_until"].is_null());
}

}  // namespace
}  // namespace ww::test
