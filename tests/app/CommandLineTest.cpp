#include "app/CommandLine.h"

#include <gtest/gtest.h>

#include <map>

namespace ww {
namespace {

CommandLineResult parse(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    return parseCommandLine(args, [&env](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    });
}

TEST(CommandLineTest, OptionsAndValues) {
    auto r = parse({"--once", "--json", "--dry-run", "--tools-dir", "/t", "--wifi=sim:/w.plist",
                    "--prefs", "/p", "--policy=/etc/x.plist", "--logs-dir=/l", "--usb-root",
                    "/fake"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.once);
    EXPECT_TRUE(r.options.json);
    EXPECT_TRUE(r.options.dryRun);
    EXPECT_FALSE(r.options.hashPassword);
    EXPECT_EQ(r.options.policy, "/etc/x.plist");
    EXPECT_FALSE(r.options.headless);
    EXPECT_EQ(r.options.toolsDir, "/t");
    EXPECT_EQ(r.options.wifi, "sim:/w.plist");
    EXPECT_EQ(r.options.prefs, "/p");
    EXPECT_EQ(r.options.logsDir, "/l");
    EXPECT_EQ(r.options.usbRoot, "/fake");
}

TEST(CommandLineTest, InspectingModes) {
    auto r = parse({"--interfaces", "--json", "--prefs", "/p"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.interfaces);
    EXPECT_TRUE(r.options.json);
    EXPECT_FALSE(r.options.status);
    r = parse({"--status"});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.status);
    EXPECT_FALSE(r.options.json);
    EXPECT_NE(parse({"--status=today"}).error.find("option '--status' takes no value"),
              std::string::npos);
}

TEST(CommandLineTest, EnvironmentFillsWhatTheCommandLineLeavesOpen) {
    auto r = parse({"--headless", "--wifi", "none"},
                   {{"WIREWATCH_WIFI", "sim:/x"}, {"WIREWATCH_TOOLS_DIR", "/env-tools"},
                    {"WIREWATCH_LOGS_DIR", ""}, {"WIREWATCH_POLICY", "/test/policy.plist"}});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.policy, "/test/policy.plist");
    EXPECT_EQ(r.options.wifi, "none");
    EXPECT_EQ(r.options.toolsDir, "/env-tools");
    EXPECT_FALSE(r.options.logsDir.has_value());  // an empty variable counts as unset
}

TEST(CommandLineTest, BadCommandLinesGiveAClearMessage) {
    struct Case {
        std::vector<std::string> args;
        const char* needle;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-x"}, "unknown option '-x'"},
        {{"stray"}, "unexpected argument 'stray'"},
        {{"--tools-dir"}, "option '--tools-dir' needs a value"},
        {{"--wifi="}, "needs a non-empty value"},
        {{"--once=yes"}, "option '--once' takes no value"},
        {{"--json"}, "option '--json' needs '--once'"},
        {{"--policy"}, "option '--policy' needs a value"},
    };
    for (const auto& c : cases) {
        auto r = parse(c.args);
        EXPECT_NE(r.error.find(c.needle), std::string::npos) << r.error;
        EXPECT_NE(r.error.find("--help"), std::string::npos);
    }
}

}  // namespace
}  // namespace ww
