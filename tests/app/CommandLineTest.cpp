#include <gtest/gtest.h>

#include <map>

#include "app/CommandLine.h"

namespace ww {
namespace {

CommandLineResult parse(std::vector<std::string> args,
                        std::map<std::string, std::string> env = {}) {
    return parseCommandLine(args, [&env](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    });
}

// Both value forms; the environment fills only what the command line leaves
// open, and an empty variable counts as unset.
TEST(CommandLineTest, ValuesFromTheCommandLineThenTheEnvironment) {
    auto r = parse({"--once", "--json", "--tools-dir", "/t", "--wifi=sim:/w.plist"},
                   {{"WIREWATCH_WIFI", "sim:/x"},
                    {"WIREWATCH_TOOLS_DIR", "/env-tools"},
                    {"WIREWATCH_LOGS_DIR", ""},
                    {"WIREWATCH_POLICY", "/test/policy.plist"}});
    ASSERT_EQ(r.error, "");
    EXPECT_TRUE(r.options.once && r.options.json && !r.options.dryRun);
    EXPECT_EQ(r.options.toolsDir, "/t");
    EXPECT_EQ(r.options.wifi, "sim:/w.plist");
    EXPECT_EQ(r.options.policy, "/test/policy.plist");
    EXPECT_FALSE(r.options.logsDir.has_value());
}

TEST(CommandLineTest, LinesAcceptedOrRefusedWithAClearMessage) {
    struct Case {
        std::vector<std::string> args;
        const char* needle;  // nullptr: accepted
    };
    const Case cases[] = {
        {{"--interfaces", "--json"}, nullptr},  // --json goes with an inspecting mode too
        {{"--status", "--json"}, nullptr},
        {{"--status=today"}, "option '--status' takes no value"},
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
        if (!c.needle) {
            EXPECT_EQ(r.error, "") << c.args[0];
            continue;
        }
        EXPECT_NE(r.error.find(c.needle), std::string::npos) << r.error;
        EXPECT_NE(r.error.find("--help"), std::string::npos);
    }
}

}  // namespace
}  // namespace ww
