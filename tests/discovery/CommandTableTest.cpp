#include <gtest/gtest.h>

#include <filesystem>

#include "DiscoveryTestSupport.h"
#include "discovery/CommandTable.h"
#include "discovery/ShellCommand.h"

namespace ww {
namespace {

TEST(CommandTable, ShellQuoteKeepsAnyTextOneWord) {
    for (std::string text : {"", "plain", "two words", "it's", "''", "$(touch pwned)", "`id`",
                             "a\\b", "semi;colon", "new\nline", "*?[]", "~user", "$HOME"}) {
        auto r = runShellCommand("printf '%s' " + shellQuote(text), "test");
        EXPECT_EQ(r.output, text) << shellQuote(text);
    }
}

// A folder whose name would run something if it were pasted unquoted: each
// line runs its tool with the arguments of the platform's line.
TEST(CommandTable, HostileToolsDirectoryRunsOnlyTheTool) {
    test::TempDir base;
    const std::string marker = base.path() + "/pwned";
    const std::string dir =
        base.path() + "/to ols'; touch " + marker + "; echo '$(touch " + marker + ")";
    std::filesystem::create_directories(dir);
    for (const char* tool : {"ifconfig", "system_profiler", "networksetup", "airport"}) {
        test::writeFile(dir + "/" + tool, std::string("#!/bin/sh\necho ") + tool + " \"$@\"\n",
                        0700);
    }
    auto c = CommandTable::forToolsDirectory(dir);
    EXPECT_EQ(runShellCommand(c.ifconfig, "test").output, "ifconfig\n");
    EXPECT_EQ(runShellCommand(c.systemProfiler, "test").output,
              "system_profiler -xml SPNetworkDataType -detailLevel mini\n");
    EXPECT_EQ(runShellCommand(c.networksetup, "test").output,
              "networksetup -listallhardwareports\n");
    EXPECT_EQ(runShellCommand(c.airport, "test").output, "airport -I\n");
    EXPECT_FALSE(std::filesystem::exists(marker));
}

TEST(CommandTable, DefaultToolsDirectory) {
    {
        test::ScopedEnv set("WIREWATCH_TOOLS_DIR", "/somewhere/else");
        EXPECT_EQ(defaultToolsDirectory(), "/somewhere/else");
    }
    test::ScopedEnv unset("WIREWATCH_TOOLS_DIR", std::nullopt);
    auto exe = std::filesystem::read_symlink("/proc/self/exe");
    EXPECT_EQ(defaultToolsDirectory(),
              (exe.parent_path().parent_path() / "libexec" / "wirewatch").string());
}

}  // namespace
}  // namespace ww
